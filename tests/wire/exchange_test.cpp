#include <gtest/gtest.h>

#include <functional>
#include <random>

#include "wire/exchange.h"
#include "wire/json_reader.h"
#include "wire/json_text.h"
#include "wire/requests.h"
#include "tree_envelope.h"

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

// The envelope is read without a tree; a tree-building parser is the judge.
// Edge cases of JSON itself, then deterministic mutations of good bodies.
TEST(Exchange, EnvelopeReaderAgreesWithATreeOnEveryBody) {
  const std::string good =
      R"({"app":2,"token":"tok","queries":[{"packet":3,"text":"{\"request\":\"aid_accounts\"}","page":-1}]})";
  const std::vector<std::string> bodies = {
      good,
      " \t\r\n" + good + " \n",
      "\xEF\xBB\xBF" + good,
      R"({"app":2,"token":"a\"\\\/\b\f\n\r\t\u0041\u00e9\u20ac\ud83d\ude00","queries":[{"packet":3,"text":"x"}]})",
      R"({"app":2,"token":"\ud83d","queries":[{"packet":3,"text":"x"}]})",
      R"({"app":2,"token":"\ude00\ud83d","queries":[{"packet":3,"text":"x"}]})",
      R"({"app":2,"token":"\u00G1","queries":[{"packet":3,"text":"x"}]})",
      R"({"app":2,"token":"\x","queries":[{"packet":3,"text":"x"}]})",
      "{\"app\":2,\"token\":\"\xC3\xA9\xF0\x9F\x98\x80\",\"queries\":[{\"packet\":3,\"text\":\"x\"}]}",
      "{\"app\":2,\"token\":\"\xC0\xAF\",\"queries\":[{\"packet\":3,\"text\":\"x\"}]}",
      "{\"app\":2,\"token\":\"\xED\xA0\x80\",\"queries\":[{\"packet\":3,\"text\":\"x\"}]}",
      "{\"app\":2,\"token\":\"\xF4\x90\x80\x80\",\"queries\":[{\"packet\":3,\"text\":\"x\"}]}",
      "{\"app\":2,\"token\":\"\xE2\x82\",\"queries\":[{\"packet\":3,\"text\":\"x\"}]}",
      "{\"app\":2,\"token\":\"a\tb\",\"queries\":[{\"packet\":3,\"text\":\"x\"}]}",
      std::string("{\"app\":2,\"token\":\"a\0b\",\"queries\":[]}", 35),
      R"({"app":-0,"token":"t","queries":[{"packet":3,"text":"x"}]})",
      R"({"app":02,"token":"t","queries":[{"packet":3,"text":"x"}]})",
      R"({"app":2e0,"token":"t","queries":[{"packet":3,"text":"x"}]})",
      R"({"app":-9223372036854775809,"token":"t","queries":[{"packet":3,"text":"x"}]})",
      R"({"app":9223372036854775808,"token":"t","queries":[{"packet":3,"text":"x"}]})",
      R"({"app":99999999999999999999,"token":"t","queries":[{"packet":3,"text":"x"}]})",
      R"({"app":2,"token":"t","queries":[{"packet":3,"text":"x","page":-9223372036854775808}]})",
      R"({"app":2,"app":1,"token":"t","queries":[{"packet":3,"text":"x"}],"queries":[{"packet":2,"text":"y"}]})",
      R"({"app":2,"token":"t","queries":[{"packet":3,"text":"x"}],"more":{"a":[1,2.5e-3,true,false,null,{}]}})",
      R"({"app":2,"token":"t","queries":[{"packet":3,"text":"x"},]})",
      R"({"app":2,"token":"t","queries":[{"packet":3,"text":"x"}],})",
      R"({"app":2,"token":"t","queries":[{"packet":3,"text":"x"}]} x)",
      R"({"app":2,"token":"t","queries":[{"packet":3,"text":"x"}] "x":1})",
      R"({"app":2,"token":"t","queries":[5]})",
      R"({"app":2,"token":"t","queries":[{"packet":3,"text":"x"}],"n":tru})",
      R"({"app":2,"token":"t","queries":[{"packet":3,"text":"x"}],"n":nul})",
      R"({"app":2,"token":"t","queries":[{"packet":3,"text":"x"}],"n":-})",
      R"({"app":2,"token":"t","queries":[{"packet":3,"text":"x"}],"n":1.})",
      R"({"app":2,"token":"t","queries":[{"packet":3,"text":"x"}],1:2})",
      R"({"app":null,"token":null,"queries":null})",
      "",
      "{",
      "}",
      "[]",
      "\"text\"",
      "12",
      "true",
      "{} {}",
      std::string("3\0", 2),
      good + std::string("\0{}", 3),
      // Numbers beyond a double's range are no JSON to either reader; those too small read as 0.
      "111E00000000000000386987000",
      "-1.5e400",
      "1" + std::string(400, '0'),
      "[1E400]",
      R"({"app":1E400,"token":"t","queries":[{"packet":3,"text":"x"}]})",
      R"({"app":2,"token":"t","queries":[{"packet":3,"text":"x"}],"n":1.8e308})",
      R"({"app":2,"token":"t","queries":[{"packet":3,"text":"x"}],"n":0.000179769e312})",
      R"({"app":2,"token":"t","queries":[{"packet":3,"text":"x"}],"n":-1.7976931348623157e308})",
      R"({"app":2,"token":"t","queries":[{"packet":3,"text":"x"}],"n":1e-400})",
      R"({"app":2,"token":"t","queries":[{"packet":3,"text":"x"}],"n":-0.0000e-99999999999999999999})",
      R"({"app":2,"token":"t","queries":[{"packet":3,"text":"x"}],"n":)" + std::string(320, '9') + "}",
  };
  std::string why;
  for (const std::string& body : bodies)
    EXPECT_TRUE(testsupport::envelopeReadersAgree(body, why)) << body << ": " << why;

  std::string many = R"({"app":0,"token":"t","queries":[)";
  for (int i = 0; i < 17; ++i)
    many += std::string(i ? "," : "") + R"({"packet":0,"text":"\u0078","page":)" + std::to_string(i) + "}";
  std::mt19937 random(20261207);
  const char kSpice[] = "{}[]\",:\\u0e9.-+ \x80\xC3\xFF";
  for (const std::string& seed : {good, bodies[3], bodies[23], many + "]}"}) {
    for (int round = 0; round < 4000; ++round) {
      std::string body = seed;
      for (int edits = 1 + int(random() % 3); edits > 0; --edits) {
        const std::size_t at = random() % body.size();
        switch (random() % 3) {
          case 0: body[at] = kSpice[random() % (sizeof kSpice - 1)]; break;
          case 1: body.erase(at, 1 + random() % 3); break;
          default: body.insert(at, 1, kSpice[random() % (sizeof kSpice - 1)]);
        }
        if (body.empty()) body = "{";
      }
      ASSERT_TRUE(testsupport::envelopeReadersAgree(body, why)) << body << ": " << why;
    }
  }
}

