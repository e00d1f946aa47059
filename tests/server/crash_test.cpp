// SIGKILL under load: 32 handhelds (the programs' own client) resend each update until answered while
// the server is killed and restarted; the stored lines must be those the handhelds were told were saved.
#include <QLoggingCategory>
#include <QString>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <csignal>
#include <map>
#include <mutex>
#include <random>
#include <thread>

#include "platform/profile.h"
#include "server/auth.h"
#include "server/demo_data.h"
#include "server/storage/migrations.h"
#include "server_fixture.h"
#include "server_process.h"
#include "tessel/query_strings.h"
#include "tessel/records.h"
#include "tessel/socket_message.h"
#include "wire/money.h"

namespace servertest {
namespace {

namespace storage = storeserver::storage;
using Clock = std::chrono::steady_clock;
constexpr int kSession = 1002;  // no student ID needed, transaction maximum 6 copies of a book
constexpr int kHandhelds = 32;
constexpr int kUpdatesEach = 60;
// Kills once these shares of the planned updates are answered: every handheld makes all its updates,
// so every kill comes, however fast the machine.
constexpr double kKillAt[] = {0.09, 0.27, 0.41, 0.63, 0.82};
constexpr int kResendLimit = 50;

struct Book {
  QString itemId, purchaser, price;
};

// The demo store with cheap hashes and nothing bought; every third purchaser needs only four copies, so
// adds run into refusals, the others buy without limit.
std::vector<Book> seedStore(const std::string& database) {
  if (!storeserver::initialiseCrypto()) throw std::runtime_error("the password library cannot start");
  auto owned = openDatabase(database);
  storage::Connection& db = *owned;
  storage::migrate(db);
  storeserver::seedDemoData(db, storeserver::PasswordCost::minimum());
  db.execute("UPDATE book_purchasers SET bought_qty = 0 WHERE session_id = ?", {std::int64_t(kSession)});
  std::vector<Book> books;
  const storage::Rows rows =
      db.query("SELECT item_id, purchaser, buy_price_cents FROM book_purchasers WHERE session_id = ?"
               " ORDER BY item_id, purchaser LIMIT 24",
               {std::int64_t(kSession)});
  for (const storage::Row& r : rows) {
    const bool scarce = books.size() % 3 == 0;
    db.execute(
        "UPDATE book_purchasers SET no_limit = ?, buy_qty = 4 WHERE session_id = ? AND item_id = ? AND purchaser = ?",
        {std::int64_t(!scarce), std::int64_t(kSession), r[0], r[1]});
    books.push_back({QString::fromStdString(storage::textAt(r, 0)), QString::fromStdString(storage::textAt(r, 1)),
                     QString::fromStdString(wire::formatCents(storage::integerAt(r, 2)))});
  }
  return books;
}

// Whether the server serves (test to handhelds) and how far the handhelds have got (handhelds to test).
class Floor {
 public:
  void serving(bool up) {
    set([&] { up_ = up; });
  }
  void abandon() {
    set([this] { abandoned_ = true; });
  }
  void answered() {
    set([this] { ++answers_; });
  }
  void finished() {
    set([this] { ++finished_; });
  }
  // False when the test gave the server up, or it was not back within a minute.
  bool waitUntilServing() {
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, std::chrono::minutes(1), [this] { return up_ || abandoned_; }) && !abandoned_;
  }
  // False when every handheld stopped first.
  bool waitForAnswers(int count) {
    std::unique_lock lock(mutex_);
    changed_.wait(lock, [&] { return answers_ >= count || finished_ == kHandhelds; });
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

// One line as the handheld and the database hold it: "item|purchaser|qty|cents".
std::string lineText(const std::string& itemId, const std::string& purchaser, std::int64_t qty, std::int64_t cents) {
  return itemId + "|" + purchaser + "|" + std::to_string(qty) + "|" + std::to_string(cents);
}

class Handheld {
 public:
  Handheld(const QString& address, const std::vector<Book>& books, Floor& floor, int number)
      : books_(books),
        floor_(floor),
        rng_(unsigned(number) + 1),
        msg_(wire::kAppSellin),
        student_(QStringLiteral("CRASH-%1").arg(number)) {
    msg_.SetServer(address);
    msg_.SetCredentials(QStringLiteral("buyer"), QStringLiteral("buyer1"));
  }

  void run() {
    // As Sellin starts: the buyer's rights for the store are proved in this log-in.
    if (!query(CGlobalQueryStrings::GetSLSession(QStringLiteral("buyer"), QStringLiteral("buyer1"), 1))) {
      unanswered = "proving the buyer: " + msg_.GetResponse(0).toStdString();
    } else if (!query(CGlobalQueryStrings::GetSLTicket(QStringLiteral("buyer"), student_, 1))) {
      unanswered = "opening the ticket: " + msg_.GetResponse(0).toStdString();
    } else {
      CReceiptInfo info;
      info.SetFields(msg_.GetResponse(0));
      receipt = info.m_strReceipt;
      for (int n = 0; n < kUpdatesEach && unanswered.empty(); ++n) step();
    }
    floor_.finished();
  }

  QString receipt;
  std::map<int, SavedLine> saved;  // as the handheld was told
  int acknowledged = 0, refused = 0, retried = 0;
  std::string unanswered;  // why an update got no answer at all

 private:
  // Half adds, then changes and deletes of saved lines.
  void step() {
    const unsigned roll = rng_() % 10;
    if (saved.empty() || roll < 5) {
      const int line = ++lastLine_;
      const SavedLine wanted{rng_() % books_.size(), quantity()};
      if (update(wire::kPacketNewItem, line, wanted)) saved[line] = wanted;
    } else if (const int line = pickSaved(); roll < 8) {
      const int qty = quantity();
      if (update(wire::kPacketChange, line, {saved[line].book, qty})) saved[line].qty = qty;
    } else if (update(wire::kPacketDelete, line, saved[line])) {
      saved.erase(line);
    }
  }
  // Now and then 7 copies, above the transaction maximum.
  int quantity() { return rng_() % 8 == 0 ? 7 : 1 + int(rng_() % 3); }
  int pickSaved() { return std::next(saved.begin(), long(rng_() % saved.size()))->first; }

  bool update(int packet, int line, const SavedLine& l) {
    const Book& b = books_[l.book];
    // One identity for this change, however often it is sent.
    const QString text =
        CGlobalUpdateStrings::GetSLItem(receipt, line, b.purchaser, kSession, b.itemId, l.qty, b.price);
    if (!exchange(packet, text)) {
      unanswered = msg_.GetResponse(0).toStdString();
      return false;
    }
    const bool accepted = !msg_.IsError(0);
    ++(accepted ? acknowledged : refused);
    return accepted;
  }

  // A query answered without an error.
  bool query(const QString& text) { return exchange(wire::kPacketQuery, text) && !msg_.IsError(0); }

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

// Where the database differs from what the handhelds were told, the first 20 reasons.
struct Verdict {
  int differences = 0;
  std::string reasons;
  void note(const std::string& why) { reasons += ++differences <= 20 ? why + "\n" : ""; }
};

// The stored lines against those the handheld was told were saved.
void checkTicket(storage::Connection& db, const Handheld& h, const std::vector<Book>& books, const std::string& who,
                 Verdict& v) {
  const std::string receipt = h.receipt.toStdString();
  std::map<int, std::string> stored;
  for (const storage::Row& r :
       db.query("SELECT l.line, l.item_id, l.purchaser, l.qty, l.price_cents FROM ticket_lines l"
                " JOIN tickets t ON t.ticket_id = l.ticket_id WHERE t.receipt = ?",
                {receipt}))
    stored[int(storage::integerAt(r, 0))] =
        lineText(storage::textAt(r, 1), storage::textAt(r, 2), storage::integerAt(r, 3), storage::integerAt(r, 4));
  for (const auto& [line, told] : h.saved) {
    const Book& b = books[told.book];
    const auto cents = wire::parseCents(b.price.toStdString()).value_or(-1);
    if (!stored.count(line) ||
        stored.at(line) != lineText(b.itemId.toStdString(), b.purchaser.toStdString(), told.qty, cents))
      v.note(who + " line " + std::to_string(line) + " is not stored as told saved");
  }
  for (const auto& [line, qty] : stored)
    if (!h.saved.count(line)) v.note(who + " line " + std::to_string(line) + " is stored though not told saved");
}

class Crash : public ::testing::TestWithParam<Backend> {
 protected:
  void SetUp() override {
    if (const std::string why = backendMissing(GetParam()); !why.empty()) GTEST_SKIP() << why;
    std::signal(SIGPIPE, SIG_IGN);
    QLoggingCategory::setFilterRules(QStringLiteral("tessel.transport.info=false"));
    platform::Profile::useDirectory(QString::fromStdString(scratch_.path().string()));
    platform::Profile::setRegistryKey(QStringLiteral("OST_PDA"), QStringLiteral("crash"));
    database_.emplace(GetParam(), scratch_.path(), TestDatabase::Contents::Empty);
  }

  // Starts the server at the same address each time, and waits until it accepts connections.
  bool startServer() { return server_->start() && server_->waitUntilAccepting(port_); }
  std::string logTail() const {
    const std::string log = server_->output();
    return log.substr(log.size() - std::min<std::size_t>(log.size(), 3000));
  }

  // Kills the server once each share of kKillAt is answered and starts it again.
  int killAndRestart(Floor& floor) {
    int kills = 0;
    for (double share : kKillAt) {
      if (!floor.waitForAnswers(int(share * kHandhelds * kUpdatesEach))) break;
      floor.serving(false);
      server_->stop(SIGKILL);
      ++kills;
      if (!startServer()) {
        floor.abandon();
        ADD_FAILURE() << "the server did not come back after kill " << kills << "; its log ends:\n" << logTail();
        break;
      }
      floor.serving(true);
    }
    return kills;
  }

  void runAgainst() {
    const std::string& database = database_->name();
    const auto started = Clock::now();
    const std::vector<Book> books = seedStore(database);
    // Every handheld logs in at once: none is told to come back for its password check.
    server_.emplace(std::vector<std::string>{"--address", "127.0.0.1", "--port", std::to_string(port_), "--database",
                                             database, "--auth-queue", std::to_string(kHandhelds)},
                    scratch_.path() / "storeserver.log");
    ASSERT_TRUE(startServer()) << "the server did not start; its log ends:\n" << logTail();
    Floor floor;
    std::vector<std::unique_ptr<Handheld>> handhelds;
    const QString address = QStringLiteral("127.0.0.1:%1").arg(port_);
    for (int i = 0; i < kHandhelds; ++i) handhelds.push_back(std::make_unique<Handheld>(address, books, floor, i));
    std::vector<std::thread> threads;
    for (auto& h : handhelds) threads.emplace_back([&h] { h->run(); });
    const int kills = killAndRestart(floor);
    for (std::thread& t : threads) t.join();
    if (HasFailure()) return;  // the server did not come back: nothing to hold the handhelds against

    Verdict v;
    int acknowledged = 0, refused = 0, retried = 0;
    auto db = openDatabase(database);
    for (int i = 0; i < kHandhelds; ++i) {
      const Handheld& h = *handhelds[std::size_t(i)];
      EXPECT_EQ(h.unanswered, "") << "handheld " << i << " got no answer";
      checkTicket(*db, h, books, "handheld " + std::to_string(i), v);
      acknowledged += h.acknowledged, refused += h.refused, retried += h.retried;
    }
    std::printf("crash on %s: %d kills; updates %d acknowledged, %d refused, %d retried; %d differences; %.1f s\n",
                GetParam() == Backend::Sqlite ? "SQLite" : "PostgreSQL", kills, acknowledged, refused, retried,
                v.differences, std::chrono::duration<double>(Clock::now() - started).count());
    EXPECT_EQ(kills, int(std::size(kKillAt))) << "the handhelds stopped before every kill came";
    EXPECT_GT(refused, 0) << "no update was refused, so refusals went untested";
    EXPECT_EQ(v.differences, 0) << "the database differs from what the handhelds were told:\n" << v.reasons;
    if (HasFailure()) std::printf("the server's log ends:\n%s\n", logTail().c_str());
  }

  TempDir scratch_;
  std::optional<TestDatabase> database_;  // outlives the server
  const int port_ = quietPort();
  std::optional<ServerProcess> server_;
};

INSTANTIATE_TEST_SUITE_P(Backends, Crash, kBothBackends, backendName);

TEST_P(Crash, LosesAndDoublesNoLine) { runAgainst(); }

}  // namespace
}  // namespace servertest
