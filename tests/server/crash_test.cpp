// Kill -9 under load: 32 simulated Sellin handhelds add, change and delete
// ticket lines through the programs' own client while the storeserver program
// is killed with SIGKILL and started again at the same address, a few times.
// Afterwards the database must hold exactly what each handheld was told.
//
// A handheld treats an update as Sellin does:
// - each change gets one update identity (one GetSLItem call), and every
//   resend carries that same text, so that same identity;
// - when SendQuery fails on transport (the server is down; CSocketMessage has
//   already sent it once more), the handheld waits until the server serves
//   again and sends the same text again, until it gets an answer; each such
//   resend counts as "retried";
// - an answer without error is "acknowledged", one with an error "refused";
// - its ledger keeps what it was told: each line saved with its quantity, the
//   lines gone (deleted, or refused when added), and how many adds, changes and
//   deletes of each line were acknowledged.
// The checker then holds the database against the ledgers. Lost and doubled
// count updates: the audit rows per line and action must equal the
// acknowledged applies (fewer: lost, more: doubled), and each purchaser's
// bought_qty must have moved by exactly what its stored lines hold. Mismatched
// counts lines: every line told saved is there with the told quantity, and no
// line told refused or deleted is there.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QLoggingCategory>
#include <QString>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <mutex>
#include <random>
#include <set>
#include <thread>

#include "platform/profile.h"
#include "postgres_cluster.h"
#include "server/auth.h"
#include "server/demo_data.h"
#include "server/storage/database.h"
#include "server/storage/migrations.h"
#include "tessel/query_strings.h"
#include "tessel/records.h"
#include "tessel/socket_message.h"
#include "wire/exchange.h"
#include "wire/framing.h"

extern char** environ;

namespace servertest {
namespace {

namespace storage = storeserver::storage;
using Clock = std::chrono::steady_clock;
constexpr int kSession = 1002;  // no student ID needed, transaction maximum 6 copies of a book
constexpr int kHandhelds = 32;
constexpr int kUpdatesEach = 60;
constexpr auto kBudget = std::chrono::seconds(15);
// Kills come once this share of the planned updates is answered: irregular
// steps, the first three early enough for a slow machine within the budget.
constexpr double kKillAt[] = {0.09, 0.27, 0.41, 0.63, 0.82};
constexpr int kResendLimit = 50;

struct Book {
  QString itemId, purchaser, price;
  std::int64_t boughtBefore = 0;
};

// Every third purchaser needs only four more copies, so adds run into "needs no
// more" once handhelds have sold them; the others buy without limit.
std::vector<Book> prepareBooks(storage::Connection& db) {
  std::vector<Book> books;
  const storage::Rows rows = db.query(
      "SELECT item_id, purchaser, buy_price_cents, bought_qty FROM book_purchasers WHERE session_id = ?"
      " ORDER BY item_id, purchaser LIMIT 24",
      {std::int64_t(kSession)});
  for (const storage::Row& r : rows) {
    const bool scarce = books.size() % 3 == 0;
    db.execute("UPDATE book_purchasers SET no_limit = ?, buy_qty = bought_qty + 4"
               " WHERE session_id = ? AND item_id = ? AND purchaser = ?",
               {std::int64_t(!scarce), std::int64_t(kSession), r[0], r[1]});
    books.push_back({QString::fromStdString(storage::textAt(r, 0)), QString::fromStdString(storage::textAt(r, 1)),
                     QString::fromStdString(wire::formatCents(storage::integerAt(r, 2))), storage::integerAt(r, 3)});
  }
  return books;
}

// Whether the server serves, told by the test to the handhelds, and how far the
// handhelds have got, told by them to the test.
class Floor {
 public:
  void serverDown() { set([this] { up_ = false; }); }
  void serverUp() { set([this] { up_ = true; }); }
  void abandon() { set([this] { abandoned_ = true; }); }
  void answered() { set([this] { ++answers_; }); }
  void finished() { set([this] { ++finished_; }); }
  // False when the test gave the server up.
  bool waitUntilServing() {
    std::unique_lock lock(mutex_);
    changed_.wait(lock, [this] { return up_ || abandoned_; });
    return !abandoned_;
  }
  // False when every handheld stopped, or the deadline came, first.
  bool waitForAnswers(int count, Clock::time_point deadline) {
    std::unique_lock lock(mutex_);
    changed_.wait_until(lock, deadline, [&] { return answers_ >= count || finished_ == kHandhelds; });
    return answers_ >= count;
  }

