// A store's own buyback catalogue loaded into the demo store's database while
// the server runs, then found by Sellin's real item query.
#include "server/import/importer.h"
#include "server_fixture.h"
#include "wire/requests.h"

namespace servertest {
namespace {

namespace storage = storeserver::storage;

const std::string kBooksHeader = "item_id,sku,book_key,isbn,title,author,imprint,edition,copyright,binding,guide\n";

class ImportCatalogue : public ServerTest {
 protected:
  void SetUp() override {
    ServerTest::SetUp();
    db_ = sideConnection();
  }
  void load(const char* kind, const std::string& text) {
    std::string message;
    ASSERT_TRUE(storeserver::importCsv(*db_, kind, text, storeserver::PasswordCost::minimum(), message)) << message;
  }
  std::string refusal(const char* kind, const std::string& text) {
    std::string message;
    EXPECT_FALSE(storeserver::importCsv(*db_, kind, text, storeserver::PasswordCost::minimum(), message)) << text;
    return message;
  }
  // The books Sellin is shown for a code in session 7001, or the error sentence.
  std::vector<std::string> found(const std::string& code) const {
    const std::string token = login(wire::kAppSellin, "buyer", "buyer1");
    const auto replies = exchange(wire::kAppSellin, token, {{wire::kPacketQuery, wire::requests::itemDetail(7001, code, 1), 1}});
    if (replies.empty()) return {"(no reply)"};
    if (replies[0].error) return {replies[0].text};
    return rows(replies[0], wire::layouts::slDetail(), {"item_id", "book_key"});
  }
  storage::Rows catalogue() const {
    return db_->query(
        "SELECT b.item_id, b.title, (SELECT group_concat(word, ' ') FROM (SELECT word FROM book_title_words w"
        "  WHERE w.item_id = b.item_id ORDER BY word)), p.new_price_cents, i.location, i.last_received,"
        " u.buy_qty, u.bought_qty, u.condition_text FROM books b JOIN book_products p USING (sku)"
        " JOIN book_inventory i USING (sku) JOIN book_purchasers u USING (item_id) WHERE b.sku BETWEEN 9100001 AND 9100002"
        " ORDER BY b.item_id");
  }

