#include <thread>

#include "server_fixture.h"
#include "wire/requests.h"

namespace servertest {
namespace {

using Token = ServerTest;

const std::string kAid = wire::requests::aidAccounts("S100200");

std::string sentence(const Answer& a) { return wire::parseErrorBody(a.body).value_or("(no error body) " + a.body); }

TEST_F(Token, MissingOrUnknownTokenIsRefused) {
  const Answer none = exchangeAnswer(wire::kAppStipendo, "", {query(kAid)});
  EXPECT_EQ(none.status, 401) << none.body;
  EXPECT_EQ(sentence(none), "No session token was sent; log in first.");

  const Answer unknown = exchangeAnswer(wire::kAppStipendo, std::string(64, 'a'), {query(kAid)});
  EXPECT_EQ(unknown.status, 401) << unknown.body;
  EXPECT_EQ(sentence(unknown), "The session is not known to the store server; log in again.");

  const std::string token = login(wire::kAppStipendo, "clerk", "clerk1");
  ASSERT_FALSE(token.empty());
  std::string altered = token;
  altered[0] = altered[0] == '0' ? '1' : '0';
  const Answer changed = exchangeAnswer(wire::kAppStipendo, altered, {query(kAid)});
  EXPECT_EQ(changed.status, 401) << changed.body;
}

TEST_F(Token, TokenWorksOnlyForTheProgramItWasIssuedTo) {
  const std::string token = login(wire::kAppAdoptra, "clerk", "clerk1");
  ASSERT_FALSE(token.empty());
  const Answer other = exchangeAnswer(wire::kAppStipendo, token, {query(kAid)});
  EXPECT_EQ(other.status, 401) << other.body;
  EXPECT_EQ(sentence(other), "The session belongs to another program; log in again.");
  EXPECT_EQ(exchangeAnswer(wire::kAppAdoptra, token, {query(kAid)}).status, 200);
}

TEST_F(Token, ExpiredTokenIsRefused) {
  auto o = options();
  o.tokenLifetime = std::chrono::milliseconds(1);
  start(o);
  const std::string token = login(wire::kAppStipendo, "clerk", "clerk1");
  ASSERT_FALSE(token.empty());
  std::this_thread::sleep_for(std::chrono::milliseconds(20));
  const Answer a = exchangeAnswer(wire::kAppStipendo, token, {query(kAid)});
  EXPECT_EQ(a.status, 401) << a.body;
  EXPECT_EQ(sentence(a), "The session has expired; log in again.");
}

TEST_F(Token, TokenOutlivesARestartBecauseItIsKeptInTheDatabase) {
  const std::string token = login(wire::kAppStipendo, "clerk", "clerk1");
  ASSERT_FALSE(token.empty());
  start(options());
  const auto replies = exchange(wire::kAppStipendo, token, {query(kAid)});
  ASSERT_EQ(replies.size(), 1u);
  EXPECT_FALSE(replies[0].error) << replies[0].text;
}

TEST_F(Token, UserDisabledAfterLogInIsRefused) {
  const std::string token = login(wire::kAppStipendo, "clerk", "clerk1");
  ASSERT_FALSE(token.empty());
  sideConnection()->execute("UPDATE users SET active = 0 WHERE user_name = ?", {std::string("clerk")});
  const Answer a = exchangeAnswer(wire::kAppStipendo, token, {query(kAid)});
  EXPECT_EQ(a.status, 401) << a.body;
  EXPECT_EQ(sentence(a), "The user clerk is disabled.");
}

}  // namespace
}  // namespace servertest
