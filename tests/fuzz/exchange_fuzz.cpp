// The store server's exchange handler in-process, as the server routes each
// exchange (reads on a network thread's connection, one update through the
// writer's own thread, a buyer's password through the password pool), over
// the demo store in SQLite. One input is a short run of exchanges on a fresh
// ticket state; after every exchange the answer and the ticket's invariants
// are checked, and any failure stops the run.
#include <stdlib.h>

#include <condition_variable>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <deque>
#include <filesystem>
#include <future>
#include <map>
#include <mutex>
#include <set>
#include <string>
#include <utility>

#include "server/auth_pool.h"
#include "server/demo_data.h"
#include "server/log.h"
#include "server/queries/query.h"
#include "server/services.h"
#include "server/storage/database.h"
#include "server/storage/migrations.h"
#include "server/writer.h"
#include "tests/fuzz/exchange_inputs.h"
#include "wire/exchange.h"
#include "wire/framing.h"
#include "wire/json_reader.h"
#include "wire/layouts.h"
#include "wire/requests.h"
#include "wire/text.h"

namespace exchangefuzz {

namespace {

using namespace storeserver;
using storage::integerAt;
using storage::textAt;

constexpr std::string_view kClientAddress = "192.0.2.7";
// Each input runs a window of failed log-ins after the one before, so no
// try of an earlier input counts against it, wherever tries are counted.
constexpr std::chrono::minutes kFailureWindow{1};
constexpr std::int64_t kMostExchanges = 8;

// The store's folder, gone before an abort too: it lies in memory.
std::filesystem::path storeFolderMade;

[[noreturn]] void abortRun() {
  std::error_code ignored;
  if (!storeFolderMade.empty()) std::filesystem::remove_all(storeFolderMade, ignored);
  std::abort();
}

[[noreturn]] void stop(const std::string& why) {
  std::fprintf(stderr, "exchange fuzz: %s\n", why.c_str());
  abortRun();
}

// A finding: what broke, and the exchange that broke it.
[[noreturn]] void finding(const std::string& what, std::string_view body, const HttpResponse* response) {
  std::fprintf(stderr, "exchange fuzz: %s\nrequest: %.*s\n", what.c_str(), int(body.size()), body.data());
  if (response) std::fprintf(stderr, "answer %d: %s\n", response->status, response->body.c_str());
  abortRun();
}

// A purchaser's terms for a book in a session, as book_purchasers keys them.
struct Purchaser {
  std::int64_t session = 0;
  std::string itemId;
  std::string name;
  auto operator<=>(const Purchaser&) const = default;
};

// Item ids compared as the server's SQL compares them for a ticket's book: lower() folds ASCII letters only.
std::string folded(std::string itemId) {
  for (char& c : itemId)
    if (c >= 'A' && c <= 'Z') c = char(c - 'A' + 'a');
  return itemId;
}

Purchaser purchaserAt(const storage::Row& r, std::size_t first) {
  return {integerAt(r, first), textAt(r, first + 1), textAt(r, first + 2)};
}

// Runs what the writer hands back on this thread, as an I/O thread would.
class ThisThread {
 public:
  ThreadRunner runner() {
    return [this](std::function<void()> work) {
      {
        std::lock_guard lock(mutex_);
        work_.push_back(std::move(work));
      }
      arrived_.notify_one();
    };
  }
  void runNext() {
    std::unique_lock lock(mutex_);
    arrived_.wait(lock, [this] { return !work_.empty(); });
    std::function<void()> work = std::move(work_.front());
    work_.pop_front();
    lock.unlock();
    work();
  }

