#include <atomic>
#include <thread>

#include "server_fixture.h"
#include "wire/requests.h"

namespace servertest {
namespace {

using Concurrency = ServerTest;

// Many handhelds connecting at once right after the server starts: every one of
// them must get its own correct answer, with no stall and no empty success.
TEST_F(Concurrency, BurstOfFirstRequestsRightAfterStartIsAnsweredCorrectly) {
  constexpr int kClients = 32;
  std::vector<std::string> failures(kClients);
  std::vector<std::thread> threads;
  for (int i = 0; i < kClients; ++i) {
    threads.emplace_back([this, i, &failures] {
      const bool lower = i % 2 == 1;
      auto c = client();
      auto login = c->Post(wire::kLoginPath.data(), wire::toJson(wire::LoginRequest{wire::kAppStipendo, "clerk", "clerk1"}),
                           "application/json");
      if (!login || login->status != 200) {
        failures[i] = "log-in: " + (login ? login->body : httplib::to_string(login.error()));
        return;
      }
      std::string error;
      const auto token = wire::parseLoginReply(login->body, error);
      if (!token) {
        failures[i] = error;
        return;
      }
      const wire::ExchangeRequest request{wire::kAppStipendo, token->token,
                                          {query(wire::requests::aidAccounts(lower ? "s100200" : "S100200"))}};
      auto answer = c->Post(wire::kExchangePath.data(), wire::toJson(request), "application/json");
      if (!answer || answer->status != 200) {
        failures[i] = "exchange: " + (answer ? answer->body : httplib::to_string(answer.error()));
        return;
      }
      const auto reply = wire::parseExchangeReply(answer->body, error);
      if (!reply || reply->replies.size() != 1 || reply->replies[0].error) {
        failures[i] = "reply: " + answer->body;
        return;
      }
      const auto records = cut(reply->replies[0].text, wire::layouts::aidAccount());
      if (records.size() != (lower ? 2u : 1u) || records[0].field("student_id") != (lower ? "s100200" : "S100200"))
        failures[i] = "records: " + reply->replies[0].text;
    });
  }
  for (std::thread& t : threads) t.join();
  for (int i = 0; i < kClients; ++i) EXPECT_EQ(failures[i], "") << "client " << i;
}

TEST_F(Concurrency, InFlightCapAnswers503ButNotTheHealthCheck) {
  auto o = options();
  o.maxInFlight = 0;
  start(o);
  const Answer a = loginAnswer(wire::kAppSellin, "clerk", "clerk1");
  EXPECT_EQ(a.status, 503) << a.body;
  EXPECT_EQ(wire::parseErrorBody(a.body), "The store server is busy; try again in a moment.") << a.body;
  EXPECT_EQ(get("/v1/health").status, 200);
}

TEST_F(Concurrency, InFlightCountIsReleasedAfterEveryRequest) {
  auto o = options();
  o.maxInFlight = 1;
  o.workerThreads = 1;
  start(o);
  for (int i = 0; i < 8; ++i) {
    const Answer a = i % 2 ? loginAnswer(wire::kAppSellin, "clerk", "clerk1") : post("/v1/exchange", "bad");
    ASSERT_EQ(a.status, i % 2 ? 200 : 400) << "request " << i << ": " << a.body;
  }
}

TEST_F(Concurrency, KeepAliveConnectionServesManyExchanges) {
  auto c = client();
  c->set_keep_alive(true);
  auto login = c->Post(wire::kLoginPath.data(), wire::toJson(wire::LoginRequest{wire::kAppStipendo, "clerk", "clerk1"}),
                       "application/json");
  ASSERT_TRUE(login && login->status == 200) << (login ? login->body : "no answer");
  std::string error;
  const auto token = wire::parseLoginReply(login->body, error);
  ASSERT_TRUE(token) << error;
  const std::string body =
      wire::toJson(wire::ExchangeRequest{wire::kAppStipendo, token->token, {query(wire::requests::aidAccounts("S100300"))}});
  for (int i = 0; i < 50; ++i) {
    auto answer = c->Post(wire::kExchangePath.data(), body, "application/json");
    ASSERT_TRUE(answer && answer->status == 200) << i << ": " << (answer ? answer->body : "no answer");
    ASSERT_NE(answer->body.find("Tribal Education Fund"), std::string::npos) << answer->body;
  }
}

}  // namespace
}  // namespace servertest
