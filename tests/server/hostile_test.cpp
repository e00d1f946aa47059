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
  // The wire tests go through what each body may hold; here each path answers for it.
  const std::vector<std::tuple<std::string_view, std::string, std::string>> cases = {
      {wire::kLoginPath, "not json", "not valid JSON"},
      {wire::kLoginPath, R"({"app":0,"user":"clerk"})", "\"password\""},
      {wire::kLoginPath, R"({"app":7,"user":"clerk","password":"clerk1"})", "unknown program"},
      {wire::kExchangePath, "", "not valid JSON"},
      {wire::kExchangePath, R"({"app":2,"token":5,"queries":[{"packet":3,"text":"{}"}]})", "must be a text"},
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
  EXPECT_EQ(rows(replies[3], wire::layouts::aidAccount(), {"student_id"}).size(), 1u) << "the good one among them";
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

TEST_F(Hostile, OversizedOrBrokenRequestsGetTheirStatusAndTheServerGoesOn) {
  const Answer big = post(std::string(wire::kExchangePath), std::string(2 * 1024 * 1024, 'x'));
  EXPECT_EQ(big.status, 413) << big.body.substr(0, 200);
  EXPECT_EQ(big.sentence(), "The request's body is larger than 524288 bytes.");

  const std::vector<std::tuple<std::string, int, std::string>> cases = {
      {"POST /v1/exchange HTTP/1.1\r\nHost: x\r\nContent-Length: 99999999\r\nExpect: 100-continue\r\n\r\n", 413,
       "The request's body is larger than 524288 bytes."},
      {"GET /v1/health HTTP/1.1\r\nHost: x\r\nX-Filler: " + std::string(16 * 1024, 'h') + "\r\n\r\n", 431,
       "The request's header is larger than 8192 bytes."},
      {"HELLO THERE\r\n\r\n", 400, "The request is not valid HTTP."},
  };
  for (const auto& [request, status, expected] : cases) {
    RawConnection raw(port_);
    ASSERT_TRUE(raw.send(request)) << expected;
    const Answer a = raw.readResponse();
    EXPECT_EQ(a.status, status) << a.body;
    EXPECT_EQ(a.sentence(), expected);
    EXPECT_TRUE(raw.closedByServer()) << expected << ": connection left open";
  }
  EXPECT_EQ(get("/v1/health").status, 200) << "the server stopped answering";
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
  ASSERT_TRUE(raw.send("GET /v1/health HTTP/1.1\r\nHost: x\r\n\r\n"));
  EXPECT_EQ(raw.readResponse().status, 200) << "the connection was not kept alive";
}

}  // namespace
}  // namespace servertest
