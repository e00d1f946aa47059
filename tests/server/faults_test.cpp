// Database faults and moved time on both backends: a failed update keeps nothing and, sent again, holds
// once; updates sharing one SQLite commit are kept or undone each on its own, none when the commit fails.
#include <algorithm>
#include <atomic>
#include <functional>
#include <future>
#include <optional>
#include <thread>

#include "server/services.h"
#include "admin_fixture.h"
#include "server/storage/faulty_connection.h"
#include "wire/requests.h"

namespace servertest {
namespace {

using storeserver::storage::Fault;
using namespace std::chrono_literals;

const std::string kFailed(storeserver::kDatabaseFailed);

// Stands still unless the test moves it.
struct TestClock {
  std::atomic<std::int64_t> ms{
      std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::system_clock::now().time_since_epoch())
          .count()};
  storeserver::Clock clock() {
    return [this] { return std::chrono::system_clock::time_point(std::chrono::milliseconds(ms.load())); };
  }
  void advance(std::chrono::milliseconds by) { ms += by.count(); }
};

class Faults : public BackendServerTest {
 protected:
  // One worker, so the update after a fault runs on the connection that met it.
  storeserver::ServerOptions options() const override {
    auto o = ServerTest::options();
    o.workerThreads = 1;
    o.clock = clock_->clock();
    o.wrapConnection = [faults = faults_](auto connection) { return faults->wrap(std::move(connection)); };
    return o;
  }

  // The buyer's ticket in the walk-in session, as Sellin opens it.
  void startTicket() {
    token_ = buyingLogin("buyer", "buyer1");
    receipt_ = openTicket(token_);
  }
  std::string addText(int line, const std::string& updateId = newUpdateId()) const {
    return wire::requests::ticketItem(updateId, receipt_, line, "Ostrand Company", 1002, "B0000002", 1, "12.50");
  }
  std::string send(const std::string& text) const { return sellin(token_, text, wire::kPacketNewItem); }
  // Lines, applied update identities and Ostrand's bought quantity of B0000002.
  std::vector<std::int64_t> stored() const {
    const auto row = sideConnection()
                         ->query("SELECT (SELECT count(*) FROM ticket_lines), (SELECT count(*) FROM ticket_updates),"
                                 " bought_qty FROM book_purchasers WHERE session_id = 1002 AND item_id = 'B0000002'"
                                 " AND purchaser = 'Ostrand Company'")
                         .at(0);
    std::vector<std::int64_t> counts;
    for (std::size_t i = 0; i < row.size(); ++i) counts.push_back(storeserver::storage::integerAt(row, i));
    return counts;
  }

