// Each query kind against the demo data, read as the programs read records.
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

// The account figures reach the Stipendo dialog tests; the names are cut here.
TEST_F(Queries, AgencyNamesAreCutAt40UnitsNeverInsideACharacter) {
  const auto names = [this](const char* student) {
    return rows(ask(aidAccounts(student)), wire::layouts::aidAccount(), {"agency_name"});
  };
  // The last one's 40th unit would be half a surrogate pair, so it ends one short.
  EXPECT_EQ(names("S100300"),
            (std::vector<std::string>{"Veterans Administration Education Benefi", "Tribal Education Fund",
                                      "Greenfield Library and Textbook Fund —"}));
  EXPECT_EQ(names("s100200"), (std::vector<std::string>{"Fundação Estudantil São Paulo — Bolsas",
                                                         "Veterans Administration Education Benefi"}));
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
