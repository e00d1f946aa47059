// Log-ins, their failure limits, the pool that checks passwords, log lines,
// and the session tokens they give.
#include <future>
#include <map>

#include "server/services.h"
#include "server_fixture.h"
#include "wire/requests.h"

namespace servertest {
namespace {

using wire::requests::sessions;

using Login = BackendServerTest;
INSTANTIATE_TEST_SUITE_P(Backends, Login, kBothBackends, backendName);

TEST_P(Login, RightPasswordGivesAFreshTokenAndPasswordsAreKeptHashed) {
  const Answer a = loginAnswer(wire::kAppStipendo, "clerk", "clerk1");
  std::string error;
  const auto reply = wire::parseLoginReply(a.body, error);
  ASSERT_TRUE(a.status == 200 && reply) << a.status << " " << error << " in " << a.body;
  EXPECT_EQ(reply->user + " / " + reply->text, "clerk / Logged in as clerk");
  EXPECT_NE(login(wire::kAppStipendo, "clerk", "clerk1"), reply->token) << "every log-in must get its own token";
  for (const auto& row : sideConnection()->query("SELECT password_hash FROM users"))
    EXPECT_TRUE(storeserver::storage::textAt(row, 0).starts_with("$argon2id$")) << "a password kept unhashed";
}

TEST_P(Login, WrongPasswordUnknownUserAndDisabledUserAreRefused) {
  const Answer wrong = loginAnswer(wire::kAppSellin, "buyer", "not-it");
  EXPECT_EQ(wrong.status, 401) << wrong.body;
  EXPECT_EQ(wrong.sentence(), "The user name or password is wrong.");
  // A disabled user's right password neither: it would tell which names exist.
  for (const auto& [user, password] :
       {std::pair{"nobody", "buyer1"}, {"Buyer", "buyer1"}, {"", ""}, {"former", "former1"}}) {
    const Answer a = loginAnswer(wire::kAppSellin, user, password);
    EXPECT_TRUE(a.status == 401 && a.body == wrong.body) << user << " told apart from a wrong password: " << a.body;
  }
  EXPECT_EQ(loginAnswer(wire::kAppSellin, std::string(65, 'u'), "p").sentence(),
            "A user name has at most 64 characters.");
  EXPECT_EQ(loginAnswer(wire::kAppSellin, "clerk", std::string(129, 'p')).sentence(),
            "A password has at most 128 characters.");
}

TEST_P(Login, FailureLimitCountsPerNameWithinItsWindowUntilASuccess) {
  for (int round = 0; round < 2; ++round) {  // four failures and a success, twice: the success clears them
    for (int i = 0; i < 4; ++i) ASSERT_EQ(loginAnswer(wire::kAppSellin, "clerk", "x").status, 401);
    ASSERT_EQ(loginAnswer(wire::kAppSellin, "clerk", "clerk1").status, 200) << "round " << round;
  }

  // Each wrong buyer password in an exchange counts before the next is checked:
  // five are tried, the sixth and seventh are refused unchecked.
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

// Adoptra can do nothing without a location, so a store without any is a refusal.
TEST_P(Login, AdoptraGetsItsStoresLocationsOrASentenceWhenItHasNone) {
  std::string error;
  const auto reply = wire::parseLoginReply(loginAnswer(wire::kAppAdoptra, "clerk", "clerk1").body, error);
  ASSERT_TRUE(reply) << error;
  EXPECT_EQ(rows({false, reply->reply, 0, -1}, wire::layouts::location(), {"location_id", "code"}),
            (std::vector<std::string>{"000101|MAIN", "000102|ANNEX", "000103|TEXT2", "000104|WHSE"}));

  auto db = sideConnection();
  db->execute("DELETE FROM locations WHERE store_num = 1");
  const auto tokensBefore = db->query("SELECT token_hash FROM session_tokens").size();
  const Answer none = loginAnswer(wire::kAppAdoptra, "clerk", "clerk1");
  EXPECT_EQ(none.status, 403) << none.body;
  EXPECT_EQ(none.sentence(), "Store 1 has no locations yet; the back office must add one first.");
  EXPECT_EQ(db->query("SELECT token_hash FROM session_tokens").size(), tokensBefore) << "a token was issued";
  EXPECT_EQ(loginAnswer(wire::kAppStipendo, "clerk", "clerk1").status, 200) << "other programs need no location";
}

TEST_P(Login, LogLinesNeverHoldSecrets) {
  const std::string token = login(wire::kAppSellin, "clerk", "clerk1");
  exchange(wire::kAppSellin, token, {query(wire::requests::sessions("buyer", "buyer1", 1))});
  loginAnswer(wire::kAppSellin, "clerk", "wrong-secret");

  const auto lines = logLines();
  ASSERT_FALSE(lines.empty());
  for (const std::string& line : lines)
    for (const std::string& secret : {std::string("clerk1"), std::string("buyer1"), std::string("wrong-secret"), token})
      EXPECT_EQ(line.find(secret), std::string::npos) << "a secret in the log: " << line;
}

// Password checks on their own pool, here two threads and a queue of one;
// its gate holds them so that the test, not timing, decides when it is full.
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

// Each try is counted before its hash runs, so tries sent at once get exactly
// the limit of checks however many threads check them.
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

TEST_P(PasswordPool, AnAddressIsLimitedWhateverTheNamesItTries) {
  storeserver::ServerOptions o = options();
  o.maxFailedLoginsPerAddress = 3;
  start(o);
  for (const char* name : {"nobody1", "nobody2", "nobody3"})
    ASSERT_EQ(loginAnswer(wire::kAppStipendo, name, "x").status, 401) << name;
  const Answer refused = loginAnswer(wire::kAppStipendo, "clerk", "clerk1");
  EXPECT_EQ(refused.status, 429) << refused.body;
  EXPECT_EQ(refused.sentence(), "Too many failed log-ins from this handheld's network; try again in 15 minutes.");
}

// On PostgreSQL the servers of a chain take one lock for their writes; a
// log-in's counted tries, its token and a proven buyer are rows of their own
// and need not wait for it.
using ChainLock = BackendServerTest;
INSTANTIATE_TEST_SUITE_P(Postgres, ChainLock, ::testing::Values(Backend::Postgres), backendName);

TEST_P(ChainLock, LogInsAndBuyerPasswordsDoNotWaitForIt) {
  auto writer = sideConnection();
  storeserver::storage::Transaction held(*writer, storeserver::storage::TxMode::Write);
  EXPECT_EQ(loginAnswer(wire::kAppSellin, "clerk", "wrong").status, 401);
  const std::string token = login(wire::kAppSellin, "clerk", "clerk1");
  EXPECT_FALSE(askWith(wire::kAppSellin, token, query(sessions("buyer", "buyer1", 1))).error);
}

// Tokens live in the database, so a restarted server, or any other, knows them.
// How a missing, unknown, foreign, disabled or expired session is refused is
// the ticket test's, on both backends.
using Token = ServerTest;

TEST_F(Token, OutlivesARestart) {
  const std::string token = login(wire::kAppAdoptra, "clerk", "clerk1");
  start(options());
  EXPECT_EQ(exchangeAnswer(wire::kAppAdoptra, token, {query(wire::requests::aidAccounts("S100200"))}).status, 200);
}

}  // namespace
}  // namespace servertest