  std::shared_ptr<TestClock> clock_ = std::make_shared<TestClock>();
  std::shared_ptr<storeserver::storage::StorageFaults> faults_ =
      std::make_shared<storeserver::storage::StorageFaults>();
  std::string token_, receipt_;
};

INSTANTIATE_TEST_SUITE_P(Backends, Faults, kBothBackends, backendName);

TEST_P(Faults, AnUpdateWhoseStatementCommitOrConnectionFailsKeepsNothingAndHoldsOnceWhenSentAgain) {
  startTicket();
  const int before = faults_->writeStatements();
  ASSERT_EQ(send(addText(1)), "ok");
  const int statements = faults_->writeStatements() - before;
  const auto kept = stored();

  // The same text, so the same identity, through a failure at each statement and at the commit.
  const std::string text = addText(2);
  for (int nth = 1; nth <= statements + 1; ++nth) {
    if (nth <= statements) faults_->armStatement(nth, Fault::Fail);
    else faults_->armCommit(Fault::Fail);
    EXPECT_EQ(send(text), kFailed) << "failing at write " << nth << " of " << statements;
    EXPECT_EQ(stored(), kept) << "failing at write " << nth << " of " << statements;
  }
  EXPECT_EQ(faults_->faultsMet(), statements + 1);
  EXPECT_EQ(send(text), "ok");
  const auto once = stored();
  EXPECT_NE(once, kept);
  EXPECT_EQ(send(text), "ok") << "a repeat of an applied update";
  EXPECT_EQ(stored(), once);

  // A dropped connection: PostgreSQL's update runs again on a fresh connection and holds once;
  // the lost SQLite writer never comes back, though reads go on. The drop comes at the update's
  // first write (PostgreSQL's first locks its ticket and purchaser).
  const bool reconnects = GetParam() == Backend::Postgres;
  faults_->armStatement(reconnects ? 5 : 3, Fault::Drop);
  const std::string next = addText(3);  // the last copy needed, so sent twice
  for (int time = 0; time < 2; ++time) EXPECT_EQ(send(next), reconnects ? "ok" : kFailed) << "sent " << time + 1;
  EXPECT_EQ(faults_->faultsMet(), statements + 2) << "the connection was not dropped";
  EXPECT_EQ(stored() == once, !reconnects);
  EXPECT_FALSE(askWith(wire::kAppSellin, token_, query(wire::requests::purchasers(1002, "B0000002", 1))).error);
}

// SQLite writes one update at a time and undoes none for a conflict.
using Conflicts = Faults;
INSTANTIATE_TEST_SUITE_P(Backends, Conflicts, ::testing::Values(Backend::Postgres), backendName);

TEST_P(Conflicts, AnUpdateUndoneForAConflictRunsAgainUntilItsBound) {
  startTicket();
  const auto kept = stored();
  const std::string text = addText(1);
  faults_->armCommit(Fault::Conflict, 0);
  EXPECT_EQ(send(text), kFailed);
  EXPECT_EQ(stored(), kept);
  EXPECT_GT(faults_->faultsMet(), 2) << "given up without running again";

  faults_->armCommit(Fault::Conflict, 1);
  EXPECT_EQ(send(text), "ok");
  const auto once = stored();
  EXPECT_NE(once, kept);
  EXPECT_EQ(send(text), "ok");
  EXPECT_EQ(stored(), once) << "applied twice";
}

// A cluster of the test's own, restarted as a package upgrade restarts it, while a clerk
// looks up aid and a buyer changes a line: every request is answered as if nothing happened.
class DatabaseRestart : public ServerTest {
 protected:
  DatabaseRestart() : ServerTest(Backend::Postgres) {}
  void SetUp() override {
    if (const std::string why = backendMissing(Backend::Postgres); !why.empty()) GTEST_SKIP() << why;
    cluster_.emplace();
    database_.emplace(cluster_->createDatabase("store"));
    start(options());
  }
  std::optional<PostgresCluster> cluster_;
};

TEST_F(DatabaseRestart, NoRequestFailsWhileTheDatabaseRestarts) {
  const std::string buyer = buyingLogin("buyer", "buyer1");
  const std::string clerk = login(wire::kAppStipendo, "clerk", "clerk1");
  const std::string receipt = openTicket(buyer);
  const LineArgs line{.itemId = "B0000000", .price = "1.00"};  // bought without limit
  ASSERT_EQ(sellin(buyer, itemText(receipt, line), wire::kPacketNewItem), "ok");
  constexpr int kBeforeRestart = 5, kAfterRestart = 20;
  std::atomic<bool> restarted{false};
  std::promise<void> underWay;  // the restart comes once requests are flowing
  int afterRestart = 0, sent = 0;
  std::thread handhelds([&] {
    for (std::int64_t qty = 2; afterRestart < kAfterRestart; qty = 3 - qty, ++sent) {
      if (sent == kBeforeRestart) underWay.set_value();
      if (restarted) ++afterRestart;
      const wire::Reply aid = askWith(wire::kAppStipendo, clerk, query(wire::requests::aidAccounts("S100200")));
      EXPECT_FALSE(aid.error) << "aid lookup " << sent << ": " << aid.text;
      LineArgs changed = line;
      changed.qty = qty;
      EXPECT_EQ(sellin(buyer, itemText(receipt, changed), wire::kPacketChange), "ok") << "change " << sent;
    }
  });
  underWay.get_future().wait();
  cluster_->restart();
  restarted = true;
  handhelds.join();
  EXPECT_GE(sent, kBeforeRestart + kAfterRestart);
  EXPECT_EQ(login(wire::kAppStipendo, "clerk", "clerk1").empty(), false);
}

// The database ends the server's sessions as a shutdown, a crash or a failover does; the test holds its
// own sessions: one to hold a lock, one to watch and end the others.
class LostConnection : public Faults {
 protected:
  void SetUp() override {
    Faults::SetUp();
    if (IsSkipped() || HasFatalFailure()) return;
    startTicket();
    start_ = added();
  }
  // Ends every session of the server's database but the test's own (57P01).
  void endServerSessions(const std::string& spared) const {
    EXPECT_NE(texts("SELECT count(pg_terminate_backend(pid)) || '' FROM pg_stat_activity"
                    " WHERE datname = current_database() AND pid <> pg_backend_pid() AND pid <> " +
                    spared)
                  .at(0),
              "0");
  }
  // As a standby answers: every new session of the server's database takes only reads.
  void setReadOnly(bool on) const {
    auto db = sideConnection();
    db->execute("SET default_transaction_read_only = off");
    db->execute("ALTER DATABASE \"" + texts("SELECT current_database()").at(0) + "\" " +
                (on ? "SET default_transaction_read_only = on" : "RESET default_transaction_read_only"));
  }
  // What stored() counts, each less what the test began with.
  std::vector<std::int64_t> added() const {
    std::vector<std::int64_t> counts = stored();
    for (std::size_t i = 0; i < counts.size(); ++i) counts[i] -= start_[i];
    return counts;
  }
  std::vector<std::int64_t> start_{0, 0, 0};
};
INSTANTIATE_TEST_SUITE_P(Backends, LostConnection, ::testing::Values(Backend::Postgres), backendName);

// The update waits, with its lines written and its commit sent, for an identity the test inserted and holds
// uncommitted; its session is ended there, and the lock released: it runs again and holds once.
TEST_P(LostConnection, AnUpdateWhoseSessionEndsMidTransactionRunsAgainAndHoldsOnce) {
  const std::string id = newUpdateId(), text = addText(1, id);
  auto holder = sideConnection();
  std::optional<storeserver::storage::Transaction> held(std::in_place, *holder,
                                                        storeserver::storage::TxMode::Independent);
  holder->execute("INSERT INTO ticket_updates (update_id, user_id, answer, applied_at)"
                  " SELECT ?, min(user_id), '', 0 FROM users",
                  {id});
  const std::string holderPid = storeserver::storage::textAt(holder->query("SELECT pg_backend_pid() || ''").at(0), 0);
  std::future<std::string> answer = std::async(std::launch::async, [&] { return send(text); });
  const auto deadline = std::chrono::steady_clock::now() + 60s;
  while (texts("SELECT count(*) || '' FROM pg_stat_activity WHERE wait_event_type = 'Lock'"
               " AND datname = current_database() AND query LIKE 'INSERT INTO ticket_updates%'")
             .at(0) == "0") {
    ASSERT_EQ(answer.wait_for(10ms), std::future_status::timeout) << "answered without waiting: " << answer.get();
    ASSERT_LT(std::chrono::steady_clock::now(), deadline) << "the update never waited for the identity";
  }
  endServerSessions(holderPid);
  held.reset();
  EXPECT_EQ(answer.get(), "ok");
  EXPECT_TRUE(logged("then run again")) << lastLogLine();
  EXPECT_EQ(added(), (std::vector<std::int64_t>{1, 1, 1}));
  EXPECT_EQ(send(text), "ok") << "a repeat of the update";
  EXPECT_EQ(send(addText(2)), "ok");
  EXPECT_EQ(added(), (std::vector<std::int64_t>{2, 2, 2}));
}

// A failover's read-only answer (25006) is waited out as a lost connection. Still read-only after that wait,
// the update (and a log-in) is answered 503, which is no answer of the server's own: the handheld sends it again. Once
// the database takes writes again, a fresh session does, and the update holds once.
TEST_P(LostConnection, AReadOnlyDatabaseIsWaitedOutAndAFreshSessionWritesOnceItIsWritable) {
  const std::string text = addText(1);
  setReadOnly(true);
  endServerSessions("0");
  const Answer unreachable = exchangeAnswer(wire::kAppSellin, token_, {query(text, wire::kPacketNewItem)});
  EXPECT_EQ(unreachable.status, 503) << unreachable.body;
  EXPECT_EQ(unreachable.sentence(), kFailed);
  EXPECT_EQ(added(), (std::vector<std::int64_t>{0, 0, 0}));
  const Answer logIn = loginAnswer(wire::kAppSellin, "buyer", "buyer1");
  EXPECT_EQ(logIn.status, 503) << logIn.body;
  EXPECT_EQ(logIn.sentence(), kFailed);
  setReadOnly(false);
  EXPECT_EQ(send(text), "ok");
  EXPECT_EQ(added(), (std::vector<std::int64_t>{1, 1, 1}));
}

TEST_P(Faults, ASessionExpiresAndALogInBlockEndsOnceTheirTimeHasPassed) {
  const std::string token = login(wire::kAppStipendo, "clerk", "clerk1");
  const std::vector<wire::Query> lookup = {query(wire::requests::aidAccounts("S100200"))};
  clock_->advance(options().tokenLifetime - 1ms);
  EXPECT_EQ(exchangeAnswer(wire::kAppStipendo, token, lookup).status, 200);
  clock_->advance(1ms);
  const Answer late = exchangeAnswer(wire::kAppStipendo, token, lookup);
  EXPECT_EQ(late.status, 401);
  EXPECT_EQ(late.sentence(), "The session has expired; log in again.");

  for (unsigned i = 0; i < options().maxFailedLogins; ++i)
    ASSERT_EQ(loginAnswer(wire::kAppSellin, "buyer", "wrong").status, 401);
  clock_->advance(options().failedLoginWindow - 1ms);
  const Answer blocked = loginAnswer(wire::kAppSellin, "buyer", "buyer1");
  EXPECT_EQ(blocked.status, 429) << blocked.body;
  EXPECT_EQ(blocked.header("Retry-After"), "1");
  clock_->advance(1ms);
  EXPECT_EQ(loginAnswer(wire::kAppSellin, "buyer", "buyer1").status, 200);
}

// The database stays busy at the start of a write (another program holding SQLite's write lock past the busy
// timeout): a ticket change and a log-in's token wait it out. A try the limit refuses is decided in memory: with
// every write of the database failing, each door still answers the limit's refusal.
TEST_P(Faults, ABusyDatabaseIsWaitedOutAndTheLimitRefusesWithoutAWrite) {
  startTicket();
  const std::function<bool()> writes[] = {[&] { return send(addText(1)) == "ok"; },
                                          [&] { return !login(wire::kAppStipendo, "manager", "manager1").empty(); }};
  for (const auto& write : writes) {
    const int met = faults_->faultsMet();
    faults_->armBusy(3);
    EXPECT_TRUE(write());
    EXPECT_EQ(faults_->faultsMet() - met, 3);
  }

  storeserver::ServerOptions o = options();
  o.maxFailedLogins = 2;
  o.maxFailedLoginsPerAddress = 4;
  start(o);
  const std::string clerk = login(wire::kAppSellin, "clerk", "clerk1");
  for (const char* name : {"clerk", "clerk", "nobody"}) ASSERT_EQ(loginAnswer(wire::kAppSellin, name, "x").status, 401);
  faults_->armCommit(Fault::Fail, 0);
  const Answer byName = loginAnswer(wire::kAppSellin, "clerk", "clerk1");
  EXPECT_EQ(byName.status, 429) << byName.body;
  EXPECT_EQ(sellin(clerk, wire::requests::sessions("clerk", "clerk1", 1)),
            "Too many failed log-ins for clerk; try again in 15 minutes.");
  ASSERT_EQ(loginAnswer(wire::kAppSellin, "somebody", "x").status, 401) << "the address's last try";
  const Answer byAddress = loginAnswer(wire::kAppSellin, "buyer", "buyer1");
  EXPECT_EQ(byAddress.sentence(), "Too many failed log-ins from this handheld's network; try again in 15 minutes.");
  const Answer page = AdminBrowser(port_).logIn("manager", "manager1");
  EXPECT_EQ(std::tuple(page.status, page.header("Retry-After"), page.header("Set-Cookie"), pageSentence(page.body)),
            std::tuple(429, std::string("900"), std::string(),
                       std::string("Too many failed log-ins from this network; try again in 15 minutes.")));
  faults_->disarm();
}

// Updates sent together, as one group of the SQLite writer.
struct Update {
  std::string token, text;
  int packet = wire::kPacketNewItem;
};
struct Case {
  const char* what;
  std::vector<Update> group;
  std::vector<std::string> replies;
  std::string stored;
  bool commitFails = false;
};

// SQLite's writer only; one worker, so that a worker held up shows.
class GroupCommit : public Faults {
 protected:
  storeserver::ServerOptions options() const override {
    auto o = Faults::options();
    o.writeGroupProbe = probe_;
    return o;
  }
  void SetUp() override {
    ServerTest::SetUp();
    // Every purchaser of B0000001 needs one more copy.
    sideConnection()->execute("UPDATE book_purchasers SET buy_qty = 3, bought_qty = 2 WHERE item_id = 'B0000001'");
    tokens_ = {login(wire::kAppSellin, "buyer", "buyer1"), buyingLogin("clerk", "clerk1")};
    for (const std::string& token : tokens_) receipts_.push_back(openTicket(token));
  }
  Update line(int who, int number, const char* item) const {
    return {tokens_[who], itemText(receipts_[who], {.line = number, .itemId = item})};
  }
  // Sends the updates at once, as one group of the writer; each reply "ok" or its sentence, sorted.
  std::vector<std::string> together(const std::vector<Update>& updates) {
    probe_->gather = updates.size();
    std::vector<std::string> replies(updates.size());
    std::vector<std::jthread> threads;
    for (std::size_t i = 0; i < updates.size(); ++i)
      threads.emplace_back([&, i, u = updates[i]] { replies[i] = sellin(u.token, u.text, u.packet); });
    threads.clear();
    EXPECT_EQ(probe_->lastGroupSize, updates.size()) << "the updates did not share a commit";
    std::sort(replies.begin(), replies.end());
    return replies;
  }
  // The number of ticket lines, then Ostrand's bought quantity of B0000001 and B0000002.
  std::string stored() const {
    return texts(
               "SELECT (SELECT count(*) FROM ticket_lines) || ' ' || group_concat(bought_qty, ' ') FROM book_purchasers"
               " WHERE item_id IN ('B0000001', 'B0000002') AND session_id = 1002 AND purchaser = 'Ostrand Company'")
        .at(0);
  }
  std::shared_ptr<storeserver::WriteGroupProbe> probe_ = std::make_shared<storeserver::WriteGroupProbe>();
  std::vector<std::string> tokens_, receipts_;
};
INSTANTIATE_TEST_SUITE_P(Backends, GroupCommit, ::testing::Values(Backend::Sqlite), backendName);

TEST_P(GroupCommit, EachUpdateIsKeptOrUndoneOnItsOwnAndAFailedCommitKeepsNone) {
  // The clerk's two copies, then all but one returned elsewhere: the void cannot take both back.
  ASSERT_EQ(together({line(1, 1, "B0000002"), line(1, 2, "B0000002")}), (std::vector<std::string>{"ok", "ok"}));
  sideConnection()->execute("UPDATE book_purchasers SET bought_qty = 1 WHERE item_id = 'B0000002'");
  const Update voidIt{tokens_[1], wire::requests::ticketTran(newUpdateId(), receipts_[1]), wire::kPacketDelete};
  const Update repeated = line(0, 3, "B0000000"), other = line(1, 4, "B0000000");
  const Case cases[] = {
      {"a void refused whole, and a new line",
       {voidIt, line(0, 1, "B0000000")},
       {"Voiding this ticket would take back copies of this book that were already returned on another ticket: "
        "end the ticket instead, or tell the back office.",
        "ok"},
       "3 2 1"},
      {"two handhelds for the last copy",
       {line(0, 2, "B0000001"), line(1, 3, "B0000001")},
       {"Can only do a negative buy for this purchaser.", "ok"},
       "4 3 1"},
      {"a commit that fails", {repeated, other}, {kFailed, kFailed}, "4 3 1", true},
      {"the same update twice, retried", {repeated, repeated}, {"ok", "ok"}, "5 3 1"},
  };
  for (const Case& c : cases) {
    if (c.commitFails) faults_->armCommit(Fault::Fail);
    EXPECT_EQ(together(c.group), c.replies) << c.what;
    EXPECT_EQ(stored(), c.stored) << c.what;
  }
}

TEST_P(GroupCommit, AHandheldsChangeIsSavedWhileEveryWorkerWaits) {
  // The only worker holds an exchange of two changes, its first waiting for a group of two;
  // a handheld's change, sent alone, must reach the writer without that worker and complete it.
  probe_->gather = 2;
  std::vector<wire::Reply> both;
  std::jthread held([&] {
    both = exchange(wire::kAppSellin, tokens_[0],
                    {query(line(0, 1, "B0000000").text, wire::kPacketNewItem),
                     query(line(0, 2, "B0000000").text, wire::kPacketNewItem)});
  });
  EXPECT_EQ(sellin(tokens_[1], line(1, 1, "B0000001").text, wire::kPacketNewItem), "ok");
  held.join();
  ASSERT_EQ(both.size(), 2u);
  EXPECT_FALSE(both[0].error || both[1].error) << both[0].text << " / " << both[1].text;
  EXPECT_EQ(texts("SELECT count(*) || '' FROM ticket_lines").at(0), "3");
}

}  // namespace
}  // namespace servertest
