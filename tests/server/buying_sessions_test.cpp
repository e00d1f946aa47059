// Buying sessions prepared in the back office as the handhelds then see them:
// sessions added, changed, opened and closed; purchasers' buy lists brought in
// beside what handhelds bought; one row changed; another store's manager refused.
#include "server/queries/item_codes.h"
#include "wire/money.h"
#include "admin_fixture.h"

namespace servertest {
namespace {

const char* const kWholesaler = "Campus Wholesale";

class BuyingSessions : public AdminTest {
 protected:
  void SetUp() override {
    ServerTest::SetUp();
    if (IsSkipped() || HasFatalFailure()) return;
    office_ = signedIn("office", "office1");
  }
  // The Buying sessions page's form as its page sends it, to the page of its session.
  static Answer act(AdminBrowser& browser, httplib::Params fields, const std::string& store = "1") {
    fields.emplace("store", store);
    const auto session = fields.find("session");
    return browser.post(
        "/admin/sessions?store=" + store + (session == fields.end() ? "" : "&session=" + session->second), fields);
  }
  // A session's form: its description and numbers, and the fields of others given (its flags, its session).
  static httplib::Params sessionForm(const std::string& action, const std::string& description,
                                     const std::string& within, const std::string& warning, const std::string& most,
                                     httplib::Params others = {}) {
    others.insert({{"action", action},
                   {"description", description},
                   {"within_percent", within},
                   {"tran_warning_qty", warning},
                   {"tran_max_qty", most}});
    return others;
  }
  Answer bringIn(const std::string& file, const std::string& merge = "merge", bool preview = false) {
    httplib::Params fields{
        {"action", "list"}, {"session", "1002"}, {"purchaser", kWholesaler}, {"merge", merge}, {"file", file}};
    if (preview) fields.emplace("preview", "1");
    return act(office_, fields);
  }
  // What a buyer at store 1 is offered of session 3002: number, description and rules, as the wire pads them.
  std::string offered() const {
    for (const std::string& row :
         rows(ask(wire::requests::sessions("buyer", "buyer1", 1), wire::kAppSellin), wire::layouts::session(),
              {"session_id", "description", "student_id_required", "condition_check", "within_percent",
               "tran_warning_qty", "tran_max_qty"}))
      if (row.starts_with("00003002|")) return row;
    return "not offered";
  }
  // The wholesaler's rows of session 1002: item, no limit, quantity, bought, price in cents.
  std::vector<std::string> wholesalerRows() const {
    return texts("SELECT item_id || '|' || no_limit || '|' || buy_qty || '|' || bought_qty || '|' || buy_price_cents"
                 " FROM book_purchasers WHERE session_id = 1002 AND purchaser = 'Campus Wholesale' ORDER BY item_id");
  }
  std::string isbnOf(const std::string& itemId) const {
    return texts("SELECT isbn13 FROM books WHERE item_id = '" + itemId + "'").at(0);
  }
  std::vector<std::string> audited() const { return texts("SELECT action FROM admin_audit ORDER BY audit_id"); }

