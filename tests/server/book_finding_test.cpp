// Sellin's book finding on the demo catalogue: codes, pages, purchasers, the item lookup's "501", stolen books.
#include <set>

#include "server/demo_catalogue.h"
#include "server/queries/item_codes.h"
#include "server/storage/title_words.h"
#include "server_fixture.h"
#include "wire/requests.h"

namespace servertest {
namespace {

using wire::requests::itemDetail;

class BookFinding : public ServerTest {
 protected:
  // Each query as Sellin sends it, after one log-in; in exchanges of at most 16.
  std::vector<wire::Reply> askAll(const std::vector<wire::Query>& queries) {
    const std::string token = login(wire::kAppSellin, "buyer", "buyer1");
    std::vector<wire::Reply> replies;
    for (std::size_t first = 0; first < queries.size(); first += wire::kMaxQueriesPerExchange) {
      const std::size_t last = std::min(queries.size(), first + wire::kMaxQueriesPerExchange);
      const auto part =
          exchange(wire::kAppSellin, token, {queries.begin() + long(first), queries.begin() + long(last)});
      replies.insert(replies.end(), part.begin(), part.end());
    }
    return replies;
  }
  wire::Reply page(const std::string& code, int page, std::int64_t session = 1001) {
    return askWith(wire::kAppSellin, login(wire::kAppSellin, "buyer", "buyer1"),
                   {wire::kPacketQuery, itemDetail(session, code, 1), page});
  }
};

std::vector<std::string> skus(const wire::Reply& reply) { return rows(reply, wire::layouts::slDetail(), {"sku"}); }

// "error: <sentence>", or "<rows> on page <p> of <n>, first SKU <sku>".
std::string summary(const wire::Reply& reply) {
  if (reply.error) return "error: " + reply.text;
  const auto found = skus(reply);
  return std::to_string(found.size()) + " on page " + std::to_string(reply.page) + " of " +
         std::to_string(reply.pageCount) + ", first SKU " + (found.empty() ? "-" : found[0]);
}

TEST_F(BookFinding, CodesMatchTheBooksTheyName) {
  std::vector<std::pair<std::string, std::string>> cases = {
      {"9780001000001", "1 on page 1 of 1, first SKU 00200001"},
      {"978-0-00-100000-1", "1 on page 1 of 1, first SKU 00200001"},
      {" 978 0001 000001 ", "1 on page 1 of 1, first SKU 00200001"},
      {"9780001000002", "error: The ISBN 9780001000002 has a wrong check digit: check the code or type it again."},
      {"0001000004", "1 on page 1 of 1, first SKU 00200001"},  // ISBN-10, not a SKU
      {"0001000005", "error: The ISBN 0001000005 has a wrong check digit: check the code or type it again."},
      {"000100235X", "1 on page 1 of 1, first SKU 00200007"},
      {"0-00-100235-x", "1 on page 1 of 1, first SKU 00200007"},
      {"9791000000107", "1 on page 1 of 1, first SKU 00200011"},
      {"978000100000151999", "1 on page 1 of 1, first SKU 00200001"},  // EAN and a 5-digit price add-on
      {"978000100000107", "1 on page 1 of 1, first SKU 00200001"},     // EAN and a 2-digit add-on
      {"978000100000251999",
       "error: The ISBN 978000100000251999 has a wrong check digit: check the code or type it again."},
      {"4006381333931", "error: 4006381333931 is not an ISBN but the barcode of another product: scan the book's "
                        "ISBN, which begins with 978 or 979."},
      {"3-598-21507-A", "error: The code 3-598-21507-A is not an ISBN: an ISBN has only digits, but for an X at the "
                        "end of 10. Check the code or type it again."},
      {"4006381333932", "error: The EAN 4006381333932 has a wrong check digit: check the code or type it again."},
      {"978000100000",
       "error: The code 978000100000 is neither an ISBN, an EAN nor a SKU: check the code or type it again."},
      {"200001", "1 on page 1 of 1, first SKU 00200001"},
      {"99999999", "error: No book has the SKU 99999999."},
      {storeserver::demoIsbn13(43), "2 on page 1 of 1, first SKU 00200044"},  // new and used copy of one ISBN
      {"k1000", "9 on page 1 of 1, first SKU 00200001"},                      // the book key of nine editions
      {"calculus", "10 on page 1 of 3, first SKU 00200001"},
      {"CALC early", "8 on page 1 of 1, first SKU 00200010"},
      {"algebra", "6 on page 1 of 1, first SKU 00200035"},  // Linear Algebra and Álgebra Lineal
      {"álgebra LINEAL", "3 on page 1 of 1, first SKU 00200026"},
      {"ELEMENTS d'hist", "2 on page 1 of 1, first SKU 00200031"},
      {"calculus zzz", "error: No book title has words beginning with \"calculus zzz\"."},
      {"!!!", "error: Type a code, or letters or digits of the title."},
      {" - ", "error: Scan a code, or type a code or words of the title."},
  };
  // The benchmarks' large catalogue repeats titles thousands of times; each of its books must still fit a record.
  const auto db = sideConnection();
  for (std::int64_t n : {300, 250'000, 600'000, 999'999, 3'000'000, 9'999'999}) {
    storeserver::addGeneratedBooks(*db, n, 1);
    const std::string sku = std::to_string(storeserver::demoSku(n));
    cases.push_back({sku, "1 on page 1 of 1, first SKU " + std::string(8 - sku.size(), '0') + sku});
  }
  std::vector<wire::Query> queries;
  for (const auto& c : cases) queries.push_back(query(itemDetail(1001, c.first, 1)));
  const auto replies = askAll(queries);
  ASSERT_EQ(replies.size(), cases.size());
  for (std::size_t i = 0; i < cases.size(); ++i) EXPECT_EQ(summary(replies[i]), cases[i].second) << cases[i].first;
}

TEST(TitleWords, CaseAndAccentsFoldedEachWordOnce) {
  using storeserver::storage::titleWords;
  using Words = std::vector<std::string>;
  const std::vector<std::pair<std::string, Words>> cases = {
      {"Éléments d'Histoire de l'Art", {"elements", "d", "histoire", "de", "l", "art"}},
      {"Grundzüge der Physik — Straße", {"grundzuge", "der", "physik", "strasse"}},
      {"ŒUVRES, œuvres; Łódź", {"oeuvres", "lodz"}},
      {"Физика ФИЗИКА; Νόμος ΝΌΜΟΣ", {"физика", "νομοσ"}},
      {" -- ", {}},
  };
  for (const auto& [title, words] : cases) EXPECT_EQ(titleWords(title), words) << title;
}

TEST_F(BookFinding, PagesAreStableAndBoundedInAnOpenSessionOfTheStore) {
  std::vector<std::string> all;
  for (int p : {1, 2, 3}) {
    const wire::Reply reply = page("calculus", p);
    EXPECT_TRUE(reply.page == p && reply.pageCount == 3) << summary(reply);
    const auto found = skus(reply);
    EXPECT_EQ(found.size(), p == 3 ? 5u : 10u) << "page " << p;
    all.insert(all.end(), found.begin(), found.end());
  }
  EXPECT_EQ(std::set<std::string>(all.begin(), all.end()).size(), 25u) << "a book came twice or went missing";
  EXPECT_EQ(skus(page("calculus", -1)), std::vector<std::string>(all.begin(), all.begin() + 10)) << "-1 is page 1";
  EXPECT_EQ(summary(page("calculus", 4)), "error: There is no page 4: the books found fill 3 pages.");
  EXPECT_EQ(summary(page("calculus", 0)), "error: There is no page 0: the books found fill 3 pages.");
  EXPECT_EQ(summary(page("9780001000001", 2)), "error: There is no page 2: the books found fill 1 page.");
  EXPECT_EQ(summary(page("calculus", 1, 2001)),
            "error: This buying session does not belong to this store: choose the session again.");
  EXPECT_EQ(summary(page("calculus", 1, 1005)), "error: This buying session is closed: choose another session.");
  // The page size is the server's setting.
  storeserver::ServerOptions o = options();
  o.itemPageSize = 3;
  start(o);
  EXPECT_EQ(summary(page("calculus", 9)), "1 on page 9 of 9, first SKU 00200021");
  EXPECT_EQ(summary(page("a", 1)), "error: More than 90 books have title words beginning with \"a\": type more of "
                                   "the title, or scan the book's code.");
}

// A book's product, inventory and purchaser records and the stolen-book reports of a SKU at a store, newest first:
// "501" opens the inventory error only when the store has no inventory record of the SKU; a need is never below zero.
TEST_F(BookFinding, RecordsOfABookAndOnlyAMissingInventoryRecordSays501) {
  using namespace wire::requests;
  using Rows = std::vector<std::string>;
  using Read = Rows (*)(const wire::Reply&);
  const Read products = [](const wire::Reply& r) {
    return rows(r, wire::layouts::product(), {"sku", "isbn", "description"});
  };
  const Read stock = [](const wire::Reply& r) { return rows(r, wire::layouts::inventory(), {"store_num", "sku"}); };
  const Read buyers = [](const wire::Reply& r) {
    return rows(r, wire::layouts::slPurchase(),
                {"purchaser", "ost_purchaser", "buy_qty", "bought_qty", "need_qty", "buy_price", "status"});
  };
  const Read stolen = [](const wire::Reply& r) {
    return rows(r, wire::layouts::slStolenItem(), {"student_id", "student_name", "stolen", "sku", "isbn"});
  };
  const Rows noSku = {"error: The lookup needs the book's SKU number."};
  const Rows noStore = {"error: This handheld is set to a store the server does not know: check its store number."};
  const Rows noProduct = {"error: There is no product record for this book."};
  const Rows noInventory = {"error: 501 The store keeps no inventory record of this book."};
  const Rows nobody = {"error: Nobody buys this book in this buying session."};
  const struct {
    std::string request;
    Read read;
    Rows expected;
  } cases[] = {
      {product("200001", 1), products, {"00200001|9780001000001|Calculus"}},
      {inventory("200001", 1), stock, {"0001|00200001"}},
      {product("200008", 1), products, {"00200008|9780001002593|Calculus"}},
      {inventory("200008", 1), stock, noInventory},
      {product("200023", 1), products, noProduct},
      {inventory("200023", 1), stock, {"0001|00200023"}},
      {product("501", 1), products, noProduct},
      {inventory("501", 1), stock, noInventory},
      {product("200001", 501), products, noStore},
      {inventory("200001", 501), stock, noStore},
      {product("5O1", 1), products, noSku},
      {inventory("5O1", 1), stock, noSku},
      {product("", 1), products, noSku},
      {inventory("", 1), stock, noSku},
      {purchasers(1001, "B0000000", 1),
       buyers,
       {"Ostrand Company|1|*|00000|*|00012.50|Adopted", "Midwest Book Wholesale|0|*|00000|*|00007.50|Wholesale"}},
      {purchasers(1001, "B0000001", 1), buyers, {"Ostrand Company|1|3|00001|2|00016.00|Adopted"}},
      {purchasers(1001, "B0000005", 1), buyers, {"Ostrand Company|1|11|00013|0|00030.75|Quota filled"}},
      {purchasers(1001, "B0000011", 1), buyers, nobody},
      {purchasers(1003, "B0000001", 1), buyers, nobody},
      {purchasers(1001, "B9999999", 1),
       buyers,
       {"error: This book is no longer in the store's catalogue: scan it again."}},
      {stolenItems(200002, "S100100", 1),
       stolen,
       {"S100100|Ana Alves|2026-03-02 Student union|00200002|9780001000377",
        "S100200|Ben Brooks|2026-02-11 Library, 2nd floor|00200002|9780001000377",
        "S100300|Dana Dutta|2026-01-20 Chemistry lab|00200002|9780001000377"}},
      {stolenItems(200002, "", 2), stolen, {"S100100|Ana Alves|2025-11-05 North campus cafe|00200002|9780001000377"}},
      {stolenItems(200001, "S100100", 1),
       stolen,
       {"error: No stolen-book reports are filed for this book at this store."}},
  };
  std::vector<wire::Query> queries;
  for (const auto& c : cases) queries.push_back(query(c.request));
  const auto replies = askAll(queries);
  ASSERT_EQ(replies.size(), std::size(cases));
  for (std::size_t i = 0; i < replies.size(); ++i)
    EXPECT_EQ(replies[i].error ? Rows{"error: " + replies[i].text} : cases[i].read(replies[i]), cases[i].expected)
        << cases[i].request;
}

}  // namespace
}  // namespace servertest
