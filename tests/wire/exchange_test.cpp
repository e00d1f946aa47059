#include <gtest/gtest.h>

#include <functional>

#include "wire/exchange.h"
#include "wire/json_reader.h"
#include "wire/requests.h"

namespace {

// Well-formed envelopes cross in every server test; here what a peer may spoil.
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

TEST(Exchange, LimitsAreEnforcedAndInvalidUtf8IsReplacedNotThrown) {
  wire::ExchangeRequest many{wire::kAppSellin, "t", {}};
  many.queries.resize(wire::kMaxQueriesPerExchange + 1, {3, "{}", -1});
  std::string error;
  EXPECT_FALSE(wire::parseExchangeRequest(wire::toJson(many), error));
  wire::LoginRequest login{wire::kAppSellin, std::string(wire::kMaxQueryTextLength + 1, 'u'), "p"};
  EXPECT_FALSE(wire::parseLoginRequest(wire::toJson(login), error));
  EXPECT_NE(error.find("longer than"), std::string::npos) << error;
  login = {wire::kAppAdoptra, "cl\xFF" "erk", "pw"};
  const auto parsed = wire::parseLoginRequest(wire::toJson(login), error);
  ASSERT_TRUE(parsed) << error;
  EXPECT_EQ(parsed->user, "cl\xEF\xBF\xBD" "erk");
}

// A body nested a few hundred thousand deep once overflowed the stack of
// whichever side read it. It must be refused before any recursive work.
TEST(Exchange, DeepNestingIsRefusedOnBothSides) {
  const std::string deep = std::string(300'000, '[') + std::string(300'000, ']');
  using Parse = std::function<bool(const std::string&, std::string&)>;
  const std::tuple<std::string, Parse, std::string> cases[] = {
      {R"({"app":2,"token":"","queries":)" + deep + "}",
       [](auto& b, auto& e) { return bool(wire::parseExchangeRequest(b, e)); },
       "The exchange request is nested too deeply."},
      {R"({"replies":)" + deep + "}", [](auto& b, auto& e) { return bool(wire::parseExchangeReply(b, e)); },
       "The server's answer is nested too deeply."},
      {R"({"token":)" + deep + "}", [](auto& b, auto& e) { return bool(wire::parseLoginReply(b, e)); },
       "The log-in reply is nested too deeply."},
      {R"({"request":"aid_accounts","student_id":)" + deep + "}",
       [](auto& b, auto& e) { return bool(wire::requests::parse(b, e)); }, "The request text is nested too deeply."},
  };
  for (const auto& [body, parse, expected] : cases) {
    std::string error;
    EXPECT_FALSE(parse(body, error)) << expected;
    EXPECT_EQ(error, expected);
  }
  const std::size_t d = wire::kMaxJsonDepth;
  EXPECT_TRUE(wire::nestingWithin(std::string(d, '{') + std::string(d, '}'), d));
  EXPECT_FALSE(wire::nestingWithin(std::string(d + 1, '{'), d));
  EXPECT_TRUE(wire::nestingWithin(R"(["\"[[[[[[[[[[[[[[[[[[[[", "\\", "{{{{{{{{{{{{{{{{{{{{"])", 2))
      << "brackets inside texts, after escaped quotes and backslashes, are no nesting";
}

TEST(JsonReader, IntegerRangeHoldsForEveryBound) {
  const std::tuple<std::string, std::int64_t, std::int64_t, std::optional<std::int64_t>> cases[] = {
      {"5", -10, -1, std::nullopt},
      {"0", -5, -1, std::nullopt},
      {"-3", -10, -1, -3},
      {"-11", -10, -1, std::nullopt},
      {"18446744073709551615", 0, INT64_MAX, std::nullopt},
      {"9223372036854775807", 0, INT64_MAX, INT64_MAX},
      {"-9223372036854775808", INT64_MIN, 0, INT64_MIN},
  };
  for (const auto& [number, min, max, expected] : cases) {
    const std::string body = R"({"n":)" + number + "}";
    wire::JsonReader in(std::string_view(body), "test");
    EXPECT_EQ(in.integer("n", min, max), expected) << number << " in [" << min << ", " << max << "]";
  }
}

}  // namespace
