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
  // The adoption form with the page's defaults, but for the fields given.
  static httplib::Params adoptionForm(httplib::Params fields, const std::string& term = "FALL 2028") {
    const httplib::Params form = {
        {"action", "adoptions"}, {"term", term},          {"recommended_percent", "50"},   {"optional_percent", "25"},
        {"used_percent", "40"},  {"price_percent", "50"}, {"purchaser", "Ostrand Company"}};
    for (const auto& [name, value] : form)
      if (!fields.count(name)) fields.emplace(name, value);
    return fields;
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

// A term's adoptions at store 1 whose list is worked out by hand below, with
// sections of another store (and its book G) and another term that must not count.
class AdoptionList : public BuyingSessions {
 protected:
  static std::string unknownIsbn() {
    return "979000000000" + std::string(1, storeserver::queries::isbn13CheckDigit("979000000000"));
  }
  void SetUp() override {
    BuyingSessions::SetUp();
    if (IsSkipped() || HasFatalFailure()) return;
    const auto db = sideConnection();
    const std::string isbns[] = {isbnOf("B0000000"), isbnOf("B0000001"), isbnOf("B0000003"), isbnOf("B0000002"),
                                 isbnOf("B0000004"), unknownIsbn(),      isbnOf("B0000005")};
    for (int i = 0; i < 7; ++i)
      db->execute("INSERT INTO adoption_books (sku, isbn, title) VALUES (" + std::to_string(90001 + i) + ", '" +
                  isbns[i] + "', 'Adopted " + char('A' + i) + "')");
    for (const char* statement :
         {"INSERT INTO adoption_terms (term, starts_on, is_open) VALUES ('FALL 2028', '2028-08-21', 1)",
          "INSERT INTO adoption_sections (section_id, store_num, campus, term, department, course, section) VALUES"
          " (901, 1, 'Main', 'FALL 2028', 'BIO', '201', '01'), (902, 1, 'Main', 'FALL 2028', 'BIO', '201', '02'),"
          " (903, 1, 'Main', 'FALL 2028', 'CHEM', '301', '01'), (904, 2, 'North', 'FALL 2028', 'BIO', '201', 'N1'),"
          " (905, 1, 'Main', 'FALL 2026', 'BIO', '999', '01')",
          // 901 has 10 students, 902 6, 903 4, 904 5, 905 5.
          "INSERT INTO adoption_section_books (section_id, sku, request_type) VALUES (901, 90001, 1),"
          " (902, 90001, 2), (903, 90001, 3), (904, 90001, 1), (905, 90001, 1), (901, 90002, 2), (902, 90002, 3),"
          " (902, 90003, 1), (903, 90004, 1), (901, 90005, 1), (901, 90006, 1), (904, 90007, 1)",
          "INSERT INTO adoption_stock (store_num, sku, new_price_cents, used_price_cents, new_on_hand, used_on_hand)"
          " VALUES (1, 90001, 9999, 7000, 0, 2), (1, 90002, 2525, 1800, 0, 0), (1, 90003, 4000, 3000, 0, 9),"
          " (1, 90005, 3000, 2000, 0, 1), (1, 90006, 1500, 1000, 0, 0), (1, 90007, 1000, 500, 0, 0),"
          " (2, 90001, 100, 50, 0, 50)",
          "INSERT INTO adoption_problems (problem_id, store_num, term, sku, reason, comment) VALUES"
          " (901, 1, 'FALL 2028', 90005, 'Edition change', ''), (902, 2, 'FALL 2028', 90001, 'Out of stock', '')"})
      db->execute(statement);
    const std::pair<int, int> sections[] = {{901, 10}, {902, 6}, {903, 4}, {904, 5}, {905, 5}};
    int student = 0;
    for (const auto& [section, students] : sections)
      for (int i = 0; i < students; ++i) {
        const std::string id = "'T" + std::to_string(++student) + "'";
        db->execute("INSERT INTO students (student_id, name) VALUES (" + id + ", 'Student')");
        db->execute("INSERT INTO adoption_enrollments (student_id, section_id) VALUES (" + id + ", " +
                    std::to_string(section) + ")");
      }
  }
  Answer build(const std::string& session, httplib::Params fields) {
    fields.emplace("session", session);
    return act(office_, adoptionForm(fields));
  }
  // The store's own rows of a session: item, no limit, quantity, bought, price in cents, marked the store's.
  std::vector<std::string> ownRows(const std::string& session) const {
    return texts("SELECT item_id || '|' || no_limit || '|' || buy_qty || '|' || bought_qty || '|' || buy_price_cents"
                 " || '|' || ost_purchaser FROM book_purchasers WHERE session_id = " +
                 session +
                 " AND purchaser = 'Ostrand Company' AND item_id IN ('B0000000', 'B0000001', 'B0000003')"
                 " ORDER BY item_id");
  }
};
INSTANTIATE_TEST_SUITE_P(Backends, AdoptionList, kBothBackends, backendName);

// A table's body rows, a cell's text or its input's value each, joined by |.
std::vector<std::string> tableRows(const std::string& body, const std::string& id) {
  const std::size_t start = body.find("<table id=\"" + id + "\"");
  std::string table = start == std::string::npos ? "" : body.substr(start, body.find("</table>", start) - start);
  table = std::regex_replace(table, std::regex("<input[^>]*value=\"([^\"]*)\"[^>]*>"), "$1");
  table = std::regex_replace(table, std::regex("</td>\\s*<td[^>]*>"), "|");
  const std::regex row("<tr><td[^>]*>([^<]*)</td></tr>");
  std::vector<std::string> rows;
  for (std::sregex_iterator r(table.begin(), table.end(), row), end; r != end; ++r) rows.push_back(htmlText((*r)[1]));
  return rows;
}

TEST_P(AdoptionList, APreviewShowsEachNumbersPartsAndTheStoredListKeepsBoughtCounts) {
  const std::string a = isbnOf("B0000000"), b = isbnOf("B0000001"), c = isbnOf("B0000003");
  const std::vector<std::string> before = ownRows("1002");
  const Answer preview = build("1002", {{"preview", "1"}});
  ASSERT_EQ(preview.status, 200) << pageSentence(preview.body);
  EXPECT_EQ(ownRows("1002"), before) << "a preview stores nothing";
  // Demand: required + 50 % of recommending + 25 % of optional; used: 40 % of it, down; less used on hand, not below
  // 0. A: 10 + 3 + 1 = 14, 5.6 -> 5, less 2 -> 3; B: 5 + 1.5 = 6.5, 2.6 -> 2; C: 6, 2.4 -> 2, less 9 -> 0.
  // Price: 50 % of new, half a cent up: 49.995 -> 50.00, 12.625 -> 12.63.
  std::vector<std::string> rows = tableRows(preview.body, "adoption-rows");
  ASSERT_EQ(rows.size(), 3u);
  EXPECT_EQ(rows[2], c + "|Adopted C|6|0|0|6|2|9|0|$40.00|20.00|none to buy: not stored");
  for (std::string& row : rows) row.erase(row.rfind('|'));
  EXPECT_EQ(rows, (std::vector<std::string>{a + "|Adopted A|10|6|4|14|5|2|3|$99.99|50.00",
                                            b + "|Adopted B|0|10|6|6.5|2|0|2|$25.25|12.63",
                                            c + "|Adopted C|6|0|0|6|2|9|0|$40.00|20.00"}));
  EXPECT_EQ(tableRows(preview.body, "adoption-apart"),
            (std::vector<std::string>{isbnOf("B0000002") + "|Adopted D|no new price",
                                      isbnOf("B0000004") + "|Adopted E|problem reported: Edition change",
                                      unknownIsbn() + "|Adopted F|not among the store's books"}));
  EXPECT_NE(preview.body.find("0 new rows, 2 changed, 0 as it was; 3 books listed apart, not bought."),
            std::string::npos);

  // B0000001 was bought once in session 1002; B's line is edited to 4 at 12.00.
  const Answer stored = build("1002", {{"quantity_90001", "3"},
                                       {"price_90001", "50.00"},
                                       {"quantity_90002", "4"},
                                       {"price_90002", "12.00"},
                                       {"quantity_90003", "0"},
                                       {"price_90003", "20.00"}});
  EXPECT_EQ(pageSentence(stored.body, "notice"),
            "The store's own list of FALL 2028 is stored in session 1002 for Ostrand Company, merged: 0 new rows, "
            "2 changed, 0 as it was.");
  EXPECT_EQ(ownRows("1002"), (std::vector<std::string>{"B0000000|0|3|0|5000|1", "B0000001|0|4|1|1200|1"}));

  // A new session has no purchaser of the store's: the form offers the one of the store's latest session.
  act(office_, sessionForm("add", "Fall 2028", "90", "0", "0"));
  const Answer page = office_.get("/admin/sessions?store=1&session=3002");
  std::smatch offered;
  ASSERT_TRUE(
      std::regex_search(page.body, offered, std::regex("name=\"purchaser\" maxlength=\"30\" value=\"([^\"]*)\"")));
  EXPECT_EQ(offered[1], "Ostrand Company");
  build("3002", {{"merge", "replace"}});
  EXPECT_EQ(ownRows("3002"), (std::vector<std::string>{"B0000000|0|3|0|5000|1", "B0000001|0|2|0|1263|1"}));
  EXPECT_EQ(audited(), (std::vector<std::string>{"adoption list", "add session", "adoption list"}));
}

TEST_P(AdoptionList, AWrongSettingOrPurchaserStoresNothing) {
  const struct {
    httplib::Params fields;
    std::string sentence;
  } refused[] = {
      {{{"used_percent", "150"}}, "The share buying used must be a whole number from 0 to 100, not \"150\"."},
      {{{"term", "WINTER"}}, "Store 1 has no course sections in the term \"WINTER\"; choose one of the list."},
      {{{"quantity_90002", "-2"}, {"price_90002", "1.00"}},
       "The quantity of ISBN " + isbnOf("B0000001") +
           " must be a whole number from 0 to 99999 or \"no limit\", not "
           "\"-2\"."},
      {{{"purchaser", "Midwest Book Wholesale"}},
       "Midwest Book Wholesale buys in session 1002 for itself, not as the store; the store's own list goes under the "
       "store's name."},
      {{{"purchaser", "Campus Store"}},
       "The store buys in session 1002 as Ostrand Company; build its own list under that name."},
  };
  const std::vector<std::string> before = ownRows("1002");
  for (const auto& r : refused)
    for (bool preview : {true, false}) {
      httplib::Params fields = r.fields;
      if (preview) fields.emplace("preview", "1");
      EXPECT_EQ(pageSentence(build("1002", fields).body), r.sentence) << preview;
    }
  EXPECT_EQ(ownRows("1002"), before);
  EXPECT_TRUE(audited().empty());
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
      adoptionForm({}, "FALL 2026"),
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
