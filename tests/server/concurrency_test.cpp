#include <thread>

#include "server_fixture.h"
#include "wire/requests.h"

namespace servertest {
namespace {

using Concurrency = ServerTest;

// Handhelds connecting at once right after the server started: each on its own
// connection must get its own correct answer, never an error or an empty success.
TEST_F(Concurrency, BurstOfFirstRequestsRightAfterStartIsAnsweredCorrectly) {
  constexpr int kClients = 32;
  std::vector<std::string> failures(kClients);
  std::vector<std::thread> threads;
  for (int i = 0; i < kClients; ++i) {
    threads.emplace_back([this, i, &failures] {
      const std::string student = i % 2 ? "s100200" : "S100200";
      auto c = client();
      std::string error;
      auto login = c->Post(wire::kLoginPath.data(),
                           wire::toJson(wire::LoginRequest{wire::kAppStipendo, "clerk", "clerk1"}), "application/json");
      const auto token = login ? wire::parseLoginReply(login->body, error) : std::nullopt;
      if (!token) return void(failures[i] = "log-in: " + (login ? login->body : httplib::to_string(login.error())));
      const wire::ExchangeRequest request{wire::kAppStipendo, token->token, {query(wire::requests::aidAccounts(student))}};
      auto answer = c->Post(wire::kExchangePath.data(), wire::toJson(request), "application/json");
      const auto reply = answer ? wire::parseExchangeReply(answer->body, error) : std::nullopt;
      if (!reply || reply->replies.size() != 1 || reply->replies[0].error)
        return void(failures[i] = "exchange: " + (answer ? answer->body : httplib::to_string(answer.error())));
      const auto records = cut(reply->replies[0].text, wire::layouts::aidAccount());
      if (records.size() != (i % 2 ? 2u : 1u) || records[0].field("student_id") != student)
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
  EXPECT_EQ(a.sentence(), "The store server is busy; try again in a moment.");
  EXPECT_EQ(get("/v1/health").status, 200);
}

TEST_F(Concurrency, InFlightCountIsReleasedAfterEveryRequest) {
  auto o = options();
  o.maxInFlight = 1;
  o.workerThreads = 1;
  start(o);
  for (int i = 0; i < 6; ++i) {
    const Answer a = i % 2 ? loginAnswer(wire::kAppSellin, "clerk", "clerk1") : post("/v1/exchange", "bad");
    ASSERT_EQ(a.status, i % 2 ? 200 : 400) << "request " << i << ": " << a.body;
  }
}

}  // namespace
}  // namespace servertest
