#include <gtest/gtest.h>

#include "wire/exchange.h"
#include "wire/requests.h"

namespace {

TEST(Exchange, RequestAndReplyRoundTrip) {
  wire::ExchangeRequest request{wire::kAppStipendo, "tok", {{3, wire::requests::aidAccounts("S1"), -1}}};
  std::string error;
  const auto parsed = wire::parseExchangeRequest(wire::toJson(request), error);
  ASSERT_TRUE(parsed) << error;
  EXPECT_EQ(parsed->app, wire::kAppStipendo);
  EXPECT_EQ(parsed->token, "tok");
  ASSERT_EQ(parsed->queries.size(), 1u);
  EXPECT_EQ(parsed->queries[0].text, request.queries[0].text);

  wire::ExchangeReply reply{{{true, "No such student", 0, -1}, {false, "AID\r", 2, 5}}};
  const auto back = wire::parseExchangeReply(wire::toJson(reply), error);
  ASSERT_TRUE(back) << error;
  ASSERT_EQ(back->replies.size(), 2u);
  EXPECT_TRUE(back->replies[0].error);
  EXPECT_EQ(back->replies[1].text, "AID\r");
  EXPECT_EQ(back->replies[1].page, 2);
  EXPECT_EQ(back->replies[1].pageCount, 5);
}

TEST(Exchange, HostileBodiesAreRefusedWithASentence) {
  const std::pair<std::string, std::string> cases[] = {
      {"not json", "not valid JSON"},
      {"[1,2]", "not a JSON object"},
      {R"({"token":"t","queries":[]})", "\"app\""},
      {R"({"app":"2","token":"t","queries":[]})", "whole number"},
      {R"({"app":9,"token":"t","queries":[{"packet":3,"text":"x"}]})", "unknown program"},
      {R"({"app":2,"token":"t","queries":[]})", "no query"},
      {R"({"app":2,"token":"t","queries":{}})", "must be a list"},
      {R"({"app":2,"token":"t","queries":[{"packet":7,"text":"x"}]})", "between"},
      {R"({"app":2,"token":"t","queries":[{"packet":3,"text":5}]})", "must be a text"},
      {R"({"app":2,"token":"t","queries":[{"packet":3,"text":"x","page":-2}]})", "between"},
      {R"({"app":18446744073709551615,"token":"t","queries":[]})", "between"},
      {R"({"app":2.5,"token":"t","queries":[]})", "whole number"},
  };
  for (const auto& [body, expected] : cases) {
    std::string error;
    EXPECT_FALSE(wire::parseExchangeRequest(body, error)) << body;
    EXPECT_NE(error.find(expected), std::string::npos) << body << " -> " << error;
  }
}

TEST(Exchange, LimitsAreEnforced) {
  wire::ExchangeRequest many{wire::kAppSellin, "t", {}};
  many.queries.resize(wire::kMaxQueriesPerExchange + 1, {3, "{}", -1});
  std::string error;
  EXPECT_FALSE(wire::parseExchangeRequest(wire::toJson(many), error));

  wire::LoginRequest login{wire::kAppSellin, std::string(wire::kMaxUserLength + 1, 'u'), "p"};
  EXPECT_FALSE(wire::parseLoginRequest(wire::toJson(login), error));
  EXPECT_NE(error.find("longer than"), std::string::npos) << error;
}

TEST(Exchange, InvalidUtf8IsReplacedNotThrown) {
  wire::LoginRequest login{wire::kAppAdoptra, "cl\xFF" "erk", "pw"};
  std::string error;
  const auto parsed = wire::parseLoginRequest(wire::toJson(login), error);
  ASSERT_TRUE(parsed) << error;
  EXPECT_EQ(parsed->user, "cl\xEF\xBF\xBD" "erk");
}

TEST(Requests, ParseNamesTheKind) {
  std::string error;
  const auto r = wire::requests::parse(wire::requests::sessions("buyer", "pw", 3), error);
  ASSERT_TRUE(r) << error;
  EXPECT_EQ(r->kind, wire::requests::kSessions);
  EXPECT_EQ(r->arguments.at("store"), 3);
  EXPECT_FALSE(wire::requests::parse(R"({"student_id":"x"})", error));
  EXPECT_NE(error.find("\"request\""), std::string::npos) << error;
}

TEST(ErrorBody, IsRecognised) {
  EXPECT_EQ(wire::parseErrorBody(wire::errorJson("Token expired")), "Token expired");
  EXPECT_FALSE(wire::parseErrorBody("<html>"));
}

}  // namespace
