// Log-ins, their failure limit and log lines, and the session tokens they give.
#include "server_fixture.h"
#include "wire/requests.h"

namespace servertest {
namespace {

using wire::requests::sessions;

using Login = ServerTest;

TEST_F(Login, RightPasswordGivesAFreshTokenAndPasswordsAreKeptHashed) {
  const Answer a = loginAnswer(wire::kAppStipendo, "clerk", "clerk1");
  std::string error;
  const auto reply = wire::parseLoginReply(a.body, error);
  ASSERT_TRUE(a.status == 200 && reply) << a.status << " " << error << " in " << a.body;
  EXPECT_EQ(reply->user + " / " + reply->text, "clerk / Logged in as clerk");
  EXPECT_EQ(reply->reply, "") << "only Adoptra gets records at log-in";
  EXPECT_NE(login(wire::kAppStipendo, "clerk", "clerk1"), reply->token) << "every log-in must get its own token";
  for (const auto& row : sideConnection()->query("SELECT password_hash FROM users"))
    EXPECT_TRUE(storeserver::storage::textAt(row, 0).starts_with("$argon2id$")) << "a password kept unhashed";
}

TEST_F(Login, WrongPasswordUnknownUserAndDisabledUserAreRefused) {
  const Answer wrong = loginAnswer(wire::kAppSellin, "buyer", "not-it");
  EXPECT_EQ(wrong.status, 401) << wrong.body;
  EXPECT_EQ(wrong.sentence(), "The user name or password is wrong.");
  for (const auto& [user, password] : {std::pair{"nobody", "buyer1"}, {"Buyer", "buyer1"}, {"", ""}}) {
    const Answer a = loginAnswer(wire::kAppSellin, user, password);
    EXPECT_TRUE(a.status == 401 && a.body == wrong.body) << "an unknown name must not be told apart: " << user;
  }
  EXPECT_EQ(loginAnswer(wire::kAppSellin, "former", "former1").sentence(), "The user former is disabled.");
  EXPECT_EQ(loginAnswer(wire::kAppSellin, std::string(65, 'u'), "p").sentence(),
            "A user name has at most 64 characters.");
  EXPECT_EQ(loginAnswer(wire::kAppSellin, "clerk", std::string(129, 'p')).sentence(),
            "A password has at most 128 characters.");
}

TEST_F(Login, FailureLimitCountsPerNameWithinItsWindowUntilASuccess) {
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
  EXPECT_EQ(storeserver::storage::integerAt(
                sideConnection()->query("SELECT COUNT(*) FROM login_failures WHERE user_name = 'buyer'")[0], 0),
            5);
  const Answer refused = loginAnswer(wire::kAppSellin, "buyer", "buyer1");
  EXPECT_EQ(refused.status, 429) << refused.body;
  EXPECT_EQ(refused.sentence(), blocked);
  EXPECT_EQ(loginAnswer(wire::kAppSellin, "manager", "manager1").status, 200) << "the limit is per user name";
}

// Adoptra can do nothing without a location, so a store without any is a refusal.
TEST_F(Login, AdoptraGetsItsStoresLocationsOrASentenceWhenItHasNone) {
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

TEST_F(Login, LogLinesNeverHoldSecrets) {
  const std::string token = login(wire::kAppSellin, "clerk", "clerk1");
  exchange(wire::kAppSellin, token, {query(wire::requests::sessions("buyer", "buyer1", 1))});
  loginAnswer(wire::kAppSellin, "clerk", "wrong-secret");

  const auto lines = logLines();
  ASSERT_FALSE(lines.empty());
  for (const std::string& line : lines)
    for (const std::string& secret : {std::string("clerk1"), std::string("buyer1"), std::string("wrong-secret"), token})
      EXPECT_EQ(line.find(secret), std::string::npos) << "a secret in the log: " << line;
}

using Token = ServerTest;

const std::string kAid = wire::requests::aidAccounts("S100200");

TEST_F(Token, OutlivesARestartButMissingUnknownForeignOrDisabledSessionsAreRefused) {
  const std::string token = login(wire::kAppAdoptra, "clerk", "clerk1");
  std::string altered = token;
  altered[0] = altered[0] == '0' ? '1' : '0';
  const std::vector<std::tuple<const char*, int, std::string, std::string>> cases = {
      {"", wire::kAppAdoptra, "", "No session token was sent; log in first."},
      {"", wire::kAppAdoptra, altered, "The session is not known to the store server; log in again."},
      {"", wire::kAppStipendo, token, "The session belongs to another program; log in again."},
      {"UPDATE users SET active = 0 WHERE user_name = 'clerk'", wire::kAppAdoptra, token,
       "The user clerk is disabled."},
  };
  start(options());  // tokens live in the database, so any instance, or a restarted one, knows them
  EXPECT_EQ(exchangeAnswer(wire::kAppAdoptra, token, {query(kAid)}).status, 200) << "the token itself is good";
  for (const auto& [change, app, sent, expected] : cases) {
    if (*change) sideConnection()->execute(change);  // as an administrator would, or as time does
    const Answer a = exchangeAnswer(app, sent, {query(kAid)});
    EXPECT_EQ(a.status, 401) << expected << " -> " << a.body;
    EXPECT_EQ(a.sentence(), expected);
  }
}

}  // namespace
}  // namespace servertest