 private:
  std::mutex mutex_;
  std::condition_variable arrived_;
  std::deque<std::function<void()>> work_;
};

std::unique_ptr<storage::Connection> open(const std::string& path) {
  std::string error;
  auto db = storage::openDatabase(path, error);
  if (!db) stop(error);
  return db;
}

std::string storeFolder() {
  // On a memory file system a commit's sync costs nothing.
  const std::filesystem::path base =
      std::filesystem::is_directory("/dev/shm") ? "/dev/shm" : std::filesystem::temp_directory_path();
  std::string pattern = (base / "exchange-fuzz-XXXXXX").string();
  if (!mkdtemp(pattern.data())) stop("cannot make a folder for the store");
  storeFolderMade = pattern;
  return pattern;
}

// The demo store, seeded once, with what the oracle needs beside it: which
// purchasers' bought quantities moved since the input began.
std::string seededStore(const std::string& folder) {
  const std::string path = folder + "/store.db";
  if (!initialiseCrypto()) stop("the password library could not be initialised");
  auto db = open(path);
  storage::migrate(*db);
  seedDemoData(*db, PasswordCost::minimum());
  db->execute("CREATE TABLE fuzz_moved (session_id INTEGER NOT NULL, item_id TEXT NOT NULL, purchaser TEXT NOT NULL,"
              " PRIMARY KEY (session_id, item_id, purchaser))");
  db->execute("CREATE TRIGGER fuzz_bought_moved AFTER UPDATE OF bought_qty ON book_purchasers BEGIN"
              " INSERT OR IGNORE INTO fuzz_moved VALUES (old.session_id, old.item_id, old.purchaser); END");
  return path;
}

std::vector<std::string> texts(storage::Connection& db, std::string_view sql) {
  std::vector<std::string> out;
  for (const storage::Row& r : db.query(sql)) out.push_back(textAt(r, 0));
  return out;
}

StoreValues storeValues(storage::Connection& db) {
  StoreValues v;
  constexpr std::string_view kBooks = "SELECT item_id FROM books WHERE item_id NOT LIKE '%U' ORDER BY item_id LIMIT 12";
  for (const storage::Row& r :
       db.query("SELECT p.session_id, s.store_num, p.item_id, p.purchaser, p.buy_price_cents, p.listed_price_cents"
                " FROM book_purchasers p JOIN buying_sessions s ON s.session_id = p.session_id"
                " WHERE p.item_id IN (" +
                std::string(kBooks) +
                ")"
                " OR p.item_id = (SELECT MIN(item_id) FROM book_purchasers WHERE item_id LIKE '%U')"
                " ORDER BY p.session_id, p.item_id, p.purchaser"))
    v.purchases.push_back({integerAt(r, 0), integerAt(r, 1), textAt(r, 2), textAt(r, 3),
                           integerAt(r, 4) > 0 ? integerAt(r, 4) : integerAt(r, 5)});
  for (const storage::Row& r : db.query("SELECT sku FROM books ORDER BY item_id LIMIT 24"))
    v.skus.push_back(integerAt(r, 0));
  v.itemCodes = texts(db, "SELECT isbn13 FROM books ORDER BY item_id LIMIT 8");
  for (const std::string& code : texts(db, "SELECT CAST(sku AS TEXT) FROM books ORDER BY item_id DESC LIMIT 4"))
    v.itemCodes.push_back(code);
  for (const std::string& code : texts(db, "SELECT isbn FROM adoption_books ORDER BY sku LIMIT 4"))
    v.itemCodes.push_back(code);
  v.itemCodes.insert(v.itemCodes.end(), {"calculus", "Principles of", "978", "0-306-40615-2"});
  v.students = texts(db, "SELECT student_id FROM students ORDER BY student_id LIMIT 8");
  for (const storage::Row& r :
       db.query("SELECT term, department, course, section FROM adoption_sections ORDER BY section_id LIMIT 8"))
    v.sections.push_back({textAt(r, 0), textAt(r, 1), textAt(r, 2), textAt(r, 3)});
  // The demo users' passwords (server/demo_data.cpp), the buyer first, and names and passwords no one has.
  v.logins = {{"buyer", "buyer1"},   {"clerk", "clerk1"},   {"manager", "manager1"}, {"former", "former1"},
              {"office", "office1"}, {"nobody", "nobody1"}, {"buyer", "wrong"}};
  if (v.purchases.empty() || v.skus.empty() || v.students.empty() || v.sections.empty())
    stop("the demo store lacks what the queries are made of");
  return v;
}

// A token for every program of each demo user, the buyer first; expired
// ones; none; one no log-in gave.
std::vector<Token> issueTokens(storage::Connection& db, std::int64_t nowMs) {
  constexpr std::chrono::milliseconds kForever = std::chrono::hours(24 * 365 * 1000);
  std::vector<Token> tokens;
  for (const char* name : {"buyer", "clerk", "manager", "office", "former"}) {
    const std::optional<User> user = findUser(db, name);
    if (!user) stop(std::string("the demo store has no user ") + name);
    for (int app : {wire::kAppSellin, wire::kAppAdoptra, wire::kAppStipendo})
      tokens.push_back({issueToken(db, *user, app, nowMs, kForever), app});
  }
  const std::optional<User> buyer = findUser(db, "buyer");
  for (int app : {wire::kAppSellin, wire::kAppAdoptra, wire::kAppStipendo})
    tokens.push_back({issueToken(db, *buyer, app, nowMs, -std::chrono::milliseconds(1)), app});
  tokens.push_back({"", wire::kAppSellin});
  tokens.push_back({std::string(64, 'f'), wire::kAppSellin});
  return tokens;
}

std::map<Purchaser, std::int64_t> boughtQuantities(storage::Connection& db) {
  std::map<Purchaser, std::int64_t> bought;
  for (const storage::Row& r : db.query("SELECT session_id, item_id, purchaser, bought_qty FROM book_purchasers"))
    bought[purchaserAt(r, 0)] = integerAt(r, 3);
  return bought;
}

std::int64_t millisecondsOf(std::chrono::system_clock::time_point t) {
  return std::chrono::duration_cast<std::chrono::milliseconds>(t.time_since_epoch()).count();
}

// The server's parts, wired as the server wires them, around the demo store.
class Store {
 public:
  Store()
      : folder_(storeFolder()),
        path_(seededStore(folder_)),
        db_(open(path_)),
        values_(storeValues(*db_)),
        tokens_(issueTokens(*db_, millisecondsOf(now_))),
        seeded_(boughtQuantities(*db_)),
        writer_(openWriter(
            storage::Dialect::Sqlite, [this](std::string& error) { return storage::openDatabase(path_, error); },
            nullptr, writerError_)),
        context_{PasswordChecker(PasswordCost::minimum()), std::chrono::hours(12), tries_, log_, writerOrStop()},
        io_(open(path_)),
        worker_(open(path_)),
        passwordPool_(passwordConnections(), 4, nullptr) {
    context_.clock = [this] { return now_; };
  }

