// Ticket updates from three handhelds in any order, through the real server
// on a fresh SQLite store per input, sent as Sellin sends them; after each
// update the store's invariants are read straight from its database, and a
// broken one aborts:
//   - each purchaser's bought quantity lies within 0 and its need (buy_qty,
//     unless it buys without limit) and equals its starting value plus its
//     stored lines;
//   - no ticket holds more copies of a book than its session's transaction maximum;
//   - no ticket holds a line of another store's session;
//   - an ended ticket never changes.
// The input is read three bytes at a time: an operation letter (its value
// modulo 16, so 'a' to 'p' name them all) and two arguments x and y, which
// pick a handheld, book, line or quantity by their value modulo a small count
// (so digits '0' to '7' pick the first to the eighth):
//   h x  the handheld that acts next: buyer (store 1), manager (store 2), clerk (store 1)
//   l    log in afresh;  b x  check a buyer's password for the store (buyer, manager)
//   o    open a ticket;  e  end it;  k  void it (take all its lines back)
//   a x y  add a line: book x of the handheld's store's session, quantity y
//   f x y  the same on the other store's session
//   c x y  change line x to quantity y;  d x  delete line x
//   g    send the last update again;  i  its identity again with another quantity
//   n p  add, as a;  m  change, as c;  j  delete, as d;  other letters wrap onto these
// Each handheld starts as Sellin does: logged in, its buyer checked, a ticket open.
// Quantities by y: 1, 2, 3, -1, -2, 7, 1, 4.
#include <httplib.h>
#include <sqlite3.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "server/demo_data.h"
#include "server/services.h"
#include "server/storage/database.h"
#include "server/storage/migrations.h"
#include "server/store_server.h"
#include "wire/exchange.h"
#include "wire/framing.h"
#include "wire/layouts.h"
#include "wire/requests.h"
#include "wire/text.h"

namespace {

namespace storage = storeserver::storage;

constexpr std::size_t kMaxOperations = 48;
constexpr std::int64_t kQuantities[] = {1, 2, 3, -1, -2, 7, 1, 4};
constexpr std::int64_t kStores = 2;
constexpr std::int64_t kSessionOf[kStores] = {1002, 2001};  // each store's session with books, asking no student ID
constexpr std::int64_t kTransactionMax = 6;
constexpr std::size_t kBooksPerSession = 4;

[[noreturn]] void broken(const std::string& what) {
  std::fprintf(stderr, "ticket invariant broken: %s\n", what.c_str());
  std::abort();
}

struct Book {
  std::int64_t session = 0;
  std::string itemId, purchaser, price;
};

struct Credentials {
  const char* user;
  const char* password;
  std::int64_t store;
};
constexpr Credentials kBuyers[] = {{"buyer", "buyer1", 1}, {"manager", "manager1", 2}};
// Each logs in and checks its buyer, as Sellin starts; the clerk's handheld names the store's buyer.
struct HandheldSetup {
  Credentials login;
  const Credentials& buyer;
};
constexpr HandheldSetup kHandhelds[] = {
    {kBuyers[0], kBuyers[0]}, {kBuyers[1], kBuyers[1]}, {{"clerk", "clerk1", 1}, kBuyers[0]}};

// The demo store with one copy bought of every book of the two sessions, so
// a return can come first, and each session's first books given needs of 3,
// 1 and none left, and one bought without limit; and the server on it, for
// the whole run. Each input starts from the store as prepared: its pages are
// copied back under the idle server, which reads them at its next transaction.
class Store {
 public:
  Store() {
    const std::filesystem::path shm = "/dev/shm";  // no disk syncs where it exists
    std::string pattern =
        ((std::filesystem::is_directory(shm) ? shm : std::filesystem::temp_directory_path()) / "ticket-fuzz-XXXXXX")
            .string();
    if (!mkdtemp(pattern.data())) broken("no temporary directory");
    dir_ = pattern;
    if (!storeserver::initialiseCrypto()) broken("the password library cannot start");
    std::string error;
    auto db = storage::openDatabase(path(), error);
    if (!db) broken(error);
    storage::migrate(*db);
    storeserver::seedDemoData(*db, storeserver::PasswordCost::minimum());
    for (std::int64_t session : kSessionOf) prepareBooks(*db, session);
    db.reset();

    if (sqlite3_open_v2(path().c_str(), &live_, SQLITE_OPEN_READWRITE, nullptr) != SQLITE_OK ||
        sqlite3_open(":memory:", &prepared_) != SQLITE_OK)
      broken("the store cannot be opened for copying");
    sqlite3_busy_timeout(live_, 5000);
    copy(live_, prepared_);
    startServer();
  }
  ~Store() {
    server_.reset();
    sqlite3_close_v2(live_);
    sqlite3_close_v2(prepared_);
    std::error_code ignored;
    std::filesystem::remove_all(dir_, ignored);
  }

