// Each query kind against the demo data, as the programs will read the records.
#include "server_fixture.h"
#include "wire/requests.h"
#include "wire/text.h"

namespace servertest {
namespace {

using Queries = ServerTest;
using wire::requests::aidAccounts;
using wire::requests::sessions;

std::vector<Record> records(const wire::Reply& reply, const wire::RecordLayout& layout) {
  EXPECT_FALSE(reply.error) << reply.text;
  auto list = cut(reply.text, layout);
  for (const Record& r : list) {
    EXPECT_EQ(r.text.size(), layout.dataSize()) << reply.text;
    EXPECT_EQ(r.text.substr(0, 3), wire::toUtf16(layout.tag())) << reply.text;
    EXPECT_EQ(r.text.back(), u'\r') << reply.text;
  }
  return list;
}

std::string sessionLine(const Record& r) {
  return r.field("session_id") + "|" + r.field("description") + "|" + r.field("student_id_required") +
         r.field("condition_check") + "|" + r.field("within_percent") + "|" + r.field("tran_warning_qty") + "|" +
         r.field("tran_max_qty");
}

TEST_F(Queries, SessionsAreTheOpenOnesOfTheAskedStore) {
  const auto store1 = records(ask(sessions("buyer", "buyer1", 1)), wire::layouts::session());
  std::vector<std::string> lines;
  for (const Record& r : store1) lines.push_back(sessionLine(r));
  const std::vector<std::string> expected = {
      "00001001|Spring Buyback|11|010|0005|0010",
      "00001002|  Walk-in Buyback|00|000|0003|0006",
      "00001003|Wholesale Only|01|025|0020|0050",
      "00001004|Wholesale Only|10|005|0010|0020",
  };
  EXPECT_EQ(lines, expected);

  const auto store2 = records(ask(sessions("manager", "manager1", 2)), wire::layouts::session());
  lines.clear();
  for (const Record& r : store2) lines.push_back(sessionLine(r));
  EXPECT_EQ(lines, (std::vector<std::string>{"00002001|North Campus Buyback|11|015|0004|0008",
                                             "00002002|  Finals Week|00|100|0010|9999"}));

  // A buyer of one store may look at another's sessions.
  EXPECT_EQ(records(ask(sessions("buyer", "buyer1", 2)), wire::layouts::session()).size(), 2u);
}

TEST_F(Queries, StoreWithoutOpenSessionsOrUnknownStoreIsAnError) {
  const wire::Reply closed = ask(sessions("buyer", "buyer1", 3));
  EXPECT_TRUE(closed.error) << closed.text;
  EXPECT_EQ(closed.text, "No buying sessions are open at store 3.");

  const wire::Reply unknown = ask(sessions("buyer", "buyer1", 42));
  EXPECT_TRUE(unknown.error) << unknown.text;
  EXPECT_EQ(unknown.text, "There is no store 42.");
}

TEST_F(Queries, SessionsNeedABuyerWithTheRightPassword) {
  const std::vector<std::pair<std::string, std::string>> cases = {
      {sessions("buyer", "wrong", 1), "The buyer user name or password is wrong."},
      {sessions("nobody", "buyer1", 1), "The buyer user name or password is wrong."},
      {sessions("clerk", "clerk1", 1), "The user clerk may not buy books."},
      {sessions("former", "former1", 1), "The user former is disabled."},
      {sessions("", "", 1), "No buyer user name is set."},
  };
  const std::string token = login(wire::kAppSellin, "clerk", "clerk1");
  ASSERT_FALSE(token.empty());
  std::vector<wire::Query> queries;
  for (const auto& c : cases) queries.push_back(query(c.first));
  const auto replies = exchange(wire::kAppSellin, token, queries);
  ASSERT_EQ(replies.size(), cases.size());
  for (std::size_t i = 0; i < cases.size(); ++i) {
    EXPECT_TRUE(replies[i].error) << cases[i].first << " -> " << replies[i].text;
    EXPECT_EQ(replies[i].text, cases[i].second) << cases[i].first;
  }
}

TEST_F(Queries, WrongBuyerPasswordsCountTowardsTheFailureLimit) {
  const std::string token = login(wire::kAppSellin, "clerk", "clerk1");
  ASSERT_FALSE(token.empty());
  std::vector<wire::Query> guesses(5, query(sessions("buyer", "guess", 1)));
  for (const wire::Reply& r : exchange(wire::kAppSellin, token, guesses)) EXPECT_TRUE(r.error) << r.text;

  const auto replies = exchange(wire::kAppSellin, token, {query(sessions("buyer", "buyer1", 1))});
  ASSERT_EQ(replies.size(), 1u);
  EXPECT_TRUE(replies[0].error) << replies[0].text;
  EXPECT_NE(replies[0].text.find("Too many failed log-ins for buyer"), std::string::npos) << replies[0].text;
  EXPECT_EQ(loginAnswer(wire::kAppSellin, "buyer", "buyer1").status, 429);
}

TEST_F(Queries, AidAccountsOfStudentsWithNoneOneOrSeveral) {
  const wire::Reply none = ask(aidAccounts("S100100"));
  EXPECT_TRUE(none.error) << none.text;
  EXPECT_EQ(none.text, "Student S100100 has no aid accounts.");

  const wire::Reply unknown = ask(aidAccounts("S999999"));
  EXPECT_TRUE(unknown.error) << unknown.text;
  EXPECT_EQ(unknown.text, "No student with ID S999999.");

  const auto one = records(ask(aidAccounts("S100200")), wire::layouts::aidAccount());
  ASSERT_EQ(one.size(), 1u);
  EXPECT_EQ(one[0].field("student_id"), "S100200");
  EXPECT_EQ(one[0].field("agency_name"), "State Grant Office");
  EXPECT_EQ(one[0].field("agency_number"), "ST-PELL");
  EXPECT_EQ(one[0].field("start_date"), "2024-08-15");
  EXPECT_EQ(one[0].field("expire_date"), "2025-05-31");
  EXPECT_EQ(one[0].field("total_balance"), "0000012.50");
  EXPECT_EQ(one[0].field("credit_limit"), "0000500.00");
  EXPECT_EQ(one[0].field("amount_available"), "0000487.50");

  const auto several = records(ask(aidAccounts("S100300")), wire::layouts::aidAccount());
  ASSERT_EQ(several.size(), 3u);
  EXPECT_EQ(several[0].field("agency_name"), "Veterans Administration Education Benefi") << "cut at 40";
  EXPECT_EQ(several[1].field("total_balance"), "-000025.00");
  EXPECT_EQ(several[1].field("amount_available"), "0000225.00");
  EXPECT_EQ(several[2].field("amount_available"), "-000100.00");
  // The 40th unit would be half of a surrogate pair: the field ends one short.
  EXPECT_EQ(several[2].field("agency_name"), "Greenfield Library and Textbook Fund —");
  EXPECT_EQ(wire::toUtf16(several[2].field("agency_name")).size(), 38u);
}

TEST_F(Queries, StudentIdsAreCaseSensitiveAndNamesSurviveTheRoundTrip) {
  const auto lower = records(ask(aidAccounts("s100200")), wire::layouts::aidAccount());
  ASSERT_EQ(lower.size(), 2u);
  EXPECT_EQ(lower[0].field("student_id"), "s100200");
  EXPECT_EQ(lower[0].field("agency_name"), "Fundação Estudantil São Paulo — Bolsas");
  EXPECT_EQ(lower[0].field("total_balance"), "0000000.00");
  EXPECT_EQ(lower[1].field("agency_number"), "VA-0001");
  EXPECT_EQ(lower[1].field("amount_available"), "0000000.00");

  const auto upper = records(ask(aidAccounts("S100200")), wire::layouts::aidAccount());
  ASSERT_EQ(upper.size(), 1u);
  EXPECT_EQ(upper[0].field("agency_number"), "ST-PELL");

  const wire::Reply other = ask(aidAccounts("s100300"));
  EXPECT_EQ(other.text, "No student with ID s100300.");
}

TEST_F(Queries, ValuesThatDoNotFitTheirFieldBecomeAnErrorNotABrokenRecord) {
  auto db = sideConnection();
  ASSERT_TRUE(db);
  db->execute(
      "INSERT INTO buying_sessions (session_id, store_num, description, student_id_required, condition_check,"
      " within_percent, tran_warning_qty, tran_max_qty, is_open) VALUES (2004, 2, 'Odd', 0, 0, 1000, 1, 1, 1)");
  db->execute(
      "INSERT INTO aid_accounts (account_id, student_id, agency_id, start_date, expire_date, total_balance_cents,"
      " credit_limit_cents) VALUES (99, 'S100100', 3, '2024-01-01', '2024-12-31', 0, 100000000000)");

  const wire::Reply session = ask(sessions("manager", "manager1", 2));
  EXPECT_TRUE(session.error) << session.text;
  EXPECT_NE(session.text.find("Buying session 2004 cannot be sent"), std::string::npos) << session.text;
  EXPECT_NE(session.text.find("within_percent"), std::string::npos) << session.text;

  const wire::Reply account = ask(aidAccounts("S100100"));
  EXPECT_TRUE(account.error) << account.text;
  EXPECT_NE(account.text.find("credit_limit"), std::string::npos) << account.text;
}

TEST_F(Queries, DatabaseFailureReachesTheClientAsAnError) {
  const std::string token = login(wire::kAppStipendo, "clerk", "clerk1");
  ASSERT_FALSE(token.empty());
  // Warm the workers' prepared statements first, so they are stale after the change.
  for (int i = 0; i < 4; ++i) exchange(wire::kAppStipendo, token, {query(aidAccounts("S100200"))});
  sideConnection()->execute("DROP TABLE aid_accounts");

  const auto replies = exchange(wire::kAppStipendo, token,
                                {query(aidAccounts("S100200")), query(sessions("buyer", "buyer1", 1))});
  ASSERT_EQ(replies.size(), 2u);
  EXPECT_TRUE(replies[0].error) << replies[0].text;
  EXPECT_NE(replies[0].text.find("The store database failed"), std::string::npos) << replies[0].text;
  EXPECT_FALSE(replies[1].error) << replies[1].text;
  EXPECT_EQ(cut(replies[1].text, wire::layouts::session()).size(), 4u) << replies[1].text;
}

}  // namespace
}  // namespace servertest