 private:
  template <class Change>
  void set(Change change) {
    std::lock_guard lock(mutex_);
    change();
    changed_.notify_all();
  }
  std::mutex mutex_;
  std::condition_variable changed_;
  bool up_ = true, abandoned_ = false;
  int answers_ = 0, finished_ = 0;
};

struct SavedLine {
  std::size_t book;
  int qty;
};

struct Ledger {
  std::map<int, SavedLine> saved;
  std::set<int> gone;
  std::map<std::pair<int, std::string>, int> applies;  // (line, audit action) -> acknowledged
};

class Handheld {
 public:
  Handheld(const QString& address, const std::vector<Book>& books, Floor& floor, int number)
      : books_(books), floor_(floor), rng_(unsigned(number) + 1), msg_(wire::kAppSellin),
        student_(QStringLiteral("CRASH-%1").arg(number)) {
    msg_.SetServer(address);
    msg_.SetCredentials(QStringLiteral("buyer"), QStringLiteral("buyer1"));
  }

  void run(Clock::time_point deadline) {
    if (!exchange(wire::kPacketQuery, CGlobalQueryStrings::GetSLTicket(QStringLiteral("buyer"), student_, 1)) ||
        msg_.IsError(0)) {
      unanswered = "opening the ticket: " + msg_.GetResponse(0).toStdString();
    } else {
      CReceiptInfo info;
      info.SetFields(msg_.GetResponse(0));
      receipt = info.m_strReceipt;
      for (int n = 0; n < kUpdatesEach && Clock::now() < deadline && unanswered.empty(); ++n) step();
    }
    floor_.finished();
  }

  QString receipt;
  Ledger ledger;
  int acknowledged = 0, refused = 0, retried = 0;
  std::string unanswered;  // why an update got no answer at all

 private:
  void step() {
    const unsigned roll = rng_() % 10;
    if (ledger.saved.empty() || roll < 5) add();
    else if (roll < 8) change(pickSaved(), quantity());
    else remove(pickSaved());
  }
  // Now and then 7 copies, above the transaction maximum.
  int quantity() { return rng_() % 8 == 0 ? 7 : 1 + int(rng_() % 3); }
  int pickSaved() { return std::next(ledger.saved.begin(), long(rng_() % ledger.saved.size()))->first; }

  void add() {
    const int line = ++lastLine_;
    const SavedLine wanted{rng_() % books_.size(), quantity()};
    if (update(wire::kPacketNewItem, line, wanted, "add")) ledger.saved[line] = wanted;
    else ledger.gone.insert(line);
  }
  void change(int line, int qty) {
    if (update(wire::kPacketChange, line, {ledger.saved[line].book, qty}, "change")) ledger.saved[line].qty = qty;
  }
  void remove(int line) {
    if (!update(wire::kPacketDelete, line, ledger.saved[line], "delete")) return;
    ledger.saved.erase(line);
    ledger.gone.insert(line);
  }

  bool update(int packet, int line, const SavedLine& l, const char* action) {
    const Book& b = books_[l.book];
    // One identity for this change, however often it is sent.
    const QString text =
        CGlobalUpdateStrings::GetSLItem(receipt, line, b.purchaser, kSession, b.itemId, l.qty, b.price);
    if (!exchange(packet, text)) {
      unanswered = msg_.GetResponse(0).toStdString();
      return false;
    }
    const bool saved = !msg_.IsError(0);
    ++(saved ? acknowledged : refused);
    if (saved) ++ledger.applies[{line, action}];
    return saved;
  }