  ~Store() {
    passwordPool_.stop();
    writer_->stop();
    std::error_code ignored;
    std::filesystem::remove_all(folder_, ignored);
  }

  const StoreValues& values() const { return values_; }
  const std::vector<Token>& tokens() const { return tokens_; }
  storage::Connection& db() { return *db_; }

  // Every ticket gone and every bought quantity as seeded, with a later clock.
  void freshTickets() {
    now_ += kFailureWindow;
    if (!changedSince(freshVersion_)) return;
    storage::Transaction tx(*db_, storage::TxMode::Write);
    for (const storage::Row& r : db_->query("SELECT session_id, item_id, purchaser FROM fuzz_moved"))
      db_->execute("UPDATE book_purchasers SET bought_qty = ? WHERE session_id = ? AND item_id = ? AND purchaser = ?",
                   {seededBought(purchaserAt(r, 0)), r[0], r[1], r[2]});
    for (const char* sql : {"DELETE FROM fuzz_moved", "DELETE FROM ticket_lines", "DELETE FROM tickets",
                            "DELETE FROM ticket_audit", "DELETE FROM ticket_updates",
                            "UPDATE session_tokens SET buyer_user_id = 0, buyer_store = 0 WHERE buyer_user_id <> 0"})
      db_->execute(sql);
    tx.commit();
  }

  // Whether another connection committed a change since the version seen last.
  bool changedSince(std::int64_t& seen) {
    const std::int64_t version = integerAt(db_->query("PRAGMA data_version").at(0), 0);
    return std::exchange(seen, version) != version;
  }

  std::int64_t seededBought(const Purchaser& p) const {
    const auto found = seeded_.find(p);
    if (found == seeded_.end()) stop("a purchaser appeared: " + p.itemId + " " + p.name);
    return found->second;
  }

