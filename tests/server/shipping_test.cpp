// What goes to a purchaser at the end of a buyback, from tickets the real
// server stored from a handheld's exchanges, on SQLite and PostgreSQL: the
// packing list, its CSV and its labels hold what ended tickets bought, agree
// with the purchaser's bought counts, and show no other store's.
#include <set>

#include "server/admin/shipping.h"
#include "server/import/csv_reader.h"
#include "admin_fixture.h"

namespace servertest {
namespace {

const std::string kOstrand = "/admin/shipping?store=1&session=1002&purchaser=Ostrand%20Company";

class Shipping : public BuyerAdminTest {
 protected:
  void SetUp() override {
    BuyerAdminTest::SetUp();
    if (IsSkipped() || HasFatalFailure()) return;
    // Ostrand takes any number of each of its books, at up to 12.50.
    sideConnection()->execute("UPDATE book_purchasers SET no_limit = 1, bought_qty = 0, buy_price_cents = 1250,"
                              " listed_price_cents = 1250 WHERE session_id = 1002 AND purchaser = 'Ostrand Company'");
  }
};
INSTANTIATE_TEST_SUITE_P(Backends, Shipping, kBothBackends, backendName);

// The labels of a sheet, each its lines joined by '|'.
std::vector<std::string> labels(const std::string& body) {
  const std::regex label("<div class=\"label\">(.*?)</div>"), tag("<[^>]*>");
  std::vector<std::string> out;
  for (std::sregex_iterator l(body.begin(), body.end(), label), end; l != end; ++l)
    out.push_back(std::regex_replace(std::regex_replace((*l)[1].str(), std::regex("<br>"), "|"), tag, ""));
  return out;
}

// Worked out by hand: ticket a bought 2 Economics at 12.50, 3 Algebra at 1.00 and a third book, b 1 Economics at
// 10.00, c took back 1 Economics at 12.50 and the third book; an open ticket holds 1 Economics and a voided one held
// 2 Algebra. Shipped: 3 Algebra (3.00), 1 Economics at 10.00 and 1 at 12.50 (c took back the second of a's): 5
// copies, 25.50.
TEST_P(Shipping, PackingListCsvAndLabelsHoldWhatEndedTicketsBought) {
  sideConnection()->execute("UPDATE books SET title = 'Algebra' WHERE item_id = 'B0000000'");
  sideConnection()->execute("UPDATE books SET title = ? WHERE item_id = 'B0000001'",
                            {std::string("Economics, \"Revised\"")});
  const std::string alg = isbnOf("B0000000"), eco = isbnOf("B0000001");
  const std::string third = texts("SELECT MIN(item_id) FROM book_purchasers WHERE session_id = 1002"
                                  " AND purchaser = 'Ostrand Company' AND item_id > 'B0000001'")
                                .at(0);
  const std::string a = ticket({{.itemId = "B0000001", .qty = 2, .price = "12.50"},
                                {.itemId = "B0000000", .qty = 3, .price = "1.00"},
                                {.itemId = third, .qty = 1, .price = "2.00"}},
                               kEnd);
  const std::string b = ticket({{.itemId = "B0000001", .qty = 1, .price = "10.00"}}, kEnd);
  ticket({{.itemId = "B0000001", .qty = -1, .price = "12.50"}, {.itemId = third, .qty = -1, .price = "2.00"}}, kEnd);
  const std::string open = ticket({{.itemId = "B0000001", .qty = 1, .price = "12.50"}}, kLeftOpen);
  ticket({{.itemId = "B0000000", .qty = 2, .price = "1.00"}}, kVoid);
  // The bought counts hold the open ticket's copy too, and nothing of the voided one.
  EXPECT_EQ(std::pair(bought("B0000001"), bought("B0000000")), std::pair(std::string("3"), std::string("3")));

  AdminBrowser office = signedIn("office", "office1");
  EXPECT_NE(office.get("/admin/sessions?store=1&session=1002")
                .body.find("href=\"/admin/shipping?store=1&amp;session=1002&amp;purchaser=Ostrand%20Company\""),
            std::string::npos)
      << "the session's page leads to the purchaser's shipping";
  const std::string economics = eco + "|Economics, &quot;Revised&quot;";
  const std::string list = office.get(kOstrand).body;
  EXPECT_EQ(tableRows(list, "packing"),
            (std::vector<std::string>{alg + "|Algebra|3|$1.00|$3.00", economics + "|1|$10.00|$10.00",
                                      economics + "|1|$12.50|$12.50"}));
  EXPECT_NE(list.find(">5 copies, $25.50 in all.</p>"), std::string::npos) << list;

  const Answer file = office.get(kOstrand + "&file=csv");
  EXPECT_EQ(file.header("Content-Type"), "text/csv; charset=utf-8");
  EXPECT_EQ(file.header("Content-Disposition"), "attachment; filename=\"shipping-1002-Ostrand-Company.csv\"");
  EXPECT_EQ(file.body, "ISBN,Title,Quantity,Price,Total\r\n" + alg + ",Algebra,3,1.00,3.00\r\n" + eco +
                           ",\"Economics, \"\"Revised\"\"\",1,10.00,10.00\r\n" + eco +
                           ",\"Economics, \"\"Revised\"\"\",1,12.50,12.50\r\n");

  const std::string label = "Ostrand Company|ISBN ";
  const std::string algebraOfA = label + alg + "|Algebra|Receipt " + a + " · session 1002";
  const std::string economicsOf = label + eco + "|Economics, &quot;Revised&quot;|Receipt ";
  const std::string labelSheet = office.get(kOstrand + "&sheet=labels").body;
  EXPECT_EQ(labels(labelSheet), (std::vector<std::string>{economicsOf + a + " · session 1002", algebraOfA, algebraOfA,
                                                          algebraOfA, economicsOf + b + " · session 1002"}));
  EXPECT_NE(labelSheet.find(">Labels 1–5 of 5 for Ostrand Company, session 1002 ("), std::string::npos) << labelSheet;

  // Once no ticket is open, the list, the labels and the bought counts agree copy for copy.
  ASSERT_EQ(end(open), "ok");
  EXPECT_EQ(tableRows(office.get(kOstrand).body, "packing").back(), economics + "|2|$12.50|$25.00");
  const std::vector<std::string> sheet = labels(office.get(kOstrand + "&sheet=labels").body);
  EXPECT_EQ(std::to_string(sheet.size()),
            texts("SELECT '' || SUM(bought_qty) FROM book_purchasers WHERE session_id = 1002"
                  " AND purchaser = 'Ostrand Company'")
                .at(0));
  // The copy open bought after c's return is shipped; its label names a's second copy, as returns take back the
  // copies bought last.
  EXPECT_EQ(sheet.at(1), economicsOf + a + " · session 1002");

  // Counts over a thousand read with their separators, as amounts do.
  sideConnection()->execute("UPDATE ticket_lines SET qty = 1200 WHERE qty = 3");
  const std::string big = office.get(kOstrand).body;
  EXPECT_EQ(tableRows(big, "packing").at(0), alg + "|Algebra|1,200|$1.00|$1,200.00");
  EXPECT_NE(big.find(">1,203 copies, $1,235.00 in all.</p>"), std::string::npos) << big;
  const std::string bigSheet = office.get(kOstrand + "&sheet=labels").body;
  EXPECT_NE(bigSheet.find(">Labels 1–1,203 of 1,203 for Ostrand Company"), std::string::npos)
      << bigSheet.substr(0, 3000);
}

// Labels come a page of lines at a time in ticket order, numbered among all of the purchaser's: a's Algebra (2) and
// Economics (1), b's Algebra, which c's return took back, and d's Economics (2).
TEST_P(Shipping, LabelsComeAPageOfLinesAtATimeNumberedAmongAll) {
  const std::string a = ticket(
      {{.itemId = "B0000000", .qty = 2, .price = "1.00"}, {.itemId = "B0000001", .qty = 1, .price = "12.50"}}, kEnd);
  ticket({{.itemId = "B0000000", .qty = 1, .price = "1.00"}}, kEnd);
  ticket({{.itemId = "B0000000", .qty = -1, .price = "1.00"}}, kEnd);
  const std::string d = ticket({{.itemId = "B0000001", .qty = 2, .price = "12.50"}}, kEnd);
  ticket({{.itemId = "B0000001", .qty = 3, .price = "12.50"}}, kLeftOpen);

  namespace admin = storeserver::admin;
  const auto db = sideConnection();
  const admin::KeyedList lines = admin::labelLines(1002, "Ostrand Company");
  const auto sheet = [&](const admin::PageAsk& ask) {
    const admin::KeyedPage page = admin::fetchPage(*db, lines, ask);
    const admin::LabelPage labels = admin::labelsOf(*db, 1002, "Ostrand Company", page.rows);
    std::string shown = std::to_string(labels.before + 1) + "-" +
                        std::to_string(labels.before + std::int64_t(labels.labels.size())) + " of " +
                        std::to_string(labels.total) + (page.later ? " then more:" : ":");
    for (const admin::ShippingLabel& l : labels.labels) shown += " " + l.receipt;
    return std::pair(shown, page.rows.empty() ? storeserver::storage::Row{} : admin::keyOf(lines, page.rows.back()));
  };
  const auto [first, afterFirst] = sheet({admin::PageFrom::First, {}, 2});
  EXPECT_EQ(first, "1-3 of 5 then more: " + a + " " + a + " " + a);
  const std::string second = "4-5 of 5: " + d + " " + d;
  EXPECT_EQ(sheet({admin::PageFrom::After, afterFirst, 2}).first, second);
  EXPECT_EQ(sheet({admin::PageFrom::Last, {}, 2}).first, second);
}

TEST_P(Shipping, AnOpenTicketShipsNothingAndAMissingSessionOrPurchaserShowsNothing) {
  sideConnection()->execute("UPDATE books SET title = 'Algebra' WHERE item_id = 'B0000000'");
  ticket({{.itemId = "B0000000", .qty = 2, .price = "1.00"}}, kLeftOpen);
  const std::string sheet = kOstrand + "&sheet=labels";
  AdminBrowser office = signedIn("office", "office1");
  for (const std::string& page : {kOstrand, sheet}) {
    const std::string body = office.get(page).body;
    EXPECT_NE(body.find("<p id=\"nothing\">No ended ticket of session 1002 bought anything for Ostrand Company;"),
              std::string::npos)
        << page;
    EXPECT_EQ(body.find("Algebra"), std::string::npos) << page;
  }
  EXPECT_EQ(office.get(kOstrand + "&file=csv").body, "ISBN,Title,Quantity,Price,Total\r\n");
  ticket({{.itemId = "B0000000", .qty = 2, .price = "1.00"}}, kEnd);

  // Another store's manager's refusals are among the back office's other pages'.
  const struct {
    std::string page, sentence;
  } refused[] = {
      {"/admin/shipping?store=1&session=2001&purchaser=Ostrand%20Company", "Store 1 has no buying session 2001."},
      {"/admin/shipping?store=1&session=1002&purchaser=Nobody&file=csv", "Session 1002 has no purchaser Nobody."},
  };
  for (const auto& r : refused) {
    const Answer a = office.get(r.page);
    EXPECT_EQ(std::pair(a.status / 100, pageSentence(a.body)), std::pair(4, r.sentence)) << r.page;
    EXPECT_EQ(a.body.find("Algebra"), std::string::npos) << r.page;
  }
  EXPECT_NE(office.get(kOstrand).body.find("Algebra"), std::string::npos);
}

// A title a spreadsheet would run as a formula reaches the purchaser's spreadsheet as text: read back, such a field
// is the title after an apostrophe, and any other title is as it was.
TEST_P(Shipping, TheCsvWritesFormulasAsText) {
  const std::vector<std::string> formulas = {"=HYPERLINK(\"http://evil.example/x\",\"Click me\")",
                                             "+SUM(1+1)",
                                             "-2+3+cmd|' /C calc'!A0",
                                             "@SUM(1+1)",
                                             "\tTabbed",
                                             "\rReturned"};
  const std::vector<std::string> items =
      texts("SELECT item_id FROM book_purchasers WHERE session_id = 1002 AND purchaser = 'Ostrand Company'"
            " ORDER BY item_id");
  ASSERT_GT(items.size(), formulas.size());
  std::multiset<std::string> expected;
  std::vector<LineArgs> lines;
  for (std::size_t i = 0; i <= formulas.size(); ++i) {
    const std::string title = i < formulas.size() ? formulas[i] : "Plain - Title = 1";
    sideConnection()->execute("UPDATE books SET title = ? WHERE item_id = ?", {title, items[i]});
    lines.push_back({.itemId = items[i], .qty = 1, .price = "1.00"});
    expected.insert(i < formulas.size() ? "'" + title : title);
  }
  ticket(lines, kEnd);

  const std::string csv = signedIn("office", "office1").get(kOstrand + "&file=csv").body;
  std::string error;
  const auto records = storeserver::csv::parse(csv, error);
  ASSERT_TRUE(records) << error;
  std::multiset<std::string> titles;
  for (std::size_t i = 1; i < records->size(); ++i) titles.insert((*records)[i].fields.at(1));
  EXPECT_EQ(titles, expected) << csv;
}

}  // namespace
}  // namespace servertest
