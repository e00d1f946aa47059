// Malformed, oversized and hostile requests: each gets a status and a sentence,
// and the server keeps answering afterwards.
#include "server_fixture.h"
#include "wire/requests.h"

namespace servertest {
namespace {

using Hostile = ServerTest;

std::string sentence(const Answer& a) { return wire::parseErrorBody(a.body).value_or("(no error body) " + a.body); }

TEST_F(Hostile, MalformedBodiesAre400WithASentence) {
  const std::vector<std::tuple<std::string_view, std::string, std::string>> cases = {
      {wire::kLoginPath, "not json", "not valid JSON"},
      {wire::kLoginPath, "[\"clerk\"]", "not a JSON object"},
      {wire::kLoginPath, R"({"app":0,"user":"clerk"})", "\"password\""},
      {wire::kLoginPath, R"({"app":"0","user":"clerk","password":"clerk1"})", "whole number"},
      {wire::kLoginPath, R"({"app":7,"user":"clerk","password":"clerk1"})", "unknown program"},
      {wire::kLoginPath, "", "not valid JSON"},
      {wire::kExchangePath, "{", "not valid JSON"},
      {wire::kExchangePath, "42", "not a JSON object"},
      {wire::kExchangePath, R"({"app":2,"token":"t","queries":[]})", "no query"},
      {wire::kExchangePath, R"({"app":2,"token":"t","queries":"all"})", "must be a list"},
      {wire::kExchangePath, R"({"app":2,"token":5,"queries":[{"packet":3,"text":"{}"}]})", "must be a text"},
      {wire::kExchangePath, R"({"app":2,"token":"t","queries":[{"packet":9,"text":"{}"}]})", "between"},
  };
  for (const auto& [path, body, expected] : cases) {
    const Answer a = post(std::string(path), body);
    EXPECT_EQ(a.status, 400) << path << " " << body << " -> " << a.body;
    EXPECT_NE(sentence(a).find(expected), std::string::npos) << path << " " << body << " -> " << a.body;
  }
  EXPECT_EQ(get("/v1/health").status, 200);
}

TEST_F(Hostile, EachBadQueryGetsAnErrorReplyAndTheOthersAreAnswered) {
  const std::string token = login(wire::kAppStipendo, "clerk", "clerk1");
  ASSERT_FALSE(token.empty());
  const std::vector<std::pair<wire::Query, std::string>> cases = {
      {query("not json"), "not valid JSON"},
      {query(R"(["aid_accounts"])"), "not a JSON object"},
      {query(R"({"student_id":"S100200"})"), "\"request\""},
      {query(R"({"request":"drop_everything"})"), "does not know the request \"drop_everything\""},
      {query(R"({"request":"aid_accounts"})"), "\"student_id\""},
      {query(R"({"request":"aid_accounts","student_id":100200})"), "must be a text"},
      {query(wire::requests::aidAccounts(std::string(21, '1'))), "longer than 20"},
      {query(wire::requests::aidAccounts("")), "Enter a student ID."},
      {query(wire::requests::aidAccounts("S100\r200")), "control characters"},
      {query(R"({"request":"sl_sessions","user":"buyer","password":"buyer1"})"), "\"store\""},
      {query(R"({"request":"sl_sessions","user":"buyer","password":"buyer1","store":"1"})"), "whole number"},
      {query(R"({"request":"sl_sessions","user":"buyer","password":"buyer1","store":1.5})"), "whole number"},
      {query(wire::requests::sessions("buyer", "buyer1", 0)), "between 1 and 9999"},
      {query(wire::requests::sessions("buyer", "buyer1", 10000)), "between 1 and 9999"},
      {query(R"({"request":"sl_sessions","user":["buyer"],"password":"buyer1","store":1})"), "must be a text"},
      {query(wire::requests::sessions(std::string(65, 'b'), "p", 1)), "longer than 64"},
      {query(wire::requests::aidAccounts("S100200"), wire::kPacketNewItem), "packet type 3, not 0"},
      {query(wire::requests::sessions("buyer", "buyer1", 1), wire::kPacketChange), "packet type 3, not 2"},
  };
  std::vector<wire::Query> queries;
  for (std::size_t i = 0; i < cases.size(); ++i) {
    queries.push_back(cases[i].first);
    if (i == 5) queries.push_back(query(wire::requests::aidAccounts("S100200")));  // a good one among them
  }
  // The envelope allows 16 queries per exchange: send the cases in two.
  const std::vector<wire::Query> first(queries.begin(), queries.begin() + 10);
  const std::vector<wire::Query> second(queries.begin() + 10, queries.end());
  auto replies = exchange(wire::kAppStipendo, token, first);
  const auto more = exchange(wire::kAppStipendo, token, second);
  replies.insert(replies.end(), more.begin(), more.end());
  ASSERT_EQ(replies.size(), queries.size());

  for (std::size_t i = 0, c = 0; i < replies.size(); ++i) {
    if (i == 6) {
      EXPECT_FALSE(replies[i].error) << replies[i].text;
      EXPECT_EQ(cut(replies[i].text, wire::layouts::aidAccount()).size(), 1u) << replies[i].text;
      continue;
    }
    const auto& [q, expected] = cases[c++];
    EXPECT_TRUE(replies[i].error) << q.text << " -> " << replies[i].text;
    EXPECT_NE(replies[i].text.find(expected), std::string::npos) << q.text << " -> " << replies[i].text;
  }
}

TEST_F(Hostile, SqlMetacharactersAreOrdinaryData) {
  const Answer login = loginAnswer(wire::kAppSellin, "' OR 1=1 --", "' OR '1'='1");
  EXPECT_EQ(login.status, 401) << login.body;
  EXPECT_EQ(loginAnswer(wire::kAppSellin, "buyer' --", "x").status, 401);

  const wire::Reply student = ask(wire::requests::aidAccounts("' OR '1'='1"));
  EXPECT_TRUE(student.error) << student.text;
  EXPECT_EQ(student.text, "No student with ID ' OR '1'='1.");

  const wire::Reply drop = ask(wire::requests::aidAccounts("1';DROP TABLE users"));
  EXPECT_EQ(drop.text, "No student with ID 1';DROP TABLE users.");

  const wire::Reply buyer = ask(wire::requests::sessions("buyer' --", "x' OR '1'='1", 1));
  EXPECT_TRUE(buyer.error) << buyer.text;
  EXPECT_EQ(buyer.text, "The buyer user name or password is wrong.");

  const wire::Reply still = ask(wire::requests::aidAccounts("S100200"));  // logs in again: users is intact
  EXPECT_FALSE(still.error) << still.text;
}

TEST_F(Hostile, OversizedBodyIs413) {
  const std::string big(2 * 1024 * 1024, 'x');
  const Answer a = post(std::string(wire::kExchangePath), big);
  EXPECT_EQ(a.status, 413) << a.body.substr(0, 200);
  EXPECT_NE(sentence(a).find("larger than"), std::string::npos) << a.body;
  EXPECT_EQ(get("/v1/health").status, 200);
}

TEST_F(Hostile, OversizedBodyAnnouncedWithExpectIsRefusedBeforeItIsSent) {
  RawConnection raw(port_);
  ASSERT_TRUE(raw.connected());
  ASSERT_TRUE(raw.send("POST /v1/exchange HTTP/1.1\r\nHost: x\r\nContent-Length: 99999999\r\n"
                       "Expect: 100-continue\r\n\r\n"));
  const Answer a = raw.readResponse();
  EXPECT_EQ(a.status, 413) << a.body;
  EXPECT_TRUE(raw.closedByServer());
}

TEST_F(Hostile, OversizedHeaderIs431) {
  RawConnection raw(port_);
  ASSERT_TRUE(raw.connected());
  ASSERT_TRUE(raw.send("GET /v1/health HTTP/1.1\r\nHost: x\r\nX-Filler: " + std::string(16 * 1024, 'h') + "\r\n\r\n"));
  const Answer a = raw.readResponse();
  EXPECT_EQ(a.status, 431) << a.body;
  EXPECT_NE(sentence(a).find("header is larger than"), std::string::npos) << a.body;
}

TEST_F(Hostile, GarbageInsteadOfHttpIs400) {
  RawConnection raw(port_);
  ASSERT_TRUE(raw.connected());
  ASSERT_TRUE(raw.send("HELLO THERE\r\n\r\n"));
  const Answer a = raw.readResponse();
  EXPECT_EQ(a.status, 400) << a.body;
  EXPECT_EQ(sentence(a), "The request is not valid HTTP.");
}

TEST_F(Hostile, ExpectContinueIsAnsweredAndTheConnectionKeptAlive) {
  const std::string body = wire::toJson(wire::LoginRequest{wire::kAppSellin, "clerk", "clerk1"});
  RawConnection raw(port_);
  ASSERT_TRUE(raw.connected());
  ASSERT_TRUE(raw.send("POST /v1/login HTTP/1.1\r\nHost: x\r\nContent-Type: application/json\r\nContent-Length: " +
                       std::to_string(body.size()) + "\r\nExpect: 100-continue\r\n\r\n"));
  const Answer interim = raw.readResponse();
  ASSERT_EQ(interim.status, 100) << interim.body;
  ASSERT_TRUE(raw.send(body));
  const Answer a = raw.readResponse();
  EXPECT_EQ(a.status, 200) << a.body;

  ASSERT_TRUE(raw.send("GET /v1/health HTTP/1.1\r\nHost: x\r\n\r\n"));
  const Answer again = raw.readResponse();
  EXPECT_EQ(again.status, 200) << again.body;
  EXPECT_EQ(again.body, R"({"status":"ok"})");
}

TEST_F(Hostile, WrongPathIs404AndWrongMethodIs405) {
  const Answer missing = post("/v1/nothing", "{}");
  EXPECT_EQ(missing.status, 404) << missing.body;
  EXPECT_EQ(sentence(missing), "The store server has nothing at /v1/nothing.");
  EXPECT_EQ(get("/").status, 404);

  const Answer getLogin = get("/v1/login");
  EXPECT_EQ(getLogin.status, 405) << getLogin.body;
  EXPECT_EQ(getLogin.header("Allow"), "POST");
  EXPECT_EQ(sentence(getLogin), "Use POST for /v1/login.");
  EXPECT_EQ(get("/v1/exchange").status, 405);

  const Answer postHealth = post("/v1/health", "{}");
  EXPECT_EQ(postHealth.status, 405) << postHealth.body;
  EXPECT_EQ(postHealth.header("Allow"), "GET");

  const Answer health = get("/v1/health?probe=1");
  EXPECT_EQ(health.status, 200) << health.body;
}

}  // namespace
}  // namespace servertest
