// A store's own buyback catalogue loaded into the demo store's database while
// the server runs, then found by Sellin's real item query.
#include "server/import/importer.h"
#include "server_fixture.h"
#include "wire/requests.h"

namespace servertest {
namespace {

const std::string kBooks = "item_id,sku,book_key,isbn,title,author,imprint,edition,copyright,binding,guide\n";
const std::string kTerms = "session_id,item_id,purchaser,ost_purchaser,no_limit,buy_qty,bought_qty,buy_price,"
                           "alt_price,retail_price,listed_price,status,condition,condition_check\n";

class ImportCatalogue : public ServerTest {
 protected:
  void SetUp() override {
    ServerTest::SetUp();
    db_ = sideConnection();
  }
  // "imported" or the reasons of the refusal.
  std::string import(const char* kind, const std::string& text) {
    std::string message;
    const bool ok = storeserver::importCsv(*db_, kind, text, storeserver::PasswordCost::minimum(), message);
    return ok ? "imported" : message;
  }
  // The books Sellin is shown for a code in session 7001, or the error sentence.
  std::vector<std::string> found(const std::string& code) const {
    const auto replies = exchange(wire::kAppSellin, login(wire::kAppSellin, "buyer", "buyer1"),
                                  {{wire::kPacketQuery, wire::requests::itemDetail(7001, code, 1), 1}});
    if (replies.size() != 1 || replies[0].error) return {replies.empty() ? "(no reply)" : replies[0].text};
    return rows(replies[0], wire::layouts::slDetail(), {"item_id", "book_key"});
  }
  std::unique_ptr<storeserver::storage::Connection> db_;
};

TEST_F(ImportCatalogue, ABookIsFoundByIsbnAndTitleWordAndFollowsANewTitle) {
  const std::pair<const char*, std::string> files[] = {
      {"buying-sessions", "session_id,store_num,description,student_id_required,condition_check,within_percent,"
                          "tran_warning_qty,tran_max_qty,is_open\n7001,1,Winter buyback,0,1,10,20,40,1\n"},
      {"books", kBooks + "X1,9100001,ZYM1,9798000099018,Zymurgy for Brewers,\"Ohm, Ada\",,2,2019,Paper,0\n"
                         "X2,9100002,ZYM2,9798000099025,Practical Zymurgy,Lee,Lab Press,1,2021,Cloth,1\n"},
      {"book-prices", "sku,new_price,used_price\n9100001,40,30\n9100002,60,45.25\n"},
      {"inventory", "store_num,sku,new_on_hand,used_on_hand,on_order,location,last_received\n"
                    "1,9100001,3,1,0,Aisle 4,2026-01-15\n1,9100002,0,0,6,,\n"},
      {"purchasers", kTerms + "7001,X1,Store,0,0,5,0,12.50,7.50,40.00,13.50,Needed,,0\n"},
  };
  const std::string snapshot = "SELECT * FROM books b JOIN book_products USING (sku) JOIN book_inventory USING (sku)"
                               " LEFT JOIN book_purchasers USING (item_id) WHERE b.item_id IN ('X1', 'X2')";
  std::vector<storeserver::storage::Rows> imports;
  for (int time = 0; time < 2; ++time) {
    for (const auto& [kind, text] : files) EXPECT_EQ(import(kind, text), "imported") << kind;
    imports.push_back(db_->query(snapshot));
  }
  EXPECT_EQ(imports[0].size(), 2u);
  EXPECT_EQ(imports[1], imports[0]) << "a second import changed the data";
  EXPECT_EQ(found("979-8-0000-9902-5"), (std::vector<std::string>{"X2|ZYM2"}));
  EXPECT_EQ(found("zymur"), (std::vector<std::string>{"X2|ZYM2", "X1|ZYM1"}));

  // A ticket has since bought a copy: a re-import of the old terms keeps that count.
  db_->execute("UPDATE book_purchasers SET bought_qty = 3");
  EXPECT_EQ(import("purchasers", files[4].second), "imported");
  EXPECT_EQ(import("books", kBooks + "X1,9100001,ZYM1,9798000099018,Quokka Field Guide,Ohm,,2,2019,Paper,0\n"),
            "imported");
  EXPECT_EQ(found("zymurgy"), (std::vector<std::string>{"X2|ZYM2"}));
  EXPECT_EQ(found("quok guide"), (std::vector<std::string>{"X1|ZYM1"}));
  EXPECT_EQ(db_->query("SELECT bought_qty FROM book_purchasers WHERE item_id = 'X1'"), (storeserver::storage::Rows{{3}}));
}

TEST_F(ImportCatalogue, ABadRowIsRefusedAndNothingOfTheFileIsStored) {
  const std::string book = kBooks + "X1,9100001,ZYM1,9798000099018,Zymurgy,Ohm,,2,2019,Paper,0\n";
  const std::string cases[][3] = {
      {"books", book + "X2,9100002,ZYM2,9798000099026,Zymurgy,,,,,,0\n", "line 3: isbn must be an ISBN of 13 digits"},
      {"books", book + "X2,9100002,zym-2,9798000099025,Zymurgy,,,,,,0\n",
       "line 3: book_key must be written in capitals without blanks or hyphens, not \"zym-2\"."},
      {"books", book + "X2,9100001,ZYM2,9798000099025,Zymurgy,,,,,,0\n", "line 3: the same sku as line 2."},
      {"books", book + "X2,200002,ZYM2,9798000099025,Zymurgy,,,,,,0\n", "line 3: another book has the SKU 200002."},
      {"books", book + "B0000001,9100002,ZYM2,9798000099025,Zymurgy,,,,,,0\n",
       "line 3: the book B0000001 has another SKU; a book keeps its SKU."},
      {"book-prices", "sku,new_price,used_price\n200002,40,30\n200002,100000.00,30\n",
       "line 3: new_price must be an amount from 0 to 99999.99, not \"100000.00\"."},
      {"purchasers", kTerms + "9999,B0000001,Store,0,0,1,0,1,1,1,1,,,0\n",
       "line 2: there is no buying session 9999; import it first."},
  };
  const std::string counts = "SELECT (SELECT COUNT(*) FROM books), (SELECT COUNT(*) FROM book_title_words),"
                             " (SELECT new_price_cents FROM book_products WHERE sku = 200002)";
  const auto before = db_->query(counts);
  for (const auto& [kind, text, expected] : cases) {
    const std::string message = import(kind.c_str(), text);
    EXPECT_TRUE(message.starts_with(expected) && message.ends_with("Nothing of the file was stored.")) << message;
    EXPECT_EQ(db_->query(counts), before) << expected;
  }
}

}  // namespace
}  // namespace servertest
