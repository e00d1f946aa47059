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
      const Answer login = loginAnswer(wire::kAppStipendo, "clerk", "clerk1");
      std::string error;
      const auto token = wire::parseLoginReply(login.body, error);
      if (!token) return void(failures[i] = "log-in: " + login.body);
      const Answer answer = exchangeAnswer(wire::kAppStipendo, token->token,
                                           {query(wire::requests::aidAccounts(student))});
      const auto reply = wire::parseExchangeReply(answer.body, error);
      if (!reply || reply->replies.size() != 1 || reply->replies[0].error)
        return void(failures[i] = "exchange: " + answer.body);
      const auto students = rows(reply->replies[0], wire::layouts::aidAccount(), {"student_id"});
      if (students != std::vector<std::string>(i % 2 ? 2 : 1, student)) failures[i] = "records: " + answer.body;
    });
  }
  for (std::thread& t : threads) t.join();
  for (int i = 0; i < kClients; ++i) EXPECT_EQ(failures[i], "") << "client " << i;
}

TEST_F(Concurrency, InFlightCapAnswers503ButNotTheHealthCheckAndIsReleasedAfterEachRequest) {
  auto o = options();
  o.maxInFlight = 0;
  start(o);
  const Answer a = loginAnswer(wire::kAppSellin, "clerk", "clerk1");
  EXPECT_EQ(a.status, 503) << a.body;
  EXPECT_EQ(a.sentence(), "The store server is busy; try again in a moment.");
  EXPECT_EQ(get("/v1/health").status, 200) << "the health check must not count";

  o.maxInFlight = 1;
  o.workerThreads = 1;
  start(o);
  for (int i = 0; i < 6; ++i) {
    const Answer b = i % 2 ? loginAnswer(wire::kAppSellin, "clerk", "clerk1") : post("/v1/exchange", "bad");
    ASSERT_EQ(b.status, i % 2 ? 200 : 400) << "request " << i << ", the count not released: " << b.body;
  }
}

}  // namespace
}  // namespace servertest