  // The exchange answered where the server answers it.
  HttpResponse answer(ExchangeInput input) {
    switch (needs(input)) {
      case ExchangeNeeds::ReadsOnly: return handleExchange(*io_, input, context_, kClientAddress);
      case ExchangeNeeds::Commit:
        if (takesUpdateHere(input, context_)) return updateHere(input);
        return handleExchange(*worker_, input, context_, kClientAddress);
      case ExchangeNeeds::PasswordCheck: return onPasswordPool(input);
    }
    stop("an exchange needs what the server does not route");
  }

 private:
  Writer& writerOrStop() {
    if (!writer_) stop(writerError_);
    return *writer_;
  }

  std::vector<std::unique_ptr<storage::Connection>> passwordConnections() {
    std::vector<std::unique_ptr<storage::Connection>> connections;
    connections.push_back(open(path_));
    return connections;
  }

  // From this thread to the writer's and back, with nobody waiting between.
  HttpResponse updateHere(ExchangeInput& input) {
    std::optional<HttpResponse> response;
    startUpdateExchange(*io_, input, context_, kClientAddress, thisThread_.runner(),
                        [&response](HttpResponse r) { response = std::move(r); });
    while (!response) thisThread_.runNext();
    return std::move(*response);
  }

  HttpResponse onPasswordPool(const ExchangeInput& input) {
    // Shared: the pool's thread may still be inside set_value when this one wakes.
    auto answered = std::make_shared<std::promise<HttpResponse>>();
    std::future<HttpResponse> answer = answered->get_future();
    const AuthPool::Submitted submitted = passwordPool_.submit(
        WorkerPool::Job{[this, answered, &input](storage::Connection& db) {
                          try {
                            answered->set_value(handleExchange(db, input, context_, kClientAddress));
                          } catch (...) {
                            answered->set_exception(std::current_exception());
                          }
                        },
                        [answered] { answered->set_value(errorResponse(503, "The store server is stopping.")); }});
    if (submitted != AuthPool::Submitted::Taken) stop("the password pool refused a lone exchange");
    return answer.get();
  }

  std::string folder_;
  std::string path_;
  std::chrono::system_clock::time_point now_ = std::chrono::sys_days{std::chrono::September / 1 / 2026};
  std::unique_ptr<storage::Connection> db_;  // the oracle's, and the fresh ticket state's
  StoreValues values_;
  std::vector<Token> tokens_;
  std::map<Purchaser, std::int64_t> seeded_;
  std::int64_t freshVersion_ = -1;       // the data's version when its tickets were last made fresh
  Logger log_{[](std::string_view) {}};  // lines are built, then dropped: the disk is not what is tested
  std::string writerError_;
  std::unique_ptr<Writer> writer_;
  LoginTries tries_{FailureLimit{5, 20, kFailureWindow}};
  ServiceContext context_;
  std::unique_ptr<storage::Connection> io_, worker_;
  AuthPool passwordPool_;
  ThisThread thisThread_;
};

// What the exchange's successful updates did, as the server read their arguments.
struct Steps {
  std::set<Purchaser> raisedBy;  // purchasers of lines added or changed
  std::set<Purchaser> deleted;   // purchasers of lines deleted
  std::map<std::pair<std::string, std::string>, std::vector<std::int64_t>> booksRaised;  // (receipt, book): sessions
  std::set<std::string> voided, deletedOn;                                               // receipts
};

void noteStep(const wire::Query& query, const wire::requests::Request& text, Steps& steps) {
  wire::JsonReader in(text.arguments, "update");
  const auto receipt = in.text("receipt", wire::requests::kMaxReceiptLength);
  if (!in.ok()) return;
  if (text.kind == wire::requests::kTicketTran) {
    if (query.packet == wire::kPacketDelete) steps.voided.insert(*receipt);
    return;
  }
  const auto session = in.integer("session", 1, wire::requests::kMaxSessionId);
  const auto itemId = in.text("item_id", wire::requests::kMaxItemIdLength);
  const auto purchaser = in.text("purchaser", wire::requests::kMaxPurchaserLength);
  if (!in.ok()) return;
  const Purchaser p{*session, *itemId, *purchaser};
  if (query.packet == wire::kPacketDelete) {
    steps.deleted.insert(p);
    steps.deletedOn.insert(*receipt);
  } else {
    steps.raisedBy.insert(p);
    steps.booksRaised[{*receipt, folded(*itemId)}].push_back(*session);
  }
}

// The ticket's invariants over the store, checked after every exchange
// against what the store held after the one before.
class Ledger {
 public:
  Ledger(Store& store) : store_(store) {
    for (const storage::Row& r : store.db().query("SELECT session_id, tran_max_qty FROM buying_sessions"))
      tranMax_[integerAt(r, 0)] = integerAt(r, 1);
  }

