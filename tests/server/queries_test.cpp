// Each query kind against the demo data, read as the programs read records; handhelds asking at once.
#include <fstream>
#include <regex>
#include <set>
#include <thread>

#include "server/queries/query.h"
#include "server_fixture.h"
#include "wire/requests.h"

namespace servertest {
namespace {

using Queries = ServerTest;
using wire::requests::aidAccounts;
using wire::requests::sessions;

std::vector<std::string> sessionRows(const wire::Reply& reply) {
  return rows(reply, wire::layouts::session(),
              {"session_id", "description", "student_id_required", "condition_check", "within_percent",
               "tran_warning_qty", "tran_max_qty"});
}

// Read from the header itself, so a request added to the protocol without its
// handler fails here rather than on a handheld.
TEST(QueryKinds, EveryRequestOfTheProtocolIsServedAndNothingElse) {
  std::ifstream header(REQUESTS_HEADER);
  const std::string text((std::istreambuf_iterator<char>(header)), std::istreambuf_iterator<char>());
  const std::regex constant(R"re(inline constexpr std::string_view k\w+ = "(\w+)";)re");
  std::set<std::string> protocol, served;
  for (auto it = std::sregex_iterator(text.begin(), text.end(), constant); it != std::sregex_iterator(); ++it)
    protocol.insert((*it)[1]);
  for (const auto& kind : storeserver::queries::queryKinds()) served.insert(std::string(kind.name));
  ASSERT_GT(protocol.size(), 10u) << "the request names were not found in " << REQUESTS_HEADER;
  EXPECT_EQ(protocol, served);
}

TEST_F(Queries, SessionsAreTheOpenOnesOfTheAskedStore) {
  EXPECT_EQ(sessionRows(ask(sessions("buyer", "buyer1", 1), wire::kAppSellin)),
            (std::vector<std::string>{
                "00001001|Spring Buyback|1|1|010|0005|0010", "00001002|  Walk-in Buyback|0|0|000|0003|0006",
                "00001003|Wholesale Only|0|1|025|0020|0050", "00001004|Wholesale Only|1|0|005|0010|0020"}));
  EXPECT_EQ(sessionRows(ask(sessions("manager", "manager1", 2), wire::kAppSellin)),
            (std::vector<std::string>{"00002001|North Campus Buyback|1|1|015|0004|0008",
                                      "00002002|  Finals Week|0|0|100|0010|9999"}));
  EXPECT_EQ(ask(sessions("buyer", "buyer1", 42), wire::kAppSellin).text, "There is no store 42.");
  EXPECT_EQ(ask(sessions("buyer", "buyer1", 2), wire::kAppSellin).text, "The user buyer may not buy at store 2.");
  sideConnection()->execute("UPDATE buying_sessions SET is_open = 0 WHERE store_num = 2");
  EXPECT_EQ(ask(sessions("manager", "manager1", 2), wire::kAppSellin).text, "No buying sessions are open at store 2.");
}

// A name too long is shortened visibly (the last one's 40th unit would be half a surrogate pair).
// A value a program sends back or a clerk copies is never cut: the schema keeps it within its
// field, and a database that holds one anyway gets it refused.
TEST_F(Queries, NamesAreShortenedVisiblyIdentifiersTooLongAndNumbersTooWideRefused) {
  EXPECT_EQ(rows(ask(aidAccounts("S100300")), wire::layouts::aidAccount(), {"agency_name"}),
            (std::vector<std::string>{"Veterans Administration Education Benef…", "Tribal Education Fund",
                                      "Greenfield Library and Textbook Fund — …"}));
  auto db = sideConnection();
  EXPECT_THROW(db->execute("UPDATE aid_agencies SET agency_number = 'ST-PELL-2024X' WHERE agency_id = 3"),
               storeserver::storage::Error);
  db->execute("DROP TRIGGER aid_agencies_width_on_update");  // as a hand-edited database might be
  db->execute("UPDATE aid_agencies SET agency_number = 'ST-PELL-2024X' WHERE agency_id = 3");
  db->execute("INSERT INTO buying_sessions (session_id, store_num, description, student_id_required, condition_check,"
              " within_percent, tran_warning_qty, tran_max_qty, is_open) VALUES (2004, 2, 'Odd', 0, 0, 1000, 1, 1, 1)");

  EXPECT_EQ(ask(aidAccounts("S100200")).text,
            "An aid account of student S100200 (agency ST-PELL-2024X) cannot be shown on a handheld; tell the back "
            "office.");
  EXPECT_EQ(ask(sessions("manager", "manager1", 2), wire::kAppSellin).text,
            "Buying session 2004 cannot be shown on a handheld; tell the back office.");
  for (const char* reason :
       {"value of field agency_number is longer than 12", "value of field within_percent does not fit its width"})
    EXPECT_TRUE(logged(reason)) << reason;
}

TEST_F(Queries, DatabaseFailureReachesTheClientAsAnError) {
  const std::string token = login(wire::kAppSellin, "clerk", "clerk1");
  const wire::Query terms = query(wire::requests::purchasers(1002, "B0000001", 1));
  // Each worker prepares the statement first, so what they hold is stale afterwards.
  for (int i = 0; i < 4; ++i) exchange(wire::kAppSellin, token, {terms});
  sideConnection()->execute("DROP TABLE book_purchasers");

  const auto replies = exchange(wire::kAppSellin, token, {terms, query(sessions("buyer", "buyer1", 1))});
  ASSERT_EQ(replies.size(), 2u);
  EXPECT_EQ(replies[0].text,
            "The store database could not answer; try again, and tell the back office if it happens again.");
  EXPECT_NE(lastLogLine().find("no such table: book_purchasers"), std::string::npos) << lastLogLine();
  EXPECT_EQ(sessionRows(replies[1]).size(), 4u) << "the other query is still answered";
}

using Concurrency = ServerTest;

// Handhelds connecting at once right after the start each get their own correct answer.
TEST_F(Concurrency, BurstOfFirstRequestsRightAfterStartIsAnsweredCorrectly) {
  constexpr int kClients = 32;
  auto o = options();
  o.authQueue = kClients;  // every log-in waits for its password check, none is told to come back
  start(o);
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
  // Only updates wait for a worker; reads and log-ins have queues of their own.
  const auto update = [this] {
    return exchangeAnswer(wire::kAppSellin, "not-a-token",
                          {query(wire::requests::ticketTran("0f8e2d3c-4b5a-4e6f-9a8b-7c6d5e4f3a2b", "00000001"))});
  };
  auto o = options();
  o.maxInFlight = 0;
  start(o);
  const Answer a = update();
  EXPECT_EQ(a.status, 503) << a.body;
  EXPECT_EQ(a.sentence(), "The store server is busy; try again in a moment.");
  EXPECT_EQ(get("/v1/health").status, 200) << "the health check must not count";

  o.maxInFlight = 1;
  o.workerThreads = 1;
  start(o);
  for (int i = 0; i < 6; ++i) {
    const Answer b = i % 2 ? loginAnswer(wire::kAppSellin, "clerk", "clerk1") : update();
    ASSERT_EQ(b.status, i % 2 ? 200 : 401) << "request " << i << ", the count not released: " << b.body;
  }
}

}  // namespace
}  // namespace servertest