  // The same text until an answer comes (the server was down, or went down); false when none came.
  bool exchange(int packet, const QString& text) {
    for (int resends = 0;; ++resends) {
      msg_.Reset();
      msg_.AddQuery(packet, text);
      if (msg_.SendQuery()) {
        floor_.answered();
        return true;
      }
      if (resends == kResendLimit || !floor_.waitUntilServing()) return false;
      ++retried;
    }
  }

  const std::vector<Book>& books_;
  Floor& floor_;
  std::minstd_rand rng_;
  CSocketMessage msg_;
  const QString student_;
  int lastLine_ = 0;
};

// Binds or connects a fresh socket to 127.0.0.1:port; true when that worked.
bool onLoopback(int port, int (*use)(int, const sockaddr*, socklen_t)) {
  const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  address.sin_port = htons(std::uint16_t(port));
  const bool ok = use(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
  ::close(fd);
  return ok;
}

// A port below the range the kernel hands out to outgoing connections, so no
// handheld's own end takes it while the server is down.
int quietPort() {
  for (int port = 20000 + ::getpid() % 10000; port < 32768; ++port)
    if (onLoopback(port, ::bind)) return port;
  return 0;
}

// The storeserver program as a child on a fixed port, its output appended to a log.
class ServerProcess {
 public:
  ServerProcess(std::string database, std::filesystem::path log)
      : database_(std::move(database)), log_(std::move(log)), port_(quietPort()) {}
  ~ServerProcess() { killHard(); }

  QString address() const { return QStringLiteral("127.0.0.1:%1").arg(port_); }

  // Starts it and waits, for at most 30 s, until it accepts connections.
  bool start() {
    const std::string port = std::to_string(port_);
    const char* argv[] = {STORESERVER_BINARY, "--address", "127.0.0.1", "--port", port.c_str(),
                          "--database", database_.c_str(), nullptr};
    posix_spawn_file_actions_t output;
    posix_spawn_file_actions_init(&output);
    posix_spawn_file_actions_addopen(&output, 1, log_.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
    posix_spawn_file_actions_adddup2(&output, 1, 2);
    const int failed = posix_spawn(&pid_, STORESERVER_BINARY, &output, nullptr, const_cast<char**>(argv), environ);
    posix_spawn_file_actions_destroy(&output);
    return failed == 0 && waitUntilAccepting();
  }

  void killHard() {
    if (pid_ <= 0) return;
    ::kill(pid_, SIGKILL);
    ::waitpid(pid_, nullptr, 0);
    pid_ = 0;
  }

  std::string logTail() const {
    std::ifstream in(log_);
    const std::string all{std::istreambuf_iterator<char>(in), {}};
    return all.size() > 3000 ? all.substr(all.find('\n', all.size() - 3000) + 1) : all;
  }

 private:
  // Tries to connect every 10 ms; the wait between tries ends early when the child exits.
  bool waitUntilAccepting() {
    const int exited = int(::syscall(SYS_pidfd_open, pid_, 0));
    const auto deadline = Clock::now() + std::chrono::seconds(30);
    bool up = false;
    pollfd watch{exited, POLLIN, 0};
    while (!(up = onLoopback(port_, ::connect)) && Clock::now() < deadline && ::poll(&watch, 1, 10) == 0) {
    }
    ::close(exited);
    return up;
  }

  std::string database_;
  std::filesystem::path log_;
  int port_;
  pid_t pid_ = 0;
};

// What the database shows against the ledgers, with the first reasons.
struct Verdict {
  int lost = 0, doubled = 0, mismatched = 0;
  std::string reasons;
  void note(int& count, int by, const std::string& why) {
    count += by;
    if (std::count(reasons.begin(), reasons.end(), '\n') < 20) reasons += why + "\n";
  }
};

std::map<int, std::int64_t> storedLines(storage::Connection& db, const QString& receipt) {
  std::map<int, std::int64_t> lines;
  for (const storage::Row& r : db.query("SELECT l.line, l.qty FROM ticket_lines l JOIN tickets t"
                                        " ON t.ticket_id = l.ticket_id WHERE t.receipt = ?",
                                        {receipt.toStdString()}))
    lines[int(storage::integerAt(r, 0))] = storage::integerAt(r, 1);
  return lines;
}

std::map<std::pair<int, std::string>, int> auditedApplies(storage::Connection& db, const QString& receipt) {
  std::map<std::pair<int, std::string>, int> applies;
  for (const storage::Row& r : db.query("SELECT line, action, COUNT(*) FROM ticket_audit WHERE receipt = ? AND line > 0"
                                        " GROUP BY line, action",
                                        {receipt.toStdString()}))
    applies[{int(storage::integerAt(r, 0)), storage::textAt(r, 1)}] = int(storage::integerAt(r, 2));
  return applies;
}

void checkTicket(storage::Connection& db, const Handheld& h, const std::string& who, Verdict& v) {
  const std::map<int, std::int64_t> stored = storedLines(db, h.receipt);
  for (const auto& [line, told] : h.ledger.saved) {
    const auto found = stored.find(line);
    if (found == stored.end() || found->second != told.qty)
      v.note(v.mismatched, 1, who + " line " + std::to_string(line) + ": told saved with " + std::to_string(told.qty) +
                                  ", holds " + (found == stored.end() ? "nothing" : std::to_string(found->second)));
  }
  for (const auto& [line, qty] : stored)
    if (!h.ledger.saved.count(line))
      v.note(v.mismatched, 1, who + " line " + std::to_string(line) + " is stored though " +
                                  (h.ledger.gone.count(line) ? "told refused or deleted" : "never answered"));
  std::map<std::pair<int, std::string>, int> audited = auditedApplies(db, h.receipt);
  for (const auto& [key, count] : h.ledger.applies) audited[key] -= count;
  for (const auto& [key, extra] : audited)
    if (extra != 0)
      v.note(extra > 0 ? v.doubled : v.lost, std::abs(extra),
             who + " line " + std::to_string(key.first) + ": " + std::to_string(std::abs(extra)) + " " + key.second +
                 (extra > 0 ? " more in the audit than acknowledged" : " acknowledged but not in the audit"));
}

// Each purchaser's bought quantity moved by exactly what its stored lines hold.
void checkBought(storage::Connection& db, const std::vector<Book>& books, Verdict& v) {
  for (const Book& b : books) {
    const storage::Row r =
        db.query("SELECT bought_qty, (SELECT COALESCE(SUM(qty), 0) FROM ticket_lines l"
                 " WHERE l.session_id = p.session_id AND l.item_id = p.item_id AND l.purchaser = p.purchaser)"
                 " FROM book_purchasers p"
                 " WHERE session_id = ? AND item_id = ? AND purchaser = ?",
                 {std::int64_t(kSession), b.itemId.toStdString(), b.purchaser.toStdString()})
            .at(0);
    const std::int64_t bought = storage::integerAt(r, 0), lines = storage::integerAt(r, 1);
    const std::int64_t extra = bought - b.boughtBefore - lines;
    if (extra != 0)
      v.note(extra > 0 ? v.doubled : v.lost, 1,
             b.itemId.toStdString() + " of " + b.purchaser.toStdString() + ": bought_qty moved by " +
                 std::to_string(bought - b.boughtBefore) + ", its lines hold " + std::to_string(lines));
  }
}

std::unique_ptr<storage::Connection> connect(const std::string& database) {
  std::string error;
  auto db = storage::openDatabase(database, error);
  if (!db) throw std::runtime_error(error);
  return db;
}

// The demo store as --demo seeds it, with the cheapest password hashes so 32 log-ins are quick.
std::vector<Book> seedStore(const std::string& database) {
  if (!storeserver::initialiseCrypto()) throw std::runtime_error("the password library cannot start");
  auto db = connect(database);
  storage::migrate(*db);
  storeserver::seedDemoData(*db, storeserver::PasswordCost::minimum());
  return prepareBooks(*db);
}

class Crash : public ::testing::Test {
 protected:
  void SetUp() override {
    std::signal(SIGPIPE, SIG_IGN);
    QLoggingCategory::setFilterRules(QStringLiteral("tessel.transport.info=false"));
    std::string folder = (std::filesystem::temp_directory_path() / "crash-XXXXXX").string();
    ASSERT_NE(::mkdtemp(folder.data()), nullptr);
    scratch_ = folder;
    platform::Profile::useDirectory(QString::fromStdString(folder));
    platform::Profile::setRegistryKey(QStringLiteral("OST_PDA"), QStringLiteral("crash"));
  }
  void TearDown() override { std::filesystem::remove_all(scratch_); }

  // Kills the server once each share of kKillAt is answered and starts it again.
  int killAndRestart(ServerProcess& server, Floor& floor, Clock::time_point deadline) {
    int kills = 0;
    for (double share : kKillAt) {
      if (!floor.waitForAnswers(int(share * kHandhelds * kUpdatesEach), deadline)) break;
      floor.serverDown();
      server.killHard();
      ++kills;
      if (!server.start()) {
        floor.abandon();
        ADD_FAILURE() << "the server did not come back after kill " << kills << "; its log ends:\n"
                      << server.logTail();
        break;
      }
      floor.serverUp();
    }
    return kills;
  }

  void runAgainst(const std::string& database, const char* backend) {
    const auto started = Clock::now();
    const std::vector<Book> books = seedStore(database);
    ServerProcess server(database, scratch_ / "storeserver.log");
    ASSERT_TRUE(server.start()) << "the server did not start; its log ends:\n" << server.logTail();
    Floor floor;
    std::vector<std::unique_ptr<Handheld>> handhelds;
    for (int i = 0; i < kHandhelds; ++i)
      handhelds.push_back(std::make_unique<Handheld>(server.address(), books, floor, i));
    const auto deadline = Clock::now() + kBudget;
    std::vector<std::thread> threads;
    for (auto& h : handhelds) threads.emplace_back([&h, deadline] { h->run(deadline); });
    const int kills = killAndRestart(server, floor, deadline);
    for (std::thread& t : threads) t.join();
    if (HasFailure()) return;  // the server did not come back: nothing to hold the ledgers against

    Verdict v;
    int acknowledged = 0, refused = 0, retried = 0;
    auto db = connect(database);
    for (int i = 0; i < kHandhelds; ++i) {
      const Handheld& h = *handhelds[std::size_t(i)];
      EXPECT_EQ(h.unanswered, "") << "handheld " << i << " got no answer";
      checkTicket(*db, h, "handheld " + std::to_string(i), v);
      acknowledged += h.acknowledged, refused += h.refused, retried += h.retried;
    }
    checkBought(*db, books, v);
    std::printf("crash on %s: %d kills; updates %d acknowledged, %d refused, %d retried; lost %d, doubled %d,"
                " mismatched %d; %.1f s\n",
                backend, kills, acknowledged, refused, retried, v.lost, v.doubled, v.mismatched,
                std::chrono::duration<double>(Clock::now() - started).count());
    EXPECT_GE(kills, 3) << "the handhelds stopped before the third kill came";
    EXPECT_GT(refused, 0) << "no update was refused, so refusals went untested";
    EXPECT_EQ(v.lost, 0) << "acknowledged updates are missing:\n" << v.reasons;
    EXPECT_EQ(v.doubled, 0) << "updates were applied more than once:\n" << v.reasons;
    EXPECT_EQ(v.mismatched, 0) << "the tickets differ from what the handhelds were told:\n" << v.reasons;
    if (HasFailure()) std::printf("the server's log ends:\n%s\n", server.logTail().c_str());
  }

  std::filesystem::path scratch_;
};

TEST_F(Crash, SqliteLosesAndDoublesNoLine) { runAgainst((scratch_ / "store.db").string(), "SQLite"); }

TEST_F(Crash, PostgresLosesAndDoublesNoLine) {
  if (const std::string why = PostgresCluster::unavailable(); !why.empty()) GTEST_SKIP() << why;
  const PostgresDatabase database;
  runAgainst(database.uri(), "PostgreSQL");
}

}  // namespace
}  // namespace servertest