  AdminBrowser office_{0};
};
INSTANTIATE_TEST_SUITE_P(Backends, BuyingSessions, kBothBackends, backendName);

TEST_P(BuyingSessions, ASessionAddedAndChangedIsWhatTheHandheldsNextSessionListOffers) {
  const struct {
    httplib::Params fields;
    std::string sentence;
  } refused[] = {
      {sessionForm("add", " ", "0", "0", "0"), "The description is empty."},
      {sessionForm("add", "Fall", "150", "0", "0"),
       "The nearly-met percentage must be a whole number from 0 to 100, not \"150\"."},
      {{{"action", "open"}, {"session", "1001"}}, "Session 1001 is open already."},
  };
  for (const auto& r : refused) EXPECT_EQ(pageSentence(act(office_, r.fields).body), r.sentence);
  EXPECT_TRUE(audited().empty());

  EXPECT_EQ(
      pageSentence(act(office_, sessionForm("add", "Fall 2027", "80", "3", "6", {{"student_id_required", "1"}})).body,
                   "notice"),
      "Session 3002 added, closed: bring in its buy lists, then open it.");
  EXPECT_EQ(offered(), "not offered");
  EXPECT_EQ(pageSentence(act(office_, {{"action", "open"}, {"session", "3002"}}).body), "");
  EXPECT_EQ(offered(), "00003002|Fall 2027|1|0|080|0003|0006");
  act(office_,
      sessionForm("rules", "Fall 2027 North", "50", "0", "8", {{"session", "3002"}, {"condition_check", "1"}}));
  EXPECT_EQ(offered(), "00003002|Fall 2027 North|0|1|050|0000|0008");
  act(office_, {{"action", "close"}, {"session", "3002"}});
  EXPECT_EQ(offered(), "not offered");
  EXPECT_EQ(audited(), (std::vector<std::string>{"add session", "open session", "change session", "close session"}));
}

TEST_P(BuyingSessions, ClosingIsRefusedWhileATicketWithItsBooksIsOpenAndNamesIt) {
  const std::string token = login(wire::kAppSellin, "buyer", "buyer1");
  const std::string receipt = openTicket(token);
  ASSERT_EQ(sellin(token, itemText(receipt), wire::kPacketNewItem), "ok");
  openTicket(token);  // empty: of no session yet

  const Answer refused = act(office_, {{"action", "close"}, {"session", "1002"}});
  EXPECT_EQ(pageSentence(refused.body), "Session 1002 cannot be closed while tickets with its books are open: " +
                                            receipt + ". End or void them on the Tickets page first.");
  EXPECT_EQ(texts("SELECT '' || is_open FROM buying_sessions WHERE session_id = 1002"), std::vector<std::string>{"1"});

  ASSERT_EQ(sellin(token, wire::requests::ticketTran(newUpdateId(), receipt), wire::kPacketChange), "ok");
  EXPECT_EQ(pageSentence(act(office_, {{"action", "close"}, {"session", "1002"}}).body, "notice"),
            "Session 1002 is closed: handhelds no longer list it or buy in it.");
  EXPECT_EQ(sellin(token, itemText(openTicket(token)), wire::kPacketNewItem),
            "This buying session is closed: choose another session.");
}

TEST_P(BuyingSessions, AListWithWrongLinesStoresNothingAndNamesEachLine) {
  const std::string unknown = "979000000000" + std::string(1, storeserver::queries::isbn13CheckDigit("979000000000"));
  const std::string good = isbnOf("B0000000");
  const std::string file = "isbn,quantity,price\n" + good + ",5,12.50\n" + unknown + ",2,1.00\n" + isbnOf("B0000001") +
                           ",many,3.00\n" + isbnOf("B0000002") + ",2,-1\n" + isbnOf("B0000003") + ",2\n" + good +
                           ",1,1.00\n";
  for (bool preview : {true, false}) {
    const Answer a = bringIn(file, "replace", preview);
    EXPECT_EQ(a.status, 400);
    EXPECT_EQ(pageSentence(a.body), "line 3: there is no book with ISBN " + unknown +
                                        "; import it first.\n"
                                        "line 4: quantity must be a whole number from 0 to 99999 or \"no limit\", not "
                                        "\"many\".\n"
                                        "line 5: price must be an amount from 0 to 99999.99, not \"-1\".\n"
                                        "line 6: 2 fields where the header names 3.\n"
                                        "line 7: the same isbn as line 2.\n"
                                        "Nothing of the file was stored.")
        << preview;
  }
  EXPECT_TRUE(wholesalerRows().empty());
  EXPECT_TRUE(audited().empty());
}

TEST_P(BuyingSessions, AListMergedOrReplacingKeepsWhatHandheldsBought) {
  const std::string a = isbnOf("B0000000"), b = isbnOf("B0000001"), c = isbnOf("B0000002");
  const std::string list = "isbn,quantity,price\n" + a + ",5,12.50\n" + b + ",no limit,3.00\n" + c + ",2,7.25\n";
  const Answer preview = bringIn(list, "merge", true);
  EXPECT_NE(preview.body.find("3 new rows, 0 changed, 0 as it was."), std::string::npos) << pageSentence(preview.body);
  EXPECT_TRUE(wholesalerRows().empty()) << "a preview stores nothing";
  bringIn(list);

  const std::string token = login(wire::kAppSellin, "buyer", "buyer1");
  const std::string receipt = openTicket(token);
  const LineArgs line{.purchaser = kWholesaler, .itemId = "B0000000", .price = "12.50"};
  EXPECT_EQ(sellin(token, itemText(receipt, {.purchaser = kWholesaler, .itemId = "B0000000", .price = "13.00"}),
                   wire::kPacketNewItem),
            "Temporary buy price must be less than the listed buy price.");
  ASSERT_EQ(sellin(token, itemText(receipt, line), wire::kPacketNewItem), "ok");

  bringIn("isbn,quantity,price\n" + a + ",8,12.50\n");
  EXPECT_EQ(wholesalerRows(),
            (std::vector<std::string>{"B0000000|0|8|1|1250", "B0000001|1|0|0|300", "B0000002|0|2|0|725"}));
  const Answer replaced = bringIn("isbn,quantity,price\n" + c + ",4,7.25\n", "replace");
  EXPECT_EQ(pageSentence(replaced.body, "notice"),
            "The buy list of Campus Wholesale is stored in session 1002: 0 new rows, 1 changed, 0 as it was; "
            "1 row bought against buys no more, 1 removed.");
  EXPECT_EQ(wholesalerRows(), (std::vector<std::string>{"B0000000|0|0|1|1250", "B0000002|0|4|0|725"}));
  EXPECT_EQ(audited(), (std::vector<std::string>{"buy list", "buy list", "buy list"}));
}

TEST_P(BuyingSessions, ARowIsChangedUnderTheImportsRulesAndKeepsItsBoughtCount) {
  const std::string where =
      " FROM book_purchasers WHERE session_id = 1002 AND item_id = 'B0000001' AND purchaser = 'Ostrand Company'";
  const auto of = [&](const std::string& columns) { return texts("SELECT '' || " + columns + where).at(0); };
  const std::string terms = "no_limit || '|' || buy_qty || '|' || buy_price_cents || '|' || status";
  const std::string kept =
      "listed_price_cents || '|' || alt_price_cents || '|' || condition_check || '|' || bought_qty";
  const std::string before = of(terms), keptBefore = of(kept), bought = of("bought_qty");
  const auto change = [&](const std::string& quantity, const std::string& price, const std::string& status) {
    return act(office_, {{"action", "row"},
                         {"session", "1002"},
                         {"item", "B0000001"},
                         {"purchaser", "Ostrand Company"},
                         {"quantity", quantity},
                         {"price", price},
                         {"status", status}});
  };
  EXPECT_EQ(pageSentence(change("-1", "4.00", "").body),
            "The quantity must be a whole number from 0 to 99999 or \"no limit\", not \"-1\".");
  EXPECT_EQ(pageSentence(change("3", "1.234", "").body),
            "The price must be an amount from 0 to 99999.99, not \"1.234\".");
  EXPECT_EQ(pageSentence(change("3", "4.00", std::string(21, 's')).body), "The status has more than 20 characters.");
  EXPECT_EQ(of(terms), before);

  // The listed price, the alternative and the condition flag stay while price and condition text do.
  const std::string price = wire::formatCents(std::stoll(of("buy_price_cents")));
  ASSERT_NE(price, "4.00");
  change("7", price, "Wanted");
  EXPECT_EQ(of(kept), keptBefore);
  EXPECT_EQ(pageSentence(change("No limit", "4.00", "Wanted").body, "notice"),
            "Ostrand Company now buys ISBN " + isbnOf("B0000001") + ": no limit at $4.00, Wanted; bought so far " +
                bought + ".");
  EXPECT_EQ(of(terms), "1|0|400|Wanted");
  EXPECT_EQ(of("listed_price_cents || '|' || bought_qty"), "400|" + bought);
  EXPECT_EQ(audited(), (std::vector<std::string>{"change buy row", "change buy row"}));
}

// A store's manager asks, as its own store's, for store 1's session 1001.
TEST_P(BuyingSessions, AStoresManagerChangesNoOtherStoresSession) {
  AdminBrowser north = signedIn("manager", "manager1");
  const std::string unchanged =
      "SELECT description || ' ' || is_open || ' ' || within_percent || ' ' || (SELECT '' || COUNT(*) || ' ' ||"
      " SUM(buy_qty) FROM book_purchasers WHERE session_id = 1001) FROM buying_sessions WHERE session_id = 1001";
  const std::string before = texts(unchanged).at(0);
  const std::string file = "isbn,quantity,price\n" + isbnOf("B0000000") + ",5,12.50\n";
  const httplib::Params asks[] = {
      {{"action", "close"}},
      sessionForm("rules", "Mine", "1", "0", "0"),
      {{"action", "list"}, {"purchaser", "Ostrand Company"}, {"merge", "replace"}, {"file", file}},
      {{"action", "list"}, {"purchaser", "Ostrand Company"}, {"file", file}, {"preview", "1"}},
      {{"action", "row"}, {"item", "B0000001"}, {"purchaser", "Ostrand Company"}, {"quantity", "1"}, {"price", "1"}},
  };
  for (httplib::Params fields : asks) {
    fields.emplace("session", "1001");
    EXPECT_EQ(pageSentence(act(north, fields, "2").body), "Store 2 has no buying session 1001.");
    EXPECT_EQ(act(north, fields, "1").status, 403);
  }
  EXPECT_EQ(texts(unchanged).at(0), before);
  EXPECT_TRUE(audited().empty());
}

}  // namespace
}  // namespace servertest