  std::unique_ptr<storage::Connection> db_;
};

TEST_F(ImportCatalogue, ABookIsFoundByIsbnAndTitleWordAndFollowsANewTitle) {
  load("buying-sessions",
       "session_id,store_num,description,student_id_required,condition_check,within_percent,tran_warning_qty,"
       "tran_max_qty,is_open\n7001,1,Winter buyback,0,1,10,20,40,1\n");
  const std::string books = kBooksHeader +
                            "X1,9100001,ZYM1,9798000099018,Zymurgy for Brewers,\"Ohm, Ada\",,2,2019,Paper,0\n"
                            "X2,9100002,ZYM2,9798000099025,Practical Zymurgy,Lee,Lab Press,1,2021,Cloth,1\n";
  const std::string purchasers =
      "session_id,item_id,purchaser,ost_purchaser,no_limit,buy_qty,bought_qty,buy_price,alt_price,retail_price,"
      "listed_price,status,condition,condition_check\n"
      "7001,X1,Store,0,0,5,0,12.50,7.50,40.00,13.50,Needed,,0\n"
      "7001,X2,Store,0,0,2,1,20,12,60,21,Needed,No water damage,1\n";
  const std::string prices = "sku,new_price,used_price\n9100001,40,30\n9100002,60,45.25\n";
  const std::string stock = "store_num,sku,new_on_hand,used_on_hand,on_order,location,last_received\n"
                            "1,9100001,3,1,0,Aisle 4,2026-01-15\n1,9100002,0,0,6,,\n";
  const auto loadAll = [&] {
    load("books", books);
    load("book-prices", prices);
    load("inventory", stock);
    load("purchasers", purchasers);
  };
  loadAll();
  const storage::Rows first = catalogue();
  ASSERT_EQ(first.size(), 2u);
  EXPECT_EQ(first[0], (storage::Row{"X1", "Zymurgy for Brewers", "brewers for zymurgy", 4000, "Aisle 4",
                                    "2026-01-15", 5, 0, ""}));
  loadAll();
  EXPECT_EQ(catalogue(), first) << "a second import changed the data";

  EXPECT_EQ(found("979-8-0000-9902-5"), (std::vector<std::string>{"X2|ZYM2"}));
  EXPECT_EQ(found("zymur"), (std::vector<std::string>{"X2|ZYM2", "X1|ZYM1"}));

  // A ticket has since bought a copy: a re-import of the old file keeps that count.
  db_->execute("UPDATE book_purchasers SET bought_qty = 3 WHERE item_id = 'X1'");
  load("books", kBooksHeader + "X1,9100001,ZYM1,9798000099018,Quokka Field Guide,Ohm,,2,2019,Paper,0\n");
  load("purchasers", purchasers);
  EXPECT_EQ(found("zymurgy"), (std::vector<std::string>{"X2|ZYM2"}));
  EXPECT_EQ(found("quok guide"), (std::vector<std::string>{"X1|ZYM1"}));
  EXPECT_EQ(catalogue().at(0).at(7), storage::Value(std::int64_t(3)));
}

TEST_F(ImportCatalogue, ABadRowIsRefusedAndNothingOfTheFileIsStored) {
  const std::string book = "X1,9100001,ZYM1,9798000099018,Zymurgy,Ohm,,2,2019,Paper,0\n";
  const std::string cases[][3] = {
      {"books", kBooksHeader + book + "X2,9100002,ZYM2,9798000099026,Zymurgy,,,,,,0\n",
       "line 3: isbn must be an ISBN of 13 digits with its check digit, not \"9798000099026\"."},
      {"books", kBooksHeader + book + "X2,9100002,zym-2,9798000099025,Zymurgy,,,,,,0\n",
       "line 3: book_key must be written in capitals without blanks or hyphens, not \"zym-2\"."},
      {"books", kBooksHeader + book + "X2,9100001,ZYM2,9798000099025,Zymurgy,,,,,,0\n",
       "line 3: the same sku as line 2."},
      {"books", kBooksHeader + book + "X2,200002,ZYM2,9798000099025,Zymurgy,,,,,,0\n",
       "line 3: another book has the SKU 200002."},
      {"books", kBooksHeader + book + "B0000001,9100002,ZYM2,9798000099025,Zymurgy,,,,,,0\n",
       "line 3: the book B0000001 has another SKU; a book keeps its SKU."},
      {"books", kBooksHeader + book + "X2,9100002,ZYM2,9798000099025,,,,,,,0\n", "line 3: title is empty."},
      {"book-prices", "sku,new_price,used_price\n200002,40,30\n200002,100000.00,30\n",
       "line 3: new_price must be an amount from 0 to 99999.99, not \"100000.00\"."},
      {"inventory", "store_num,sku,new_on_hand,used_on_hand,on_order,location,last_received\n1,9100009,1,0,0,,\n",
       "line 2: there is no book with SKU 9100009; import it first."},
      {"purchasers",
       "session_id,item_id,purchaser,ost_purchaser,no_limit,buy_qty,bought_qty,buy_price,alt_price,retail_price,"
       "listed_price,status,condition,condition_check\n9999,B0000001,Store,0,0,1,0,1,1,1,1,,,0\n",
       "line 2: there is no buying session 9999; import it first."},
  };
  const auto counts = [&] {
    return db_->query("SELECT (SELECT COUNT(*) FROM books), (SELECT COUNT(*) FROM book_title_words),"
                      " (SELECT group_concat(new_price_cents) FROM book_products WHERE sku = 200002),"
                      " (SELECT COUNT(*) FROM book_inventory), (SELECT COUNT(*) FROM book_purchasers)");
  };
  const storage::Rows before = counts();
  for (const auto& [kind, text, expected] : cases) {
    const std::string message = refusal(kind.c_str(), text);
    EXPECT_TRUE(message.starts_with(expected) && message.ends_with("Nothing of the file was stored.")) << message;
    EXPECT_EQ(counts(), before) << expected;
  }
}

}  // namespace
}  // namespace servertest