  void reset() const { copy(prepared_, live_); }
  std::string path() const { return (dir_ / "store.db").string(); }
  std::uint16_t port() const { return server_->port(); }
  const Book& book(std::int64_t store, std::size_t n) const {
    return books_[std::size_t(store - 1) * kBooksPerSession + n % kBooksPerSession];
  }

 private:
  static void copy(sqlite3* from, sqlite3* to) {
    sqlite3_backup* backup = sqlite3_backup_init(to, "main", from, "main");
    if (!backup || sqlite3_backup_step(backup, -1) != SQLITE_DONE || sqlite3_backup_finish(backup) != SQLITE_OK)
      broken(std::string("the store cannot be copied: ") + sqlite3_errmsg(to));
  }

  void startServer() {
    storeserver::ServerOptions options;
    options.port = 0;
    options.databasePath = path();
    options.ioThreads = 1;
    options.workerThreads = 2;
    options.passwordCost = storeserver::PasswordCost::minimum();
    options.logSink = [](std::string_view) {};
    std::string error;
    server_ = storeserver::StoreServer::start(options, error);
    if (!server_) broken(error);
  }

  void prepareBooks(storage::Connection& db, std::int64_t session) {
    db.execute("UPDATE buying_sessions SET tran_max_qty = ?, student_id_required = 0 WHERE session_id = ?",
               {kTransactionMax, session});
    db.execute("UPDATE book_purchasers SET bought_qty = 1, buy_qty = MAX(buy_qty, 1) WHERE session_id = ?", {session});
    const storage::Rows rows = db.query(
        "SELECT item_id, purchaser, buy_price_cents FROM book_purchasers WHERE session_id = ? AND buy_price_cents > 0"
        " ORDER BY item_id, purchaser LIMIT ?",
        {session, std::int64_t(kBooksPerSession)});
    if (rows.size() != kBooksPerSession) broken("too few books in session " + std::to_string(session));
    constexpr std::int64_t kBuy[kBooksPerSession] = {4, 2, 1, 0};
    for (std::size_t i = 0; i < rows.size(); ++i) {
      const storage::Row& r = rows[i];
      db.execute("UPDATE book_purchasers SET no_limit = ?, buy_qty = ?"
                 " WHERE session_id = ? AND item_id = ? AND purchaser = ?",
                 {std::int64_t(kBuy[i] == 0), kBuy[i], session, r[0], r[1]});
      books_.push_back({session, storage::textAt(r, 0), storage::textAt(r, 1),
                        wire::formatCents(storage::integerAt(r, 2))});
    }
  }

  std::filesystem::path dir_;
  std::vector<Book> books_;
  sqlite3* live_ = nullptr;
  sqlite3* prepared_ = nullptr;
  std::unique_ptr<storeserver::StoreServer> server_;
};

// The invariants, read from the database; ended tickets as first seen ended.
class Auditor {
 public:
  explicit Auditor(const std::string& database) {
    std::string error;
    db_ = storage::openDatabase(database, error);
    if (!db_) broken(error);
  }

