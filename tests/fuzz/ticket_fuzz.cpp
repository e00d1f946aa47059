// Ticket updates from three handhelds in any order through the real server, a fresh SQLite store per input;
// after each, a broken invariant aborts: bought quantities within 0 and the need and equal to the start plus
// the stored lines; no ticket above its transaction maximum or holding another store's session; ended tickets
// unchanged. Input, three bytes at a time: an operation letter (modulo 16) and arguments x and y (modulo a
// small count, so digits '0' to '7' pick the first to the eighth):
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
constexpr std::int64_t kSessionOf[] = {1002, 2001};  // each store's session with books, asking no student ID
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

struct Account {
  const char* user;
  const char* password;
  std::int64_t store;
};
// The handhelds' log-ins; handheld n starts with buyer n modulo 2 checked (the clerk's is store 1's buyer).
constexpr Account kAccounts[] = {{"buyer", "buyer1", 1}, {"manager", "manager1", 2}, {"clerk", "clerk1", 1}};

// The demo store, one copy bought of every book of both sessions, the first books with needs of 3, 1, none
// and no limit, and the server on it for the whole run; each input starts from a copy of these pages.
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

    storeserver::ServerOptions options;
    options.port = 0;
    options.databasePath = path();
    options.ioThreads = 1;
    options.workerThreads = 2;
    options.passwordCost = storeserver::PasswordCost::minimum();
    options.logSink = [](std::string_view) {};
    server_ = storeserver::StoreServer::start(options, error);
    if (!server_) broken(error);
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
    noRow("SELECT p.session_id || ' ' || p.item_id || ' ' || p.purchaser || ': bought ' || p.bought_qty ||"
          " ', needs ' || p.buy_qty || ', its lines ' || COALESCE(SUM(l.qty), 0) FROM book_purchasers p"
          " LEFT JOIN ticket_lines l ON l.session_id = p.session_id AND l.item_id = p.item_id"
          " AND l.purchaser = p.purchaser WHERE p.session_id IN (1002, 2001)"
          " GROUP BY p.session_id, p.item_id, p.purchaser, p.bought_qty, p.buy_qty, p.no_limit"
          " HAVING p.bought_qty < 0 OR (p.no_limit = 0 AND p.bought_qty > p.buy_qty)"
          " OR p.bought_qty <> 1 + COALESCE(SUM(l.qty), 0)");
    noRow("SELECT 'ticket ' || t.receipt || ' holds ' || SUM(l.qty) || ' of ' || l.item_id || ', at most '"
          " || s.tran_max_qty FROM ticket_lines l JOIN tickets t ON t.ticket_id = l.ticket_id"
          " JOIN buying_sessions s ON s.session_id = l.session_id"
          " GROUP BY t.receipt, l.session_id, l.item_id, s.tran_max_qty"
          " HAVING s.tran_max_qty > 0 AND SUM(l.qty) > s.tran_max_qty");
    noRow("SELECT 'ticket ' || t.receipt || ' of store ' || t.store_num || ' holds line ' || l.line ||"
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
  void noRow(const char* sql) {
    const storage::Rows rows = db_->query(sql);
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

struct Update {
  std::string id;
  int packet = wire::kPacketNewItem;
  std::int64_t line = 0;  // 0: the whole ticket
  const Book* book = nullptr;
  std::int64_t qty = 0;
};

struct Handheld {
  const Account* account;
  std::string token, buyer, receipt;
  std::map<std::int64_t, Update> lines;  // the last update sent of each line, whatever its answer
  std::optional<Update> last;
};

// One input's run: the three handhelds on the store as prepared.
class Floor {
 public:
  explicit Floor(const Store& store) : store_(store), auditor_(store.path()), client_("127.0.0.1", store.port()) {
    client_.set_tcp_nodelay(true);
    client_.set_keep_alive(true);
    for (const Account& account : kAccounts) {
      Handheld& h = handhelds_.emplace_back(Handheld{&account, {}, {}, {}, {}, {}});
      logIn(h);
      prove(h, kAccounts[(handhelds_.size() - 1) % 2]);
      open(h);
    }
  }

  void run(std::uint8_t op, std::uint8_t x, std::uint8_t y) {
    Handheld& h = handhelds_[current_];
    std::optional<Update> u;
    switch (op % 16) {
      case 'h' % 16: current_ = x % handhelds_.size(); return;
      case 'l' % 16: return logIn(h);
      case 'b' % 16: return prove(h, kAccounts[x % 2]);
      case 'o' % 16: return open(h);
      case 'e' % 16: u = Update{newId(), wire::kPacketChange}; break;
      case 'k' % 16: u = Update{newId(), wire::kPacketDelete}; break;
      case 'f' % 16: u = added(h, h.account->store % 2 + 1, x, y); break;
      case 'c' % 16:
      case 'm' % 16: u = changed(h, x, y, wire::kPacketChange); break;
      case 'd' % 16:
      case 'j' % 16: u = changed(h, x, y, wire::kPacketDelete); break;
      case 'i' % 16:  // the last update's identity with another quantity
        if (h.last && h.last->line) h.last->qty = h.last->qty == 1 ? 2 : 1;
        [[fallthrough]];
      case 'g' % 16: u = h.last; break;
      default: u = added(h, h.account->store, x, y);
    }
    if (!u || h.receipt.empty()) return;
    sendUpdate(h, *u);
    auditor_.check();
  }

 private:
  void logIn(Handheld& h) {
    const auto answer = client_.Post(
        std::string(wire::kLoginPath).c_str(),
        wire::toJson(wire::LoginRequest{wire::kAppSellin, h.account->user, h.account->password}), "application/json");
    std::string error;
    const auto reply = answer ? wire::parseLoginReply(answer->body, error) : std::nullopt;
    if (!answer || answer->status != 200 || !reply) broken(std::string("a log-in of ") + h.account->user + " failed");
    h.token = reply->token;
  }

  wire::Reply send(const Handheld& h, int packet, const std::string& text) {
    const auto answer = client_.Post(
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

  void prove(Handheld& h, const Account& buyer) {
    if (!send(h, wire::kPacketQuery, wire::requests::sessions(buyer.user, buyer.password, h.account->store)).error)
      h.buyer = buyer.user;
  }

  void open(Handheld& h) {
    const wire::Reply r = send(h, wire::kPacketQuery, wire::requests::ticket(h.buyer, "", h.account->store));
    if (r.error) return;
    const wire::RecordLayout& layout = wire::layouts::receipt();
    h.receipt = wire::toUtf8(wire::fieldText(wire::toUtf16(r.text), layout, layout.indexOf("receipt")));
    h.lines.clear();
    h.last.reset();
  }

  static std::int64_t quantity(std::uint8_t y) { return kQuantities[y % std::size(kQuantities)]; }

  Update added(const Handheld& h, std::int64_t store, std::uint8_t x, std::uint8_t y) {
    const std::int64_t line = h.lines.empty() ? 1 : h.lines.rbegin()->first + 1;
    return {newId(), wire::kPacketNewItem, line, &store_.book(store, x), quantity(y)};
  }

  // A change or a delete of one of the lines sent, as the handheld last showed it.
  std::optional<Update> changed(const Handheld& h, std::uint8_t x, std::uint8_t y, int packet) {
    if (h.lines.empty()) return std::nullopt;
    const Update& sent = std::next(h.lines.begin(), long(x % h.lines.size()))->second;
    return Update{newId(), packet, sent.line, sent.book, packet == wire::kPacketChange ? quantity(y) : sent.qty};
  }

  void sendUpdate(Handheld& h, const Update& u) {
    if (u.line) h.lines.insert_or_assign(u.line, u);
    h.last = u;
    const Book* b = u.book;
    send(h, u.packet,
         u.line ? wire::requests::ticketItem(u.id, h.receipt, u.line, b->purchaser, b->session, b->itemId, u.qty,
                                             b->price)
                : wire::requests::ticketTran(u.id, h.receipt));
  }

  // Canonical and different for each update of the run, the same in every run.
  std::string newId() {
    char id[37];
    std::snprintf(id, sizeof id, "00000000-0000-4000-8000-%012u", ++updates_);
    return id;
  }

  const Store& store_;
  Auditor auditor_;
  httplib::Client client_;
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
