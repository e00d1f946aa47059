// Log-ins, their failure limits, the pool that checks passwords, log lines,
// and the session tokens they give.
#include <future>
#include <map>
#include <thread>

#include "admin_fixture.h"
#include "server/services.h"
#include "wire/requests.h"

namespace servertest {
namespace {

using wire::requests::sessions;

using Login = BackendServerTest;
INSTANTIATE_TEST_SUITE_P(Backends, Login, kBothBackends, backendName);

// A disabled user's right password is refused as a wrong one: it would tell which names exist.
// No password or token reaches the log, and tokens live in the database, so a restart keeps them.
TEST_P(Login, RightPasswordsGetFreshTokensWrongOnesOneRefusalAndTheLogNoSecret) {
  const Answer a = loginAnswer(wire::kAppStipendo, "clerk", "clerk1");
  std::string error;
  const auto reply = wire::parseLoginReply(a.body, error);
  ASSERT_TRUE(a.status == 200 && reply) << a.status << " " << error << " in " << a.body;
  EXPECT_EQ(reply->user + " / " + reply->text, "clerk / Logged in as clerk");
  const std::string token = login(wire::kAppSellin, "clerk", "clerk1");
  EXPECT_NE(token, reply->token) << "every log-in must get its own token";
  for (const auto& row : sideConnection()->query("SELECT password_hash FROM users"))
    EXPECT_TRUE(storeserver::storage::textAt(row, 0).starts_with("$argon2id$")) << "a password kept unhashed";

  const Answer wrong = loginAnswer(wire::kAppSellin, "buyer", "wrong-secret");
  EXPECT_EQ(wrong.status, 401) << wrong.body;
  EXPECT_EQ(wrong.sentence(), "The user name or password is wrong.");
  for (const auto& [user, password] :
       {std::pair{"nobody", "buyer1"}, {"Buyer", "buyer1"}, {"", ""}, {"former", "former1"}, {"clerk1", "clerk"}}) {
    const Answer b = loginAnswer(wire::kAppSellin, user, password);
    EXPECT_TRUE(b.status == 401 && b.body == wrong.body) << user << " told apart from a wrong password: " << b.body;
  }
  EXPECT_EQ(loginAnswer(wire::kAppSellin, std::string(65, 'u'), "p").sentence(),
            "A user name has at most 64 characters.");
  EXPECT_EQ(loginAnswer(wire::kAppSellin, "clerk", std::string(129, 'p')).sentence(),
            "A password has at most 128 characters.");
  for (const std::string& line : logLines())
    for (const std::string& secret : {std::string("clerk1"), std::string("buyer1"), std::string("wrong-secret"), token})
      EXPECT_EQ(line.find(secret), std::string::npos) << "a secret in the log: " << line;

  start(options());  // a stopping server writes the tries it counted
  const auto subjects = texts("SELECT subject FROM login_tries WHERE kind = 'user'");
  EXPECT_EQ(std::ranges::count(subjects, "buyer"), 1) << "buyer's wrong password was not kept";
  for (const std::string& subject : subjects)
    EXPECT_EQ(subject.find("clerk1"), std::string::npos) << "a password typed as a name";
  EXPECT_EQ(exchangeAnswer(wire::kAppStipendo, reply->token, {query(wire::requests::aidAccounts("S100200"))}).status,
            200)
      << "a token lost in a restart";
}

TEST_P(Login, FailureLimitCountsPerNameWithinItsWindowUntilASuccess) {
  for (int round = 0; round < 2; ++round) {  // four failures and a success, twice: the success clears them
    for (int i = 0; i < 4; ++i) ASSERT_EQ(loginAnswer(wire::kAppSellin, "clerk", "x").status, 401);
    ASSERT_EQ(loginAnswer(wire::kAppSellin, "clerk", "clerk1").status, 200) << "round " << round;
  }

  // Wrong buyer passwords in one exchange: five are tried, the sixth and seventh refused unchecked.
  const std::string token = login(wire::kAppSellin, "clerk", "clerk1");
  std::vector<std::string> texts;
  for (const wire::Reply& r : exchange(wire::kAppSellin, token, std::vector(7, query(sessions("buyer", "guess", 1)))))
    texts.push_back(r.text);
  const std::string wrong = "The buyer user name or password is wrong.";
  const std::string blocked = "Too many failed log-ins for buyer; try again in 15 minutes.";
  EXPECT_EQ(texts, (std::vector{wrong, wrong, wrong, wrong, wrong, blocked, blocked}));
  const Answer refused = loginAnswer(wire::kAppSellin, "buyer", "buyer1");
  EXPECT_EQ(refused.status, 429) << refused.body;
  EXPECT_EQ(refused.sentence(), blocked);
  EXPECT_EQ(loginAnswer(wire::kAppSellin, "manager", "manager1").status, 200) << "the limit is per user name";
}

// Tries are counted in each server's memory and written a moment later: a second server on the database (as one
// restarted) reads them and refuses too.
TEST_P(Login, AServerSharingTheDatabaseRefusesANameTheLimitLocked) {
  for (int i = 0; i < 5; ++i) ASSERT_EQ(loginAnswer(wire::kAppStipendo, "clerk", "x").status, 401);
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while (texts("SELECT CAST(tries AS TEXT) FROM login_tries WHERE subject = 'clerk'") != std::vector<std::string>{"5"})
    ASSERT_LT(std::chrono::steady_clock::now(), deadline) << "the tries were never written";

  std::string error;
  const auto other = storeserver::StoreServer::start(options(), error);
  ASSERT_TRUE(other) << error;
  const auto refused =
      post(std::string(wire::kLoginPath), wire::toJson(wire::LoginRequest{wire::kAppStipendo, "clerk", "clerk1"}),
           "application/json", other->port());
  EXPECT_EQ(refused.status, 429) << refused.body;
}

// Trying passwords writes nothing: while an administrator holds the database's write lock, a flood of log-ins on
// both doors is answered, and a buyer's ticket changes beside it are all saved (on SQLite once the lock goes).
TEST_P(Login, AFloodOfLogInsBesideTicketChangesFailsNothingWhileTheDatabaseIsLocked) {
  const std::string token = login(wire::kAppSellin, "buyer", "buyer1");
  const std::string receipt = openTicket(token);
  auto administrator = sideConnection();
  std::optional<storeserver::storage::Transaction> lock(std::in_place, *administrator,
                                                        storeserver::storage::TxMode::Write);
  if (GetParam() == Backend::Postgres) administrator->execute("LOCK TABLE login_tries IN EXCLUSIVE MODE");

  std::mutex mutex;
  std::vector<std::string> failures;
  const auto failed = [&](std::string what) {
    std::lock_guard guard(mutex);
    failures.push_back(std::move(what));
  };
  std::thread buyer([&] {
    for (std::int64_t line = 1; line <= 4; ++line)
      for (const auto& [packet, qty] :
           {std::pair{wire::kPacketNewItem, 1}, {wire::kPacketChange, 2}, {wire::kPacketDelete, 2}})
        if (std::string r = sellin(token, itemText(receipt, {.line = line, .qty = qty}), packet); r != "ok")
          failed("line " + std::to_string(line) + ": " + r);
  });
  std::vector<std::thread> flood;
  for (int door = 0; door < 4; ++door)
    flood.emplace_back([&, door] {
      AdminBrowser browser(port_);
      for (int i = 0; i < 6; ++i) {
        const std::string name = "flood-" + std::to_string(door) + "-" + std::to_string(i);
        const Answer a = door % 2 ? browser.logIn(name, "x") : loginAnswer(wire::kAppStipendo, name, "x");
        if (a.status != 401 && a.status != 429 && a.status != 503) failed(std::to_string(a.status) + " " + a.body);
      }
    });
  for (std::thread& t : flood) t.join();
  lock.reset();
  buyer.join();
  EXPECT_EQ(failures, std::vector<std::string>{});
}

// Adoptra can do nothing without a location, so a log-in whose user may look up none is a refusal (the locations
// it may look up are the shell test's, on the program's start dialog).
TEST_P(Login, AdoptraGetsASentenceWhenItsUserMayLookUpNoLocation) {
  auto db = sideConnection();
  db->execute("DELETE FROM locations WHERE store_num = 2");
  const auto tokensBefore = db->query("SELECT token_hash FROM session_tokens").size();
  const Answer none = loginAnswer(wire::kAppAdoptra, "manager", "manager1");
  EXPECT_EQ(none.status, 403) << none.body;
  EXPECT_EQ(none.sentence(), "Store 2 has no locations yet; the back office must add one first.");
  EXPECT_EQ(db->query("SELECT token_hash FROM session_tokens").size(), tokensBefore) << "a token was issued";
  EXPECT_EQ(loginAnswer(wire::kAppStipendo, "manager", "manager1").status, 200) << "other programs need no location";
}

// Two password checkers and a queue of one, held by the gate so the test, not timing, fills it.
class PasswordPool : public BackendServerTest {
 protected:
  storeserver::ServerOptions options() const override {
    storeserver::ServerOptions o = BackendServerTest::options();
    o.authQueue = 1;
    o.authPoolGate = gate_;
    return o;
  }
  std::future<Answer> loginLater(const std::string& user, const std::string& password) const {
    return std::async(std::launch::async, [=, this] { return loginAnswer(wire::kAppStipendo, user, password); });
  }
  // The answers' statuses and how many of each.
  static std::map<int, int> statuses(std::vector<std::future<Answer>>& answers) {
    std::map<int, int> count;
    for (auto& a : answers) ++count[a.get().status];
    return count;
  }
  static auto deadline() { return std::chrono::steady_clock::now() + std::chrono::seconds(10); }

