#include <thread>

#include "server_fixture.h"
#include "wire/requests.h"

namespace servertest {
namespace {

using Login = ServerTest;

TEST_F(Login, RightPasswordGivesATokenAndAShortStatus) {
  const Answer a = loginAnswer(wire::kAppStipendo, "clerk", "clerk1");
  ASSERT_EQ(a.status, 200) << a.body;
  std::string error;
  const auto reply = wire::parseLoginReply(a.body, error);
  ASSERT_TRUE(reply) << error << " in " << a.body;
  EXPECT_EQ(reply->user, "clerk");
  EXPECT_EQ(reply->text, "Logged in as clerk");
  EXPECT_EQ(reply->reply, "") << "only Adoptra gets records at log-in";
  EXPECT_GE(reply->token.size(), 32u) << a.body;
  EXPECT_NE(login(wire::kAppStipendo, "clerk", "clerk1"), reply->token) << "every log-in gets its own token";
}

TEST_F(Login, WrongPasswordAndUnknownUserGetTheSameAnswer) {
  const Answer wrong = loginAnswer(wire::kAppSellin, "buyer", "not-it");
  const Answer unknown = loginAnswer(wire::kAppSellin, "nobody", "buyer1");
  const Answer caseDiffers = loginAnswer(wire::kAppSellin, "Buyer", "buyer1");
  EXPECT_EQ(wrong.status, 401) << wrong.body;
  EXPECT_EQ(wire::parseErrorBody(wrong.body), "The user name or password is wrong.") << wrong.body;
  EXPECT_EQ(unknown.status, 401) << unknown.body;
  EXPECT_EQ(unknown.body, wrong.body);
  EXPECT_EQ(caseDiffers.body, wrong.body);
}

TEST_F(Login, DisabledUserCannotLogIn) {
  const Answer a = loginAnswer(wire::kAppSellin, "former", "former1");
  EXPECT_EQ(a.status, 401) << a.body;
  EXPECT_EQ(wire::parseErrorBody(a.body), "The user former is disabled.") << a.body;
}

TEST_F(Login, AdoptraGetsTheLocationsOfItsUsersStore) {
  const Answer a = loginAnswer(wire::kAppAdoptra, "clerk", "clerk1");
  ASSERT_EQ(a.status, 200) << a.body;
  std::string error;
  const auto reply = wire::parseLoginReply(a.body, error);
  ASSERT_TRUE(reply) << error;
  const auto& layout = wire::layouts::location();
  const auto records = cut(reply->reply, layout);
  ASSERT_EQ(records.size(), 4u) << reply->reply;
  const std::vector<std::pair<std::string, std::string>> expected = {
      {"000101", "Main Floor"}, {"000102", "  Annex"}, {"000103", "Textbooks, Second Floor"}, {"000104", " Warehouse"}};
  for (std::size_t i = 0; i < records.size(); ++i) {
    ASSERT_EQ(records[i].text.size(), layout.dataSize()) << reply->reply;
    EXPECT_EQ(records[i].text.substr(0, 3), u"LOC");
    EXPECT_EQ(records[i].text.back(), u'\r');
    EXPECT_EQ(records[i].field("store_num"), "0001");
    EXPECT_EQ(records[i].field("location_id"), expected[i].first);
    EXPECT_EQ(records[i].field("name"), expected[i].second) << "leading blanks are the client's to trim";
  }

  const Answer north = loginAnswer(wire::kAppAdoptra, "manager", "manager1");
  ASSERT_EQ(north.status, 200) << north.body;
  const auto northReply = wire::parseLoginReply(north.body, error);
  ASSERT_TRUE(northReply) << error;
  const auto northRecords = cut(northReply->reply, layout);
  ASSERT_EQ(northRecords.size(), 2u) << northReply->reply;
  for (const Record& r : northRecords) EXPECT_EQ(r.field("store_num"), "0002") << northReply->reply;
  EXPECT_EQ(northRecords[1].field("name"), "  Library Kiosk");
}

TEST_F(Login, FailureLimitAnswers429AndSaysWhenToTryAgain) {
  for (int i = 0; i < 5; ++i) {
    const Answer a = loginAnswer(wire::kAppSellin, "buyer", "guess" + std::to_string(i));
    ASSERT_EQ(a.status, 401) << "attempt " << i << ": " << a.body;
  }
  const Answer blocked = loginAnswer(wire::kAppSellin, "buyer", "buyer1");
  EXPECT_EQ(blocked.status, 429) << blocked.body;
  EXPECT_EQ(wire::parseErrorBody(blocked.body), "Too many failed log-ins for buyer; try again in 15 minutes.")
      << blocked.body;
  const std::string retry = blocked.header("Retry-After");
  EXPECT_FALSE(retry.empty()) << blocked.body;
  EXPECT_GT(std::atoi(retry.c_str()), 14 * 60) << retry;

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
  EXPECT_EQ(wire::parseErrorBody(blocked.body), "Too many failed log-ins for buyer; try again in 1 minute.")
      << blocked.body;
  std::this_thread::sleep_for(std::chrono::milliseconds(400));
  const Answer later = loginAnswer(wire::kAppSellin, "buyer", "buyer1");
  EXPECT_EQ(later.status, 200) << later.body;
}

TEST_F(Login, LogLinesNameUserAndKindsButNeverSecrets) {
  const std::string token = login(wire::kAppSellin, "clerk", "clerk1");
  ASSERT_FALSE(token.empty());
  exchange(wire::kAppSellin, token, {query(wire::requests::sessions("buyer", "buyer1", 1))});
  loginAnswer(wire::kAppSellin, "clerk", "wrong-secret");

  const auto lines = logLines();
  ASSERT_GE(lines.size(), 3u);
  bool sawLogin = false, sawExchange = false, sawRefusal = false;
  for (const std::string& line : lines) {
    EXPECT_EQ(line.find("clerk1"), std::string::npos) << line;
    EXPECT_EQ(line.find("buyer1"), std::string::npos) << line;
    EXPECT_EQ(line.find("wrong-secret"), std::string::npos) << line;
    EXPECT_EQ(line.find(token), std::string::npos) << line;
    EXPECT_EQ(line.find('\n'), std::string::npos) << line;
    EXPECT_NE(line.find(" ms="), std::string::npos) << line;
    sawLogin |= line.find("login user=clerk app=0 outcome=ok") != std::string::npos;
    sawExchange |= line.find("exchange user=clerk app=0 requests=sl_sessions outcome=ok") != std::string::npos;
    sawRefusal |= line.find("login user=clerk app=0 outcome=refused") != std::string::npos;
  }
  EXPECT_TRUE(sawLogin && sawExchange && sawRefusal) << ::testing::PrintToString(lines);
}

}  // namespace
}  // namespace servertest
