#include <thread>

#include "server_fixture.h"
#include "wire/requests.h"

namespace servertest {
namespace {

using Token = ServerTest;

const std::string kAid = wire::requests::aidAccounts("S100200");

TEST_F(Token, MissingUnknownOrOtherProgramsTokenIsRefused) {
  const std::string token = login(wire::kAppAdoptra, "clerk", "clerk1");
  std::string altered = token;
  altered[0] = altered[0] == '0' ? '1' : '0';
  const std::vector<std::tuple<int, std::string, std::string>> cases = {
      {wire::kAppAdoptra, "", "No session token was sent; log in first."},
      {wire::kAppAdoptra, altered, "The session is not known to the store server; log in again."},
      {wire::kAppStipendo, token, "The session belongs to another program; log in again."},
  };
  for (const auto& [app, sent, expected] : cases) {
    const Answer a = exchangeAnswer(app, sent, {query(kAid)});
    EXPECT_EQ(a.status, 401) << a.body;
    EXPECT_EQ(a.sentence(), expected);
  }
  EXPECT_EQ(exchangeAnswer(wire::kAppAdoptra, token, {query(kAid)}).status, 200);
}

TEST_F(Token, ExpiredTokenIsRefused) {
  auto o = options();
  o.tokenLifetime = std::chrono::milliseconds(1);
  start(o);
  const std::string token = login(wire::kAppStipendo, "clerk", "clerk1");
  std::this_thread::sleep_for(std::chrono::milliseconds(20));
  const Answer a = exchangeAnswer(wire::kAppStipendo, token, {query(kAid)});
  EXPECT_EQ(a.status, 401) << a.body;
  EXPECT_EQ(a.sentence(), "The session has expired; log in again.");
}

TEST_F(Token, TokenOutlivesARestartBecauseItIsKeptInTheDatabase) {
  const std::string token = login(wire::kAppStipendo, "clerk", "clerk1");
  start(options());
  const auto replies = exchange(wire::kAppStipendo, token, {query(kAid)});
  ASSERT_EQ(replies.size(), 1u);
  EXPECT_FALSE(replies[0].error) << replies[0].text;
}

TEST_F(Token, UserDisabledAfterLogInIsRefused) {
  const std::string token = login(wire::kAppStipendo, "clerk", "clerk1");
  sideConnection()->execute("UPDATE users SET active = 0 WHERE user_name = 'clerk'");
  const Answer a = exchangeAnswer(wire::kAppStipendo, token, {query(kAid)});
  EXPECT_EQ(a.status, 401) << a.body;
  EXPECT_EQ(a.sentence(), "The user clerk is disabled.");
}

}  // namespace
}  // namespace servertest