  void check() {
    storage::Transaction read(*db_, storage::TxMode::Read);
    firstRow("SELECT p.session_id || ' ' || p.item_id || ' ' || p.purchaser || ': bought ' || p.bought_qty ||"
             " ', needs ' || p.buy_qty || ', its lines ' || COALESCE(SUM(l.qty), 0) FROM book_purchasers p"
             " LEFT JOIN ticket_lines l ON l.session_id = p.session_id AND l.item_id = p.item_id"
             " AND l.purchaser = p.purchaser WHERE p.session_id IN (?, ?)"
             " GROUP BY p.session_id, p.item_id, p.purchaser, p.bought_qty, p.buy_qty, p.no_limit"
             " HAVING p.bought_qty < 0 OR (p.no_limit = 0 AND p.bought_qty > p.buy_qty)"
             " OR p.bought_qty <> 1 + COALESCE(SUM(l.qty), 0)",
             {kSessionOf[0], kSessionOf[1]});
    firstRow("SELECT 'ticket ' || t.receipt || ' holds ' || SUM(l.qty) || ' of ' || l.item_id || ', at most '"
             " || s.tran_max_qty FROM ticket_lines l JOIN tickets t ON t.ticket_id = l.ticket_id"
             " JOIN buying_sessions s ON s.session_id = l.session_id"
             " GROUP BY t.receipt, l.session_id, l.item_id, s.tran_max_qty"
             " HAVING s.tran_max_qty > 0 AND SUM(l.qty) > s.tran_max_qty");
    firstRow("SELECT 'ticket ' || t.receipt || ' of store ' || t.store_num || ' holds line ' || l.line ||"
             " ' of session ' || s.session_id FROM ticket_lines l JOIN tickets t ON t.ticket_id = l.ticket_id"
             " JOIN buying_sessions s ON s.session_id = l.session_id WHERE s.store_num <> t.store_num");
    for (const storage::Row& r : db_->query("SELECT receipt FROM tickets WHERE is_open = 0")) {
      const std::string& receipt = storage::textAt(r, 0);
      const std::string now = ticketState(receipt);
      const auto [ended, first] = ended_.emplace(receipt, now);
      if (!first && ended->second != now)
        broken("ended ticket " + receipt + " changed from [" + ended->second + "] to [" + now + "]");
    }
    read.commit();
  }

 private:
  void firstRow(const char* sql, const std::vector<storage::Value>& params = {}) {
    const storage::Rows rows = db_->query(sql, params);
    if (!rows.empty()) broken(storage::textAt(rows[0], 0));
  }
  std::string ticketState(const std::string& receipt) {
    std::string state;
    for (const storage::Row& r : db_->query(
             "SELECT t.is_open || ' ' || COALESCE(l.line || ':' || l.item_id || 'x' || l.qty || '@' || l.price_cents,"
             " '') FROM tickets t LEFT JOIN ticket_lines l ON l.ticket_id = t.ticket_id WHERE t.receipt = ?"
             " ORDER BY l.line",
             {receipt}))
      state += storage::textAt(r, 0) + ";";
    return state;
  }

  std::unique_ptr<storage::Connection> db_;
  std::map<std::string, std::string> ended_;
};

struct LineSent {
  const Book* book;
  std::int64_t qty;
};

struct Update {
  std::string id;
  int packet = wire::kPacketNewItem;
  std::int64_t line = 0;  // 0: the whole ticket
  LineSent sent{};
};

struct Handheld {
  const Credentials* login;
  std::string token, buyer, receipt;
  std::map<std::int64_t, LineSent> lines;  // every line sent, whatever its answer
  std::optional<Update> last;
};

// One input's run: the three handhelds on the store as prepared.
class Floor {
 public:
  explicit Floor(const Store& store) : store_(store), auditor_(store.path()) {
    client_ = std::make_unique<httplib::Client>("127.0.0.1", store.port());
    client_->set_tcp_nodelay(true);
    client_->set_keep_alive(true);
    for (const HandheldSetup& setup : kHandhelds) {
      Handheld& h = handhelds_.emplace_back(Handheld{&setup.login, {}, {}, {}, {}, {}});
      logIn(h);
      prove(h, setup.buyer);
      open(h);
    }
  }

  void run(std::uint8_t op, std::uint8_t x, std::uint8_t y) {
    Handheld& h = handhelds_[current_];
    switch (op % 16) {
      case 'h' % 16: current_ = x % handhelds_.size(); return;
      case 'l' % 16: logIn(h); return;
      case 'b' % 16: prove(h, kBuyers[x % std::size(kBuyers)]); return;
      case 'o' % 16: open(h); return;
      case 'e' % 16: return updated(tran(h, wire::kPacketChange));
      case 'k' % 16: return updated(tran(h, wire::kPacketDelete));
      case 'f' % 16: return updated(add(h, otherStore(h), x, y));
      case 'c' % 16:
      case 'm' % 16: return updated(change(h, x, y, wire::kPacketChange));
      case 'd' % 16:
      case 'j' % 16: return updated(change(h, x, y, wire::kPacketDelete));
      case 'g' % 16: return updated(again(h, false));
      case 'i' % 16: return updated(again(h, true));
      default: return updated(add(h, h.login->store, x, y));
    }
  }

 private:
  void updated(bool sent) {
    if (sent) auditor_.check();
  }

  static std::int64_t otherStore(const Handheld& h) { return h.login->store % kStores + 1; }

