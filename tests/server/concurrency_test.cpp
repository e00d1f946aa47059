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
  std::vector<std::vector<std::string>> students(kClients);
  std::vector<std::thread> threads;
  for (int i = 0; i < kClients; ++i)
    threads.emplace_back([this, i, &students] {
      const auto reply = askWith(wire::kAppStipendo, login(wire::kAppStipendo, "clerk", "clerk1"),
                                 query(wire::requests::aidAccounts(i % 2 ? "s100200" : "S100200")));
      students[i] = reply.error ? std::vector{reply.text} : rows(reply, wire::layouts::aidAccount(), {"student_id"});
    });
  for (std::thread& t : threads) t.join();
  for (int i = 0; i < kClients; ++i)
    EXPECT_EQ(students[i], std::vector<std::string>(i % 2 ? 2 : 1, i % 2 ? "s100200" : "S100200")) << "client " << i;
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
