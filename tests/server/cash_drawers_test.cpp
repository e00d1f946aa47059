// Buyers' cash drawers in the back office, against tickets the real server stored from a handheld's exchanges, on
// SQLite and PostgreSQL: a day's over or short, a closed drawer kept as signed, and what a manager of another store
// sees of them.
#include "admin_fixture.h"

namespace servertest {
namespace {

constexpr const char* kDay = "2026-05-04";

class CashDrawers : public BuyerAdminTest {
 protected:
  // The sentence the page answers a drawer's form with.
  static std::string change(AdminBrowser& b, const httplib::Params& fields) {
    return answerSentence(b.post("/admin/drawers", fields));
  }
  // The form opening a buyer's drawer for a day, with its starting cash.
  static httplib::Params opening(const std::string& buyer, const std::string& start, const std::string& day = kDay,
                                 const std::string& store = "1") {
    return httplib::Params{{"store", store}, {"action", "open"}, {"day", day}, {"buyer", buyer}, {"start", start}};
  }
  // A form about store 1's drawer.
  static httplib::Params on(const std::string& drawer, httplib::Params fields) {
    fields.emplace("store", "1");
    fields.emplace("drawer", drawer);
    return fields;
  }
  std::string drawerOf(const std::string& buyer) const {
    return texts("SELECT '' || drawer_id FROM cash_drawers WHERE buyer = '" + buyer + "'").at(0);
  }
  // The drawers, their cash moves and the back office's audit: all a refused change must leave as it was.
  std::vector<std::string> stored() const {
    return texts("SELECT buyer || ' ' || start_cents || ' ' || added_cents || ' ' || taken_cents || ' ' ||"
                 " COALESCE('' || counted_cents, '-') || ' ' || closed_by || ' ' || paid_cents || ' ' ||"
                 " (SELECT COUNT(*) FROM cash_drawer_moves) || ' ' || (SELECT COUNT(*) FROM admin_audit)"
                 " FROM cash_drawers ORDER BY drawer_id");
  }
};
INSTANTIATE_TEST_SUITE_P(Backends, CashDrawers, kBothBackends, backendName);

TEST_P(CashDrawers, OverOrShortCountsWhatEndedTicketsPaidAndNotOpenOrVoidedOnes) {
  const LineArgs twoAtOne{.itemId = "B0000000", .qty = 2, .price = "1.00"};
  ticket({{}, twoAtOne}, kEnd);                            // paid out 12.50 + 2.00
  ticket({{}}, kVoid);                                     // pays nothing
  const std::string open = ticket({twoAtOne}, kLeftOpen);  // 2.00, not paid yet
  const std::string day = texts("SELECT MIN(opened_on) FROM tickets").at(0);

  AdminBrowser office = signedIn("office", "office1");
  EXPECT_EQ(change(office, opening("buyer", "150", day)), "The drawer of buyer for " + day + " is open with $150.00.");
  const std::string id = drawerOf("buyer");
  EXPECT_EQ(change(office, on(id, {{"action", "move"}, {"direction", "add"}, {"amount", "20"}, {"reason", "coins"}})),
            "$20.00 added to the drawer of buyer for " + day + ".");
  EXPECT_EQ(
      change(office, on(id, {{"action", "move"}, {"direction", "take"}, {"amount", "$50.00"}, {"reason", "safe"}})),
      "$50.00 taken out of the drawer of buyer for " + day + ".");
  // 150.00 + 20.00 - 50.00 - 14.50 = 105.50 expected; 100.25 counted is 5.25 short.
  EXPECT_EQ(change(office, on(id, {{"action", "count"}, {"counted", "100.25"}})),
            "Counted $100.25 in the drawer of buyer for " + day + ": expected $105.50, $5.25 short.");
  const std::string sheet = office.get("/admin/drawers?store=1&day=" + day).body;
  EXPECT_EQ(tableRows(sheet, "sheet-table"),
            std::vector<std::string>{"buyer|$150.00|$20.00|$50.00|$14.50|$105.50|$100.25|$5.25 short|$2.00|open"});
  EXPECT_EQ(tableRows(sheet, "sheet-table", true).back(),
            "Total|$150.00|$20.00|$50.00|$14.50|$105.50|$100.25|$5.25 short|$2.00|");

  EXPECT_EQ(
      change(office, on(id, {{"action", "close"}})),
      "Ticket " + open + " of buyer is still open: end or void it on the Tickets page before closing the drawer.");
  const Answer voiding = office.post(
      "/admin/tickets", {{"store", "1"}, {"receipt", open}, {"closing", "void"}, {"reason", "student left"}});
  ASSERT_EQ(pageSentence(voiding.body, "notice"), "Ticket " + open + " voided: its lines were taken back.");
  EXPECT_EQ(change(office, on(id, {{"action", "close"}})),
            "The drawer of buyer for " + day + " is closed, signed by office.");

  // A ticket ended after the closing leaves the signed figures as signed, and the drawer's page says what changed.
  ticket({{}}, kEnd);
  EXPECT_NE(office.get("/admin/drawers?store=1&drawer=" + id).body.find("$14.50 (as at closing; $27.00 now)"),
            std::string::npos);
  const Answer csv = office.get("/admin/drawers?store=1&file=csv&day=" + day);
  EXPECT_EQ(csv.header("Content-Disposition"), "attachment; filename=\"cash-store-1-" + day + ".csv\"");
  EXPECT_EQ(csv.body,
            "Store,Day,Buyer,Start,Added,Taken out,Paid out,Expected,Counted,Over/short,Not yet paid,Closed by\r\n"
            "1," +
                day + ",buyer,150.00,20.00,50.00,14.50,105.50,100.25,-5.25,0.00,office\r\n");

  const std::string of = "buyer " + day + ": ";
  EXPECT_EQ(texts("SELECT user_name || ' ' || store_num || ' ' || action || ': ' || details FROM admin_audit"
                  " WHERE action <> 'void ticket' ORDER BY audit_id"),
            (std::vector<std::string>{
                "office 1 open drawer: " + of + "starting cash $150.00", "office 1 add cash: " + of + "$20.00, coins",
                "office 1 take cash: " + of + "$50.00, safe",
                "office 1 count drawer: " + of + "counted $100.25, expected $105.50, $5.25 short",
                "office 1 close drawer: " + of + "expected $105.50, counted $100.25, $5.25 short"}));
}

TEST_P(CashDrawers, WrongFormsChangeNothingAndAClosedDrawerRefusesEveryChange) {
  AdminBrowser office = signedIn("office", "office1");
  ASSERT_EQ(change(office, opening("buyer", "80")),
            std::string("The drawer of buyer for ") + kDay + " is open with $80.00.");
  const std::string id = drawerOf("buyer");
  const std::string drawer = std::string("the drawer of buyer for ") + kDay;
  const std::string amounts = " in dollars and cents, from $0.00 to $999,999.99, such as 150.00.";
  const std::vector<std::pair<httplib::Params, std::string>> wrong = {
      {opening("clerk", "80"), "Store 1 has no buyer named clerk."},
      {opening("buyer", "80"), "The drawer of buyer for " + std::string(kDay) + " is open already."},
      {opening("former", "-5"), "Type the starting cash" + amounts},
      {opening("former", "1000000"), "Type the starting cash" + amounts},
      {opening("former", "80", "4 May"), "A day is written YYYY-MM-DD, such as 2026-05-04."},
      {on(id, {{"action", "move"}, {"direction", "add"}, {"amount", "0"}, {"reason", "coins"}}),
       "Type the cash added in dollars and cents, from $0.01 to $999,999.99, such as 150.00."},
      {on(id, {{"action", "move"}, {"direction", "take"}, {"amount", "5"}, {"reason", " "}}),
       "Give the reason the cash was taken out."},
      {on(id, {{"action", "move"}, {"direction", "keep"}, {"amount", "5"}, {"reason", "x"}}),
       "Choose whether the cash is added or taken out."},
      {on(id, {{"action", "count"}, {"counted", "12,50"}}), "Type the cash counted" + amounts},
      {on(id, {{"action", "close"}}), "Count the cash in " + drawer + " before closing it."},
  };
  const std::vector<std::string> unchanged = stored();
  for (const auto& [fields, sentence] : wrong) EXPECT_EQ(change(office, fields), sentence) << sentence;
  EXPECT_EQ(stored(), unchanged);

  ASSERT_EQ(change(office, on(id, {{"action", "count"}, {"counted", "80"}})),
            "Counted $80.00 in " + drawer + ": expected $80.00, even.");
  ASSERT_EQ(change(office, on(id, {{"action", "close"}})),
            "The drawer of buyer for " + std::string(kDay) + " is closed, signed by office.");
  const std::vector<std::string> signedAs = stored();
  for (const httplib::Params& fields : std::vector<httplib::Params>{
           on(id, {{"action", "move"}, {"direction", "add"}, {"amount", "5"}, {"reason", "coins"}}),
           on(id, {{"action", "move"}, {"direction", "take"}, {"amount", "5"}, {"reason", "safe"}}),
           on(id, {{"action", "count"}, {"counted", "79"}}), on(id, {{"action", "close"}})}) {
    const std::string said = change(office, fields);
    EXPECT_TRUE(said.starts_with("The drawer of buyer for " + std::string(kDay) + " was closed by office on ")) << said;
    EXPECT_TRUE(said.ends_with(" UTC; nothing of it can change any more.")) << said;
  }
  EXPECT_EQ(stored(), signedAs);
  EXPECT_EQ(office.get("/admin/drawers?store=1&drawer=" + id).body.find("name=\"action\""), std::string::npos)
      << "a closed drawer offered its forms";
}

TEST_P(CashDrawers, AStoresManagerSeesNoOtherStoresDrawersAndTheChainSeesThemAll) {
  AdminBrowser office = signedIn("office", "office1");
  ASSERT_EQ(change(office, opening("buyer", "150")),
            std::string("The drawer of buyer for ") + kDay + " is open with $150.00.");
  ASSERT_EQ(change(office, opening("manager", "10", kDay, "2")),
            std::string("The drawer of manager for ") + kDay + " is open with $10.00.");
  const std::string theirs = drawerOf("buyer");
  const std::vector<std::string> before = stored();

  // Its pages' refusals are among the back office's other pages'.
  AdminBrowser north = signedIn("manager", "manager1");
  const std::string day = std::string("&day=") + kDay;
  EXPECT_EQ(change(north, {{"store", "2"}, {"drawer", theirs}, {"action", "count"}, {"counted", "1"}}),
            "Store 2 has no cash drawer " + theirs + ".");
  EXPECT_EQ(change(north, opening("buyer", "1", kDay, "2")), "Store 2 has no buyer named buyer.");
  EXPECT_EQ(stored(), before);
  const std::vector<std::string> own = tableRows(north.get("/admin/drawers?store=2" + day).body, "sheet-table");
  ASSERT_EQ(own.size(), 1u);
  EXPECT_TRUE(own[0].starts_with("manager|$10.00|")) << own[0];

  // Every store's drawers, and the chain's total at the end.
  EXPECT_TRUE(tableRows(office.get("/admin/drawers?sheet=chain" + day).body, "sheet-table", true)
                  .back()
                  .starts_with("Total|$160.00|"));
  EXPECT_EQ(office.get("/admin/drawers?sheet=chain&file=csv" + day).body,
            std::string("Store,Day,Buyer,Start,Added,Taken out,Paid out,Expected,Counted,Over/short,Not yet paid,"
                        "Closed by\r\n1,") +
                kDay + ",buyer,150.00,0.00,0.00,0.00,150.00,,,0.00,\r\n2," + kDay +
                ",manager,10.00,0.00,0.00,0.00,10.00,,,0.00,\r\n");
}

}  // namespace
}  // namespace servertest