  void forget() {
    bought_.clear();
    onTickets_.clear();
  }

  std::string problem(const Steps& steps) {
    storage::Connection& db = store_.db();
    // Unchanged since the last check, which passed, the store passes again.
    if (!store_.changedSince(checkedVersion_)) return {};
    storage::Transaction tx(db, storage::TxMode::Read);
    if (auto p = boughtProblem(db, steps); !p.empty()) return p;
    if (auto p = totalsProblem(db); !p.empty()) return p;
    return maximumProblem(db, steps);
  }

 private:
  // Every bought quantity is its seeded value plus its lines' quantities,
  // never below 0; one raised by an addition stays within what it buys.
  std::string boughtProblem(storage::Connection& db, const Steps& steps) {
    std::map<Purchaser, std::int64_t> moved;  // by folded item id: bought's move, less the lines
    for (const storage::Row& r :
         db.query("SELECT session_id, lower(item_id), purchaser, SUM(qty) FROM ticket_lines GROUP BY 1, 2, 3"))
      moved[purchaserAt(r, 0)] -= integerAt(r, 3);
    for (const storage::Row& r :
         db.query("SELECT p.session_id, p.item_id, p.purchaser, p.bought_qty, p.buy_qty, p.no_limit FROM fuzz_moved m"
                  " JOIN book_purchasers p ON p.session_id = m.session_id AND p.item_id = m.item_id"
                  " AND p.purchaser = m.purchaser")) {
      const Purchaser p = purchaserAt(r, 0);
      const std::int64_t bought = integerAt(r, 3), buy = integerAt(r, 4);
      const std::int64_t before = bought_.contains(p) ? bought_[p] : store_.seededBought(p);
      bought_[p] = bought;
      const std::string who = p.name + " of " + p.itemId + " in session " + std::to_string(p.session);
      if (bought < 0) return "the bought quantity of " + who + " is below 0";
      if (bought > before && bought > buy && integerAt(r, 5) == 0 && steps.raisedBy.contains(p) &&
          !steps.deleted.contains(p) && steps.voided.empty())
        return "an added or changed line took " + who + " to " + std::to_string(bought) + ", above its " +
               std::to_string(buy);
      moved[{p.session, folded(p.itemId), p.name}] += bought - store_.seededBought(p);
    }
    for (const auto& [p, left] : moved)
      if (left != 0)
        return "the bought quantity of " + p.name + " of " + p.itemId + " in session " + std::to_string(p.session) +
               " moved " + std::to_string(left) + " more than its stored lines";
    return {};
  }

  std::string totalsProblem(storage::Connection& db) {
    for (const storage::Row& r : db.query(
             "SELECT t.receipt, t.line_count, t.total_cents, COUNT(l.line), COALESCE(SUM(l.qty * l.price_cents), 0)"
             " FROM tickets t LEFT JOIN ticket_lines l ON l.ticket_id = t.ticket_id"
             " GROUP BY t.ticket_id, t.receipt, t.line_count, t.total_cents"))
      if (integerAt(r, 1) != integerAt(r, 3) || integerAt(r, 2) != integerAt(r, 4))
        return "ticket " + textAt(r, 0) + " keeps " + std::to_string(integerAt(r, 1)) + " lines and " +
               std::to_string(integerAt(r, 2)) + " cents, its lines are " + std::to_string(integerAt(r, 3)) + " and " +
               std::to_string(integerAt(r, 4));
    return {};
  }

