// Each query kind against the demo data, read as the programs read records.
#include "server_fixture.h"
#include "wire/requests.h"
#include "wire/text.h"

namespace servertest {
namespace {

using Queries = ServerTest;
using wire::requests::aidAccounts;
using wire::requests::sessions;

// The records of a successful reply, each checked for its framing, fields joined by '|'.
std::vector<std::string> rows(const wire::Reply& reply, const wire::RecordLayout& layout,
                              std::initializer_list<std::string_view> fields) {
  EXPECT_FALSE(reply.error) << reply.text;
  std::vector<std::string> out;
  for (const Record& r : cut(reply.text, layout)) {
    EXPECT_EQ(r.text.size(), layout.dataSize()) << reply.text;
    EXPECT_TRUE(r.text.starts_with(wire::toUtf16(layout.tag())) && r.text.ends_with(u"\r")) << reply.text;
    std::string line;
    for (std::string_view f : fields) line += (line.empty() ? "" : "|") + r.field(f);
    out.push_back(line);
  }
  return out;
}

std::vector<std::string> sessionRows(const wire::Reply& reply) {
  return rows(reply, wire::layouts::session(),
              {"session_id", "description", "student_id_required", "condition_check", "within_percent",
               "tran_warning_qty", "tran_max_qty"});
}

std::vector<std::string> accountRows(const wire::Reply& reply) {
  return rows(reply, wire::layouts::aidAccount(),
              {"student_id", "agency_name", "agency_number", "start_date", "expire_date", "total_balance",
               "credit_limit", "amount_available"});
}

TEST_F(Queries, SessionsAreTheOpenOnesOfTheAskedStore) {
  EXPECT_EQ(sessionRows(ask(sessions("buyer", "buyer1", 1))),
            (std::vector<std::string>{"00001001|Spring Buyback|1|1|010|0005|0010",
                                      "00001002|  Walk-in Buyback|0|0|000|0003|0006",
                                      "00001003|Wholesale Only|0|1|025|0020|0050",
                                      "00001004|Wholesale Only|1|0|005|0010|0020"}));
  EXPECT_EQ(sessionRows(ask(sessions("manager", "manager1", 2))),
            (std::vector<std::string>{"00002001|North Campus Buyback|1|1|015|0004|0008",
                                      "00002002|  Finals Week|0|0|100|0010|9999"}));
  EXPECT_EQ(ask(sessions("buyer", "buyer1", 3)).text, "No buying sessions are open at store 3.");
  EXPECT_EQ(ask(sessions("buyer", "buyer1", 42)).text, "There is no store 42.");
}

TEST_F(Queries, SessionsNeedABuyerWithTheRightPassword) {
  const std::vector<std::pair<std::string, std::string>> cases = {
      {sessions("buyer", "wrong", 1), "The buyer user name or password is wrong."},
      {sessions("nobody", "buyer1", 1), "The buyer user name or password is wrong."},
      {sessions("clerk", "clerk1", 1), "The user clerk may not buy books."},
      {sessions("former", "former1", 1), "The user former is disabled."},
      {sessions("", "", 1), "No buyer user name is set."},
  };
  std::vector<wire::Query> queries;
  for (const auto& c : cases) queries.push_back(query(c.first));
  const auto replies = exchange(wire::kAppSellin, login(wire::kAppSellin, "clerk", "clerk1"), queries);
  ASSERT_EQ(replies.size(), cases.size());
  for (std::size_t i = 0; i < cases.size(); ++i) {
    EXPECT_TRUE(replies[i].error) << cases[i].first;
    EXPECT_EQ(replies[i].text, cases[i].second) << cases[i].first;
  }
}

TEST_F(Queries, WrongBuyerPasswordsCountTowardsTheFailureLimit) {
  const std::string token = login(wire::kAppSellin, "clerk", "clerk1");
  exchange(wire::kAppSellin, token, std::vector<wire::Query>(5, query(sessions("buyer", "guess", 1))));
  const auto replies = exchange(wire::kAppSellin, token, {query(sessions("buyer", "buyer1", 1))});
  ASSERT_EQ(replies.size(), 1u);
  EXPECT_TRUE(replies[0].text.starts_with("Too many failed log-ins for buyer")) << replies[0].text;
  EXPECT_EQ(loginAnswer(wire::kAppSellin, "buyer", "buyer1").status, 429);
}

TEST_F(Queries, AidAccountsOfStudentsWithNoneOneOrSeveral) {
  EXPECT_EQ(ask(aidAccounts("S100100")).text, "Student S100100 has no aid accounts.");
  EXPECT_EQ(ask(aidAccounts("S999999")).text, "No student with ID S999999.");
  EXPECT_EQ(accountRows(ask(aidAccounts("S100200"))),
            (std::vector<std::string>{
                "S100200|State Grant Office|ST-PELL|2024-08-15|2025-05-31|0000012.50|0000500.00|0000487.50"}));
  // Cut at 40 units; the last one's 40th unit would be half a surrogate pair, so it ends one short.
  EXPECT_EQ(accountRows(ask(aidAccounts("S100300"))),
            (std::vector<std::string>{
                "S100300|Veterans Administration Education Benefi|VA-0001|2023-08-20|2024-08-19|0000123.45|0001000.00|"
                "0000876.55",
                "S100300|Tribal Education Fund|TRIBAL-77|2024-01-05|2024-12-31|-000025.00|0000200.00|0000225.00",
                "S100300|Greenfield Library and Textbook Fund —|GLTF-5|2024-09-01|2025-06-30|0000600.00|0000500.00|"
                "-000100.00"}));
}

TEST_F(Queries, StudentIdsAreCaseSensitiveAndNonAsciiNamesSurvive) {
  EXPECT_EQ(accountRows(ask(aidAccounts("s100200"))),
            (std::vector<std::string>{
                "s100200|Fundação Estudantil São Paulo — Bolsas|BR-SP-2024|2024-01-10|2024-12-20|0000000.00|"
                "0000300.00|0000300.00",
                "s100200|Veterans Administration Education Benefi|VA-0001|2024-08-01|2025-07-31|0000075.05|"
                "0000075.05|0000000.00"}));
  EXPECT_EQ(accountRows(ask(aidAccounts("S100200"))).size(), 1u);
  EXPECT_EQ(ask(aidAccounts("s100300")).text, "No student with ID s100300.");
}

TEST_F(Queries, ValuesThatDoNotFitTheirFieldBecomeAnErrorNotABrokenRecord) {
  auto db = sideConnection();
  db->execute(
      "INSERT INTO buying_sessions (session_id, store_num, description, student_id_required, condition_check,"
      " within_percent, tran_warning_qty, tran_max_qty, is_open) VALUES (2004, 2, 'Odd', 0, 0, 1000, 1, 1, 1)");
  db->execute(
      "INSERT INTO aid_accounts (account_id, student_id, agency_id, start_date, expire_date, total_balance_cents,"
      " credit_limit_cents) VALUES (99, 'S100100', 3, '2024-01-01', '2024-12-31', 0, 100000000000)");

  const wire::Reply session = ask(sessions("manager", "manager1", 2));
  EXPECT_TRUE(session.error) << session.text;
  EXPECT_EQ(session.text, "Buying session 2004 cannot be sent: value of field within_percent does not fit its width.");
  const wire::Reply account = ask(aidAccounts("S100100"));
  EXPECT_TRUE(account.error) << account.text;
  EXPECT_NE(account.text.find("credit_limit does not fit"), std::string::npos) << account.text;
}

TEST_F(Queries, DatabaseFailureReachesTheClientAsAnError) {
  const std::string token = login(wire::kAppStipendo, "clerk", "clerk1");
  // Each worker prepares the statement first, so what they hold is stale afterwards.
  for (int i = 0; i < 4; ++i) exchange(wire::kAppStipendo, token, {query(aidAccounts("S100200"))});
  sideConnection()->execute("DROP TABLE aid_accounts");

  const auto replies =
      exchange(wire::kAppStipendo, token, {query(aidAccounts("S100200")), query(sessions("buyer", "buyer1", 1))});
  ASSERT_EQ(replies.size(), 2u);
  EXPECT_TRUE(replies[0].error) << replies[0].text;
  EXPECT_TRUE(replies[0].text.starts_with("The store database failed")) << replies[0].text;
  EXPECT_EQ(sessionRows(replies[1]).size(), 4u) << "the other query is still answered";
}

}  // namespace
}  // namespace servertest
