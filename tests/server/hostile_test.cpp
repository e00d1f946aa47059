// Malformed, oversized and hostile requests: each gets a status and a sentence,
// and the server keeps answering afterwards.
#include "server_fixture.h"
#include "wire/requests.h"

namespace servertest {
namespace {

using Hostile = ServerTest;
using wire::requests::aidAccounts;
using wire::requests::sessions;

TEST_F(Hostile, MalformedBodiesAre400WithASentence) {
  const std::vector<std::tuple<std::string_view, std::string, std::string>> cases = {
      {wire::kLoginPath, "not json", "not valid JSON"},
      {wire::kLoginPath, "[\"clerk\"]", "not a JSON object"},
      {wire::kLoginPath, R"({"app":0,"user":"clerk"})", "\"password\""},
      {wire::kLoginPath, R"({"app":7,"user":"clerk","password":"clerk1"})", "unknown program"},
      {wire::kExchangePath, "", "not valid JSON"},
      {wire::kExchangePath, R"({"app":2,"token":"t","queries":[]})", "no query"},
      {wire::kExchangePath, R"({"app":2,"token":5,"queries":[{"packet":3,"text":"{}"}]})", "must be a text"},
      {wire::kExchangePath, R"({"app":2,"token":"t","queries":[{"packet":9,"text":"{}"}]})", "between"},
  };
  for (const auto& [path, body, expected] : cases) {
    const Answer a = post(std::string(path), body);
    EXPECT_EQ(a.status, 400) << path << " " << body << " -> " << a.body;
    EXPECT_NE(a.sentence().find(expected), std::string::npos) << path << " " << body << " -> " << a.body;
  }
}

TEST_F(Hostile, EachBadQueryGetsAnErrorReplyAndTheOthersAreAnswered) {
  const std::vector<std::pair<wire::Query, std::string>> cases = {
      {query("not json"), "not valid JSON"},
      {query(R"({"student_id":"S100200"})"), "\"request\""},
      {query(R"({"request":"drop_everything"})"), "does not know the request \"drop_everything\""},
      {query(R"({"request":"aid_accounts"})"), "\"student_id\""},
      {query(R"({"request":"aid_accounts","student_id":100200})"), "must be a text"},
      {query(aidAccounts(std::string(21, '1'))), "longer than 20"},
      {query(aidAccounts("")), "Enter a student ID."},
      {query(aidAccounts("S100\r200")), "control characters"},
      {query(R"({"request":"sl_sessions","user":"buyer","password":"buyer1","store":"1"})"), "whole number"},
      {query(sessions("buyer", "buyer1", 0)), "between 1 and 9999"},
      {query(R"({"request":"sl_sessions","user":["buyer"],"password":"buyer1","store":1})"), "must be a text"},
      {query(sessions(std::string(65, 'b'), "p", 1)), "longer than 64"},
      {query(aidAccounts("S100200"), wire::kPacketNewItem), "packet type 3, not 0"},
      {query(sessions("buyer", "buyer1", 1), wire::kPacketChange), "packet type 3, not 2"},
  };
  std::vector<wire::Query> queries;
  for (const auto& c : cases) queries.push_back(c.first);
  queries.insert(queries.begin() + 3, query(aidAccounts("S100200")));  // a good one among them
  const auto replies = exchange(wire::kAppStipendo, login(wire::kAppStipendo, "clerk", "clerk1"), queries);
  ASSERT_EQ(replies.size(), queries.size());
  EXPECT_FALSE(replies[3].error) << replies[3].text;
  EXPECT_EQ(cut(replies[3].text, wire::layouts::aidAccount()).size(), 1u) << replies[3].text;
  for (std::size_t i = 0; i < cases.size(); ++i) {
    const wire::Reply& r = replies[i < 3 ? i : i + 1];
    EXPECT_TRUE(r.error) << cases[i].first.text << " -> " << r.text;
    EXPECT_NE(r.text.find(cases[i].second), std::string::npos) << cases[i].first.text << " -> " << r.text;
  }
}

TEST_F(Hostile, SqlMetacharactersAreOrdinaryData) {
  EXPECT_EQ(loginAnswer(wire::kAppSellin, "' OR 1=1 --", "' OR '1'='1").status, 401);
  EXPECT_EQ(loginAnswer(wire::kAppSellin, "buyer' --", "x").status, 401);
  EXPECT_EQ(ask(aidAccounts("' OR '1'='1")).text, "No student with ID ' OR '1'='1.");
  EXPECT_EQ(ask(aidAccounts("1';DROP TABLE users")).text, "No student with ID 1';DROP TABLE users.");
  EXPECT_EQ(ask(sessions("buyer' --", "x' OR '1'='1", 1)).text, "The buyer user name or password is wrong.");
  const wire::Reply still = ask(aidAccounts("S100200"));  // logs in again: users is intact
  EXPECT_FALSE(still.error) << still.text;
}

TEST_F(Hostile, OversizedBodyIs413EvenWhenAnnouncedWithExpect) {
  const Answer a = post(std::string(wire::kExchangePath), std::string(2 * 1024 * 1024, 'x'));
  EXPECT_EQ(a.status, 413) << a.body.substr(0, 200);
  EXPECT_EQ(a.sentence(), "The request's body is larger than 524288 bytes.");

  RawConnection raw(port_);
  ASSERT_TRUE(raw.send("POST /v1/exchange HTTP/1.1\r\nHost: x\r\nContent-Length: 99999999\r\n"
                       "Expect: 100-continue\r\n\r\n"));
  EXPECT_EQ(raw.readResponse().status, 413);
  EXPECT_TRUE(raw.closedByServer());
  EXPECT_EQ(get("/v1/health").status, 200);
}

TEST_F(Hostile, OversizedHeaderIs431AndGarbageIs400) {
  RawConnection big(port_);
  ASSERT_TRUE(big.send("GET /v1/health HTTP/1.1\r\nHost: x\r\nX-Filler: " + std::string(16 * 1024, 'h') + "\r\n\r\n"));
  const Answer a = big.readResponse();
  EXPECT_EQ(a.status, 431) << a.body;
  EXPECT_EQ(a.sentence(), "The request's header is larger than 8192 bytes.");

  RawConnection garbage(port_);
  ASSERT_TRUE(garbage.send("HELLO THERE\r\n\r\n"));
  const Answer b = garbage.readResponse();
  EXPECT_EQ(b.status, 400) << b.body;
  EXPECT_EQ(b.sentence(), "The request is not valid HTTP.");
}

TEST_F(Hostile, ExpectContinueIsAnsweredAndTheConnectionKeptAlive) {
  const std::string body = wire::toJson(wire::LoginRequest{wire::kAppSellin, "clerk", "clerk1"});
  RawConnection raw(port_);
  ASSERT_TRUE(raw.send("POST /v1/login HTTP/1.1\r\nHost: x\r\nContent-Length: " + std::to_string(body.size()) +
                       "\r\nExpect: 100-continue\r\n\r\n"));
  ASSERT_EQ(raw.readResponse().status, 100);
  ASSERT_TRUE(raw.send(body));
  const Answer a = raw.readResponse();
  EXPECT_EQ(a.status, 200) << a.body;
  for (int i = 0; i < 3; ++i) {
    ASSERT_TRUE(raw.send("GET /v1/health HTTP/1.1\r\nHost: x\r\n\r\n"));
    const Answer again = raw.readResponse();
    EXPECT_EQ(again.status, 200) << again.body;
    EXPECT_EQ(again.body, R"({"status":"ok"})");
  }
}

TEST_F(Hostile, WrongPathIs404AndWrongMethodIs405) {
  const Answer missing = post("/v1/nothing", "{}");
  EXPECT_EQ(missing.status, 404) << missing.body;
  EXPECT_EQ(missing.sentence(), "The store server has nothing at /v1/nothing.");
  EXPECT_EQ(get("/").status, 404);

  const Answer getLogin = get("/v1/login");
  EXPECT_EQ(getLogin.status, 405) << getLogin.body;
  EXPECT_EQ(getLogin.header("allow"), "POST");
  EXPECT_EQ(getLogin.sentence(), "Use POST for /v1/login.");
  EXPECT_EQ(get("/v1/exchange").status, 405);
  const Answer postHealth = post("/v1/health", "{}");
  EXPECT_EQ(postHealth.status, 405) << postHealth.body;
  EXPECT_EQ(postHealth.header("allow"), "GET");
  EXPECT_EQ(get("/v1/health?probe=1").status, 200);
}

}  // namespace
}  // namespace servertest