  std::shared_ptr<storeserver::AuthPoolGate> gate_ = std::make_shared<storeserver::AuthPoolGate>();
};
INSTANTIATE_TEST_SUITE_P(Backends, PasswordPool, kBothBackends, backendName);

TEST_P(PasswordPool, WhenFullLogInsAreRefusedAtOnceAndQueriesStillAnswered) {
  const std::string adoptra = login(wire::kAppAdoptra, "clerk", "clerk1");
  const std::string sellin = login(wire::kAppSellin, "clerk", "clerk1");
  std::vector<std::future<Answer>> held;
  struct Release {
    storeserver::AuthPoolGate& gate;
    ~Release() { gate.release(); }
  } release{*gate_};  // before the futures wait for their answers
  ASSERT_TRUE(gate_->waitIdle(deadline())) << "the log-ins answered are still in the pool";
  gate_->hold();
  for (std::size_t taken = 3; taken <= 5; ++taken) {  // two running, one queued
    held.push_back(loginLater("clerk", "clerk1"));
    ASSERT_TRUE(gate_->waitTaken(taken, deadline())) << "log-in " << taken << " never reached the pool";
  }

  const Answer busy = loginAnswer(wire::kAppStipendo, "clerk", "clerk1");
  EXPECT_EQ(busy.status, 503) << busy.body;
  EXPECT_EQ(busy.header("Retry-After"), "1");
  EXPECT_EQ(busy.sentence(), "The store server is busy checking passwords; try again in a moment.");
  const Answer page = AdminBrowser(port_).logIn("office", "office1");
  EXPECT_EQ(std::tuple(page.status, page.header("Content-Type"), page.header("Retry-After"), pageSentence(page.body)),
            std::tuple(503, std::string("text/html; charset=utf-8"), std::string("1"), busy.sentence()))
      << "the back office's log-in, on the same pool, is answered as a page";
  EXPECT_EQ(exchangeAnswer(wire::kAppSellin, sellin, {query(sessions("buyer", "buyer1", 1))}).status, 503)
      << "a buyer's password is checked on the same pool";
  std::string escaped = sessions("buyer", "buyer1", 1);
  escaped.replace(escaped.find("sl_sessions"), 11, "sl_sess\\u0069ons");
  EXPECT_EQ(exchangeAnswer(wire::kAppSellin, sellin, {query(escaped)}).status, 503)
      << "a request's name escaped in its text is the same request, for the same pool";
  EXPECT_EQ(exchangeAnswer(wire::kAppAdoptra, adoptra, {query(wire::requests::aidAccounts("S100200"))}).status, 200);
  EXPECT_EQ(get("/v1/health").status, 200);

  gate_->release();
  EXPECT_EQ(statuses(held), (std::map<int, int>{{200, 3}}));
}

// Each try is counted before its hash runs: tries sent at once get exactly the limit of checks.
TEST_P(PasswordPool, ConcurrentWrongPasswordsGetExactlyTheLimitOfTries) {
  storeserver::ServerOptions o = options();
  o.authThreads = 8;
  o.authQueue = 40;
  start(o);
  // A hash slow enough (8 MiB) that the tries overlap while it runs.
  sideConnection()->execute("UPDATE users SET password_hash = ? WHERE user_name = 'clerk'",
                            {storeserver::hashPassword("clerk1", {1, std::size_t(8) << 20})});
  std::vector<std::future<Answer>> answers;
  for (int i = 0; i < 40; ++i) answers.push_back(loginLater("clerk", "wrong"));
  EXPECT_EQ(statuses(answers), (std::map<int, int>{{401, 5}, {429, 35}}));
  EXPECT_EQ(loginAnswer(wire::kAppStipendo, "clerk", "clerk1").status, 429) << "the name's limit is reached";
}

// A log-in's tries, its token and a proven buyer need not wait for a chain's write lock on PostgreSQL.
using ChainLock = BackendServerTest;
INSTANTIATE_TEST_SUITE_P(Postgres, ChainLock, ::testing::Values(Backend::Postgres), backendName);

TEST_P(ChainLock, LogInsAndBuyerPasswordsDoNotWaitForIt) {
  auto writer = sideConnection();
  storeserver::storage::Transaction held(*writer, storeserver::storage::TxMode::Write);
  EXPECT_EQ(loginAnswer(wire::kAppSellin, "clerk", "wrong").status, 401);
  const std::string token = login(wire::kAppSellin, "clerk", "clerk1");
  EXPECT_FALSE(askWith(wire::kAppSellin, token, query(sessions("buyer", "buyer1", 1))).error);
}

}  // namespace
}  // namespace servertest