  // A ticket's quantity of a book raised by additions stays within the
  // largest maximum of their sessions.
  std::string maximumProblem(storage::Connection& db, const Steps& steps) {
    std::map<std::pair<std::string, std::string>, std::int64_t> now;
    for (const storage::Row& r :
         db.query("SELECT t.receipt, lower(l.item_id), SUM(l.qty) FROM ticket_lines l"
                  " JOIN tickets t ON t.ticket_id = l.ticket_id GROUP BY t.receipt, lower(l.item_id)"))
      now[{textAt(r, 0), textAt(r, 1)}] = integerAt(r, 2);
    std::string problem;
    for (const auto& [book, qty] : now) {
      const auto raised = steps.booksRaised.find(book);
      if (raised == steps.booksRaised.end() || qty <= onTickets_[book] || steps.voided.contains(book.first) ||
          steps.deletedOn.contains(book.first))
        continue;
      std::int64_t most = 0;
      bool bounded = true;
      for (std::int64_t session : raised->second) {
        const std::int64_t max = tranMax_.contains(session) ? tranMax_[session] : 0;
        bounded = bounded && max > 0;
        most = std::max(most, max);
      }
      if (bounded && qty > most)
        problem = "ticket " + book.first + " holds " + std::to_string(qty) + " of " + book.second +
                  ", above its sessions' maximum of " + std::to_string(most);
    }
    onTickets_ = std::move(now);
    return problem;
  }

