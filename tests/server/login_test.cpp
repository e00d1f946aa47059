#include <thread>

#include "server_fixture.h"
#include "wire/requests.h"

namespace servertest {
namespace {

using Login = ServerTest;

TEST_F(Login, RightPasswordGivesATokenAndAShortStatus) {
  const Answer a = loginAnswer(wire::kAppStipendo, "clerk", "clerk1");
  std::string error;
  const auto reply = wire::parseLoginReply(a.body, error);
  ASSERT_EQ(a.status, 200) << a.body;
  ASSERT_TRUE(reply) << error << " in " << a.body;
  EXPECT_EQ(reply->user, "clerk");
  EXPECT_EQ(reply->text, "Logged in as clerk");
  EXPECT_EQ(reply->reply, "") << "only Adoptra gets records at log-in";
  EXPECT_NE(login(wire::kAppStipendo, "clerk", "clerk1"), reply->token) << "every log-in gets its own token";
}

TEST_F(Login, WrongPasswordUnknownUserAndDisabledUserAreRefused) {
  const Answer wrong = loginAnswer(wire::kAppSellin, "buyer", "not-it");
  EXPECT_EQ(wrong.status, 401) << wrong.body;
  EXPECT_EQ(wrong.sentence(), "The user name or password is wrong.");
  for (const auto& [user, password] : {std::pair{"nobody", "buyer1"}, {"Buyer", "buyer1"}, {"", ""}}) {
    const Answer a = loginAnswer(wire::kAppSellin, user, password);
    EXPECT_EQ(a.status, 401) << user;
    EXPECT_EQ(a.body, wrong.body) << "an unknown name must not be told apart: " << user;
  }
  const Answer disabled = loginAnswer(wire::kAppSellin, "former", "former1");
  EXPECT_EQ(disabled.status, 401) << disabled.body;
  EXPECT_EQ(disabled.sentence(), "The user former is disabled.");
}

TEST_F(Login, AdoptraGetsTheLocationsOfItsUsersStore) {
  const std::vector<std::tuple<std::string, std::string, std::vector<std::string>>> cases = {
      {"clerk", "clerk1", {"0001|000101|MAIN|Main Floor", "0001|000102|ANNEX|  Annex",
                           "0001|000103|TEXT2|Textbooks, Second Floor", "0001|000104|WHSE| Warehouse"}},
      {"manager", "manager1", {"0002|000201|NORTH|North Store", "0002|000202|KIOSK|  Library Kiosk"}},
  };
  const auto& layout = wire::layouts::location();
  for (const auto& [user, password, expected] : cases) {
    const Answer a = loginAnswer(wire::kAppAdoptra, user, password);
    std::string error;
    const auto reply = wire::parseLoginReply(a.body, error);
    ASSERT_TRUE(a.status == 200 && reply) << a.body;
    std::vector<std::string> seen;
    for (const Record& r : cut(reply->reply, layout)) {
      EXPECT_EQ(r.text.size(), layout.dataSize()) << reply->reply;
      EXPECT_TRUE(r.text.starts_with(u"LOC") && r.text.ends_with(u"\r")) << reply->reply;
      seen.push_back(r.field("store_num") + "|" + r.field("location_id") + "|" + r.field("code") + "|" +
                     r.field("name"));
    }
    EXPECT_EQ(seen, expected) << "leading blanks of names are the client's to trim";
  }
}

TEST_F(Login, FailureLimitAnswers429AndSaysWhenToTryAgain) {
  for (int i = 0; i < 5; ++i) ASSERT_EQ(loginAnswer(wire::kAppSellin, "buyer", "guess").status, 401) << i;
  const Answer blocked = loginAnswer(wire::kAppSellin, "buyer", "buyer1");
  EXPECT_EQ(blocked.status, 429) << blocked.body;
  EXPECT_EQ(blocked.sentence(), "Too many failed log-ins for buyer; try again in 15 minutes.");
  EXPECT_GT(std::atoi(blocked.header("retry-after").c_str()), 14 * 60) << blocked.header("retry-after");
  EXPECT_EQ(loginAnswer(wire::kAppSellin, "clerk", "clerk1").status, 200) << "the limit is per user name";
}

TEST_F(Login, SuccessfulLogInClearsEarlierFailures) {
  for (int round = 0; round < 2; ++round) {
    for (int i = 0; i < 4; ++i) ASSERT_EQ(loginAnswer(wire::kAppSellin, "clerk", "x").status, 401);
    const Answer ok = loginAnswer(wire::kAppSellin, "clerk", "clerk1");
    ASSERT_EQ(ok.status, 200) << "round " << round << ": " << ok.body;
  }
}

TEST_F(Login, FailuresCountOnlyWithinTheirWindow) {
  auto o = options();
  o.maxFailedLogins = 2;
  o.failedLoginWindow = std::chrono::milliseconds(300);
  start(o);
  ASSERT_EQ(loginAnswer(wire::kAppSellin, "buyer", "x").status, 401);
  ASSERT_EQ(loginAnswer(wire::kAppSellin, "buyer", "y").status, 401);
  const Answer blocked = loginAnswer(wire::kAppSellin, "buyer", "buyer1");
  ASSERT_EQ(blocked.status, 429) << blocked.body;
  EXPECT_EQ(blocked.sentence(), "Too many failed log-ins for buyer; try again in 1 minute.");
  std::this_thread::sleep_for(std::chrono::milliseconds(400));
  const Answer later = loginAnswer(wire::kAppSellin, "buyer", "buyer1");
  EXPECT_EQ(later.status, 200) << later.body;
}

TEST_F(Login, LogLinesNameUserAndKindsButNeverSecrets) {
  const std::string token = login(wire::kAppSellin, "clerk", "clerk1");
  exchange(wire::kAppSellin, token, {query(wire::requests::sessions("buyer", "buyer1", 1))});
  loginAnswer(wire::kAppSellin, "clerk", "wrong-secret");

  std::string all;
  for (const std::string& line : logLines()) {
    for (const std::string& secret : {std::string("clerk1"), std::string("buyer1"), std::string("wrong-secret"), token})
      EXPECT_EQ(line.find(secret), std::string::npos) << line;
    EXPECT_NE(line.find(" ms="), std::string::npos) << line;
    all += line + "\n";
  }
  for (const char* expected : {"login user=clerk app=0 outcome=ok", "exchange user=clerk app=0 requests=sl_sessions outcome=ok",
                               "login user=clerk app=0 outcome=refused"})
    EXPECT_NE(all.find(expected), std::string::npos) << expected << " in\n" << all;
}

}  // namespace
}  // namespace servertest