  void logIn(Handheld& h) {
    const auto answer = client_->Post(std::string(wire::kLoginPath).c_str(),
                                      wire::toJson(wire::LoginRequest{wire::kAppSellin, h.login->user,
                                                                      h.login->password}),
                                      "application/json");
    std::string error;
    const auto reply = answer ? wire::parseLoginReply(answer->body, error) : std::nullopt;
    if (!answer || answer->status != 200 || !reply) broken(std::string("a log-in of ") + h.login->user + " failed");
    h.token = reply->token;
  }

  wire::Reply send(const Handheld& h, int packet, const std::string& text) {
    const auto answer = client_->Post(
        std::string(wire::kExchangePath).c_str(),
        wire::toJson(wire::ExchangeRequest{wire::kAppSellin, h.token, {{packet, text, -1}}}), "application/json");
    std::string error;
    const auto reply = answer ? wire::parseExchangeReply(answer->body, error) : std::nullopt;
    if (!answer || answer->status != 200 || !reply || reply->replies.size() != 1)
      broken("an exchange got no reply: " + (answer ? answer->body : httplib::to_string(answer.error())));
    const wire::Reply& r = reply->replies[0];
    if (r.error && (r.text == storeserver::kServerFailed || r.text == storeserver::kDatabaseFailed))
      broken("the server failed on " + text);
    return r;
  }

  void prove(Handheld& h, const Credentials& buyer) {
    if (!send(h, wire::kPacketQuery, wire::requests::sessions(buyer.user, buyer.password, h.login->store)).error)
      h.buyer = buyer.user;
  }

  void open(Handheld& h) {
    const wire::Reply r = send(h, wire::kPacketQuery, wire::requests::ticket(h.buyer, "", h.login->store));
    if (r.error) return;
    const std::u16string text = wire::toUtf16(r.text);
    const wire::RecordLayout& layout = wire::layouts::receipt();
    h.receipt = wire::toUtf8(wire::fieldText(text, layout, layout.indexOf("receipt")));
    h.lines.clear();
    h.last.reset();
  }

  static std::int64_t quantity(std::uint8_t y) { return kQuantities[y % std::size(kQuantities)]; }

  bool add(Handheld& h, std::int64_t store, std::uint8_t x, std::uint8_t y) {
    const std::int64_t line = h.lines.empty() ? 1 : h.lines.rbegin()->first + 1;
    return sendLine(h, {newId(), wire::kPacketNewItem, line, {&store_.book(store, x), quantity(y)}});
  }

  // A change or a delete of one of the lines sent, as the handheld last showed it.
  bool change(Handheld& h, std::uint8_t x, std::uint8_t y, int packet) {
    if (h.lines.empty()) return false;
    const auto& [line, sent] = *std::next(h.lines.begin(), long(x % h.lines.size()));
    const std::int64_t qty = packet == wire::kPacketChange ? quantity(y) : sent.qty;
    return sendLine(h, {newId(), packet, line, {sent.book, qty}});
  }

  bool tran(Handheld& h, int packet) {
    if (h.receipt.empty()) return false;
    h.last = Update{newId(), packet, 0, {}};
    send(h, packet, wire::requests::ticketTran(h.last->id, h.receipt));
    return true;
  }

  bool again(Handheld& h, bool otherQuantity) {
    if (!h.last) return false;
    Update u = *h.last;
    if (u.line == 0) {
      send(h, u.packet, wire::requests::ticketTran(u.id, h.receipt));
      return true;
    }
    if (otherQuantity) u.sent.qty = u.sent.qty == 1 ? 2 : 1;
    return sendLine(h, u);
  }

  bool sendLine(Handheld& h, const Update& u) {
    if (h.receipt.empty()) return false;
    h.lines.insert_or_assign(u.line, u.sent);
    h.last = u;
    const Book& b = *u.sent.book;
    send(h, u.packet,
         wire::requests::ticketItem(u.id, h.receipt, u.line, b.purchaser, b.session, b.itemId, u.sent.qty, b.price));
    return true;
  }

  // Canonical and different for each update of the run, the same in every run.
  std::string newId() {
    char id[37];
    std::snprintf(id, sizeof id, "00000000-0000-4000-8000-%012u", ++updates_);
    return id;
  }

  const Store& store_;
  Auditor auditor_;
  std::unique_ptr<httplib::Client> client_;
  std::vector<Handheld> handhelds_;
  std::size_t current_ = 0;
  unsigned updates_ = 0;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static const Store store;
  store.reset();
  Floor floor(store);
  for (std::size_t i = 0; i + 3 <= size && i / 3 < kMaxOperations; i += 3) floor.run(data[i], data[i + 1], data[i + 2]);
  return 0;
}