  Store& store_;
  std::map<std::int64_t, std::int64_t> tranMax_;
  std::map<Purchaser, std::int64_t> bought_;  // after the last exchange, for those that moved
  std::map<std::pair<std::string, std::string>, std::int64_t> onTickets_;
  std::int64_t checkedVersion_ = -1;
};

const wire::RecordLayout* layoutTagged(std::u16string_view tag) {
  using namespace wire::layouts;
  for (const wire::RecordLayout* layout :
       {&session(), &location(), &aidAccount(), &adoption(), &adoptionDetail(), &adoptionProblem(), &slDetail(),
        &slPurchase(), &slStolenItem(), &product(), &inventory(), &receipt(), &ticketLine(), &openTicket()})
    if (wire::toUtf16(layout->tag()) == tag) return layout;
  return nullptr;
}

bool isControl(char32_t c) { return c < 0x20 || c == 0x7f; }

// Records as the handheld cuts them: each of a known layout's length, ending
// in its terminator, with no control character inside.
std::string recordsProblem(std::string_view reply) {
  const std::u16string text = wire::toUtf16(reply);
  bool malformed = false;
  for (const wire::RecordSpan& span : wire::cutMixedRecords(text, malformed)) {
    const std::u16string_view record = std::u16string_view(text).substr(span.offset, span.length);
    const wire::RecordLayout* layout = layoutTagged(record.substr(0, wire::kTagWidth));
    if (!layout || span.length != layout->dataSize()) return "a record of no layout's length";
    if (record.back() != wire::kRecordTerminator) return "a record without its terminator";
    if (std::any_of(record.begin(), record.end() - 1, isControl)) return "a control character inside a record";
  }
  return malformed ? "records that do not cut cleanly" : "";
}

// A printout: lines ending in CR LF, none wider than the printer's 42 characters.
std::string printoutProblem(std::string_view text) {
  while (!text.empty()) {
    const std::size_t end = text.find("\r\n");
    if (end == std::string_view::npos) return "a printout not ending in CR LF";
    const std::u16string line = wire::toUtf16(text.substr(0, end));
    const auto characters =
        std::count_if(line.begin(), line.end(), [](char16_t c) { return c < 0xdc00 || c > 0xdfff; });
    if (characters > 42) return "a printout line wider than 42 characters";
    if (std::any_of(line.begin(), line.end(), isControl)) return "a control character inside a printout line";
    text.remove_prefix(end + 2);
  }
  return {};
}

const queries::QueryKind* kindNamed(std::string_view name) {
  for (const queries::QueryKind& kind : queries::queryKinds())
    if (kind.name == name) return &kind;
  return nullptr;
}

std::string replyProblem(const wire::Reply& reply, const std::optional<wire::requests::Request>& text) {
  if (reply.error) {
    if (reply.text == kDatabaseFailed || reply.text == kServerFailed) return "a query failed in the server";
    if (wire::hasControls(reply.text)) return "a control character in a clerk's sentence";
    return {};
  }
  const queries::QueryKind* kind = text ? kindNamed(text->kind) : nullptr;
  if (!kind) return "an unreadable or unknown query answered as done";
  if (kind->access == queries::Access::ExactlyOnce) return reply.text.empty() ? "" : "an update answered with text";
  if (kind->name == wire::requests::kReceiptPrint || kind->name == wire::requests::kAdoptionPrint)
    return printoutProblem(reply.text);
  return recordsProblem(reply.text);
}

bool expectedStatus(int status) {
  for (int s : {200, 400, 401, 403, 404, 409, 413, 429, 503})
    if (status == s) return true;
  return false;
}

// What a handheld could not take in the answer; reply gets the answer read
// as the handheld reads it, steps the updates it applied.
std::string answerProblem(const ExchangeInput& asked, const HttpResponse& response,
                          std::optional<wire::ExchangeReply>& reply, Steps& steps) {
  if (!expectedStatus(response.status)) return "status " + std::to_string(response.status);
  if (response.status != 200) return wire::parseErrorBody(response.body) ? "" : "a refusal without its sentence";
  if (!asked.request) return "an unreadable exchange answered";
  std::string error;
  reply = wire::parseExchangeReply(response.body, error);
  if (!reply) return "an answer the handheld cannot read: " + error;
  if (reply->replies.size() != asked.request->queries.size()) return "not one reply per query";
  for (std::size_t i = 0; i < reply->replies.size(); ++i) {
    if (auto problem = replyProblem(reply->replies[i], asked.texts[i]); !problem.empty())
      return problem + " (query " + std::to_string(i + 1) + ")";
    const std::optional<wire::requests::Request>& text = asked.texts[i];
    if (!reply->replies[i].error &&
        (text->kind == wire::requests::kTicketItem || text->kind == wire::requests::kTicketTran))
      noteStep(asked.request->queries[i], *text, steps);
  }
  return {};
}

// The receipts of tickets an answer opened, for the queries that follow.
void learnReceipts(const ExchangeInput& asked, const wire::ExchangeReply& reply, ExchangeWriter& writer) {
  const wire::RecordLayout& layout = wire::layouts::receipt();
  for (std::size_t i = 0; i < reply.replies.size(); ++i)
    if (!reply.replies[i].error && asked.texts[i]->kind == wire::requests::kTicket)
      writer.opened(wire::toUtf8(wire::fieldText(wire::toUtf16(reply.replies[i].text), layout, 0)));
}

}  // namespace

}  // namespace exchangefuzz

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace exchangefuzz;
  static Store store;
  static Ledger ledger(store);
  static const bool trace = std::getenv("EXCHANGE_FUZZ_TRACE") != nullptr;  // each exchange and its answer
  store.freshTickets();
  ledger.forget();
  Bytes in(std::string_view(reinterpret_cast<const char*>(data), size));
  ExchangeWriter writer(store.values(), store.tokens());
  const std::int64_t exchanges = 1 + in.next() % kMostExchanges;
  for (std::int64_t i = 0; i < exchanges && !in.empty(); ++i) {
    const std::string body = writer.next(in);
    const storeserver::ExchangeInput asked = storeserver::readExchange(body);
    storeserver::HttpResponse response;
    try {
      response = store.answer(storeserver::readExchange(body));
    } catch (const std::exception& e) {
      finding(std::string("the exchange handler threw: ") + e.what(), body, nullptr);
    }
    if (trace) std::fprintf(stderr, "%s\n  %d %s\n", body.c_str(), response.status, response.body.c_str());
    std::optional<wire::ExchangeReply> reply;
    Steps steps;
    std::string problem = answerProblem(asked, response, reply, steps);
    if (problem.empty()) problem = ledger.problem(steps);
    if (!problem.empty()) finding(problem, body, &response);
    if (reply) learnReceipts(asked, *reply, writer);
  }
  return 0;
}