// Every text written must read back as itself; what is not UTF-8 as U+FFFD.
TEST(Exchange, WrittenTextsReadBackWhateverTheyHold) {
  const std::pair<std::string, std::string> cases[] = {
      {"plain", "plain"},
      {"\"quoted\" \\ / back", "\"quoted\" \\ / back"},
      {std::string("\0\x01\x1f\x7f\b\f\n\r\t", 9), std::string("\0\x01\x1f\x7f\b\f\n\r\t", 9)},
      {"\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80", "\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80"},
      {"a\xFF"
       "b\xC3",
       "a\xEF\xBF\xBD"
       "b\xEF\xBF\xBD"},
      {"\xED\xA0\x80", "\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD"},
  };
  for (const auto& [text, expected] : cases) {
    const std::string body = wire::toJson(wire::ExchangeReply{{{false, text, 2, 7}, {true, "", 0, -1}}});
    std::string error;
    const auto read = wire::parseExchangeReply(body, error);
    ASSERT_TRUE(read) << body << ": " << error;
    ASSERT_EQ(read->replies.size(), 2u) << body;
    EXPECT_EQ(read->replies[0].text, expected) << body;
    EXPECT_EQ(read->replies[0].page, 2);
    EXPECT_EQ(read->replies[0].pageCount, 7);
    EXPECT_TRUE(read->replies[1].error);
    const auto sentence = wire::parseErrorBody(wire::errorJson(text));
    ASSERT_TRUE(sentence) << text;
    EXPECT_EQ(*sentence, expected);
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
  login = {wire::kAppAdoptra,
           "cl\xFF"
           "erk",
           "pw"};
  const auto parsed = wire::parseLoginRequest(wire::toJson(login), error);
  ASSERT_TRUE(parsed) << error;
  EXPECT_EQ(parsed->user, "cl\xEF\xBF\xBD"
                          "erk");
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
