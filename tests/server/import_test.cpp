// CSV imports: read, checked whole, stored in one go; a catalogue loaded while the server runs is found.
#include "server/copy.h"
#include "server/demo_data.h"
#include "server/import/csv_reader.h"
#include "server/import/importer.h"
#include "server/storage/migrations.h"
#include "server_fixture.h"
#include "wire/requests.h"

namespace servertest {
namespace {

namespace storage = storeserver::storage;

// Each record as "LINE:field|field".
std::string records(const std::string& text) {
  std::string error, out;
  const auto parsed = storeserver::csv::parse(text, error);
  if (!parsed) return error;
  for (const auto& record : *parsed) {
    out += (out.empty() ? "" : " ") + std::to_string(record.line) + ":";
    for (std::size_t i = 0; i < record.fields.size(); ++i) out += (i ? "|" : "") + record.fields[i];
  }
  return out;
}

TEST(CsvReader, QuotesCommasLineEndsAndAByteOrderMark) {
  const std::pair<std::string, std::string> cases[] = {
      {"a,b\n1,2\n", "1:a|b 2:1|2"},
      {"a,b\r\n1,2", "1:a|b 2:1|2"},
      {"\xEF\xBB\xBF"
       "a\n1\n",
       "1:a 2:1"},
      {"a,b\n\"x, y\",\"say \"\"hi\"\"\"\n", "1:a|b 2:x, y|say \"hi\""},
      {"a,b\r\n\"two\r\nlines\",2\r\n3,4\r\n", "1:a|b 2:two\r\nlines|2 4:3|4"},
      {"a,b\n\"one\rline\",2\n3,4\n", "1:a|b 2:one\rline|2 3:3|4"},
      {"a,b\n\n,\n\"\",x\n", "1:a|b 3:| 4:|x"},
      {"a\n\"open\n\nstill open", "line 2: a quoted field is never closed."},
      {"a,b\n1,\"x\"y\n", "line 2: text after a closing quote; a quote inside a quoted field is written twice."},
      {"a,b\n1,2\n3,x\"y\n", "line 3: a quote inside a field that does not start with one; put the whole field in "
                             "quotes and double the quote."},
  };
  for (const auto& [text, expected] : cases) EXPECT_EQ(records(text), expected) << text;
}

const std::string kBooks = "item_id,sku,book_key,isbn,title,author,imprint,edition,copyright,binding,guide\n";

class Import : public ::testing::TestWithParam<Backend> {
 protected:
  void SetUp() override {
    if (const std::string why = backendMissing(GetParam()); !why.empty()) GTEST_SKIP() << why;
    ASSERT_TRUE(storeserver::initialiseCrypto());
    database_.emplace(GetParam(), dir_.path(), TestDatabase::Contents::Empty);
    db_ = openDatabase(database_->name());
    storage::migrate(*db_);
    load("stores", "store_num,name\n1,Main campus\n2,Medical school\n");
    load("students", "student_id,name\nS1,Ann Lee\nS2,Bo Chen\n");
    load("aid-agencies", "agency_number,name\nSTATE-01,State grant\n");
    load("books", kBooks + "B0000001,200001,CAL1,9780001000001,Calculus,,,,,,0\n");
    load("book-prices", "sku,new_price,used_price\n200001,40,30\n");
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

  TempDir dir_;
  std::optional<TestDatabase> database_;
  std::unique_ptr<storage::Connection> db_;
};

INSTANTIATE_TEST_SUITE_P(Backends, Import, kBothBackends, backendName);

// A file loaded twice leaves the same data; users' passwords are hashed; adoptions load on their terms,
// sections and books.
TEST_P(Import, EachKindLoadsAndLoadingItAgainLeavesTheSameData) {
  const std::string accounts =
      "\xEF\xBB\xBF"
      "credit_limit,account_id,student_id,agency_number,start_date,expire_date,total_balance\r\n"
      "500,7,S1,STATE-01,2024-08-01,2025-05-31,120.5\r\n"
      "1000.00,8,S2,STATE-01,2024-08-01,2024-02-29,0\r\n";
  for (int time = 0; time < 2; ++time) {
    load("aid-accounts", accounts);
    EXPECT_EQ(db_->query("SELECT account_id, student_id || agency_number || start_date || expire_date,"
                         " total_balance_cents, credit_limit_cents FROM aid_accounts JOIN aid_agencies"
                         " USING (agency_id) ORDER BY account_id"),
              (storage::Rows{{7, "S1STATE-012024-08-012025-05-31", 12050, 50000},
                             {8, "S2STATE-012024-08-012024-02-29", 0, 100000}}))
        << "import number " << time + 1;
  }

  // Users and agencies are numbered by the import; loaded again, the same rows change.
  const std::string users = "user_name,password,store_num,can_buy,active,restrict_lookup,can_manage\n";
  load("users", users + "mara,first pass,1,no,1,0,0\nli,li pass,1,no,0,0,1\n");
  load("users", users + "mara,s3cret pass,2,yes,1,1,1\n");
  load("aid-agencies", "agency_number,name\nSTATE-01,State grant\nFED-02,Federal loan\n");
  EXPECT_EQ(db_->query("SELECT user_id, user_name FROM users UNION ALL SELECT agency_id, agency_number"
                       " FROM aid_agencies ORDER BY 2"),
            (storage::Rows{{2, "FED-02"}, {1, "STATE-01"}, {2, "li"}, {1, "mara"}}));
  const auto user = storeserver::findUser(*db_, "mara");
  ASSERT_TRUE(user);
  EXPECT_EQ(user->passwordHash.find("s3cret"), std::string::npos) << "the password was stored as typed";
  EXPECT_TRUE(storeserver::verifyPassword(user->passwordHash, "s3cret pass"));
  EXPECT_TRUE(user->canBuy && user->active && user->store == 2 && user->restrictLookup && user->canManage);

  load("terms", "term,starts_on,is_open\nFALL26,2026-08-24,1\n");
  load("sections", "section_id,store_num,campus,term,department,course,section\n5,1,North,FALL26,BIO,101,A\n");
  load("course-books", "sku,isbn,title\n42,9780306406157,Cell Biology\n");
  load("adoptions", "section_id,sku,request_type\n5,42,2\n");
  load("enrolments", "student_id,section_id\nS1,5\nS2,5\n");
  EXPECT_EQ(db_->query("SELECT student_id, department || course || section, isbn, request_type"
                       " FROM adoption_enrollments JOIN adoption_sections USING (section_id)"
                       " JOIN adoption_section_books USING (section_id) JOIN adoption_books USING (sku)"
                       " ORDER BY student_id"),
            (storage::Rows{{"S1", "BIO101A", "9780306406157", 2}, {"S2", "BIO101A", "9780306406157", 2}}));
}

TEST_P(Import, ABadRowIsNamedByItsLineAndNothingOfTheFileIsStored) {
  const std::string locations = "location_id,store_num,code,name\n1,1,TXT,Textbooks\n";
  const std::string accounts =
      "account_id,student_id,agency_number,start_date,expire_date,total_balance,credit_limit\n";
  const std::string book = kBooks + "X1,9100001,ZYM1,9798000099018,Zymurgy,Ohm,,2,2019,Paper,0\n";
  const std::string stored =
      "SELECT COUNT(*) FROM locations UNION ALL SELECT COUNT(*) FROM aid_accounts UNION ALL"
      " SELECT COUNT(*) FROM adoption_books UNION ALL SELECT COUNT(*) FROM books UNION ALL"
      " SELECT COUNT(*) FROM book_title_words UNION ALL SELECT new_price_cents FROM book_products";
  const storage::Rows before = db_->query(stored);
  const std::string cases[][3] = {
      {"locations", locations + "2,1,GEN\n", "line 3: 3 fields where the header names 4."},
      {"locations", locations + "2,9,GEN,General\n", "line 3: there is no store 9; import it first."},
      {"locations", locations + "2,1,GENERALBOOKS,General\n", "line 3: code has more than 8 characters."},
      {"locations", locations + "-2,1,GEN,General\n", "line 3: location_id must be a whole number of 0 or more"},
      {"locations", locations + "01,2,GEN,General\n", "line 3: the same location_id as line 2."},
      {"locations", locations + "2,10000,GEN,General\n", "line 3: store_num must be a whole number from 1 to 9999"},
      {"locations", locations + "2,1,,General\n", "line 3: code is empty."},
      {"locations", locations + "2,1,GEN,\"Gen\neral\"\n", "line 3: name holds a line break"},
      {"users",
       "user_name,password,store_num,can_buy,active,restrict_lookup,can_manage\nma\u202Era,secret1,1,1,1,0,0\n",
       "line 2: user_name holds the invisible direction mark U+202E."},
      {"students", "student_id,name\n   ,Nobody\n", "line 2: student_id is empty."},
      {"locations",
       locations + "2,1,GEN,Gen\xFF"
                   "eral\n",
       "line 3: name is not UTF-8 text."},
      {"locations", "location_id,store_num,name\n", "line 1: the header lacks the column code."},
      {"locations", "location_id,store_num,code,name,city\n",
       "line 1: the header names columns that locations do not have: \"city\"."},
      {"users",
       "user_name,password,store_num,can_buy,active,restrict_lookup,can_manage\nmara," + std::string(129, 'p') +
           ",1,no,1,0,0\n",
       "line 2: password has more than 128 characters."},
      {"course-books", "sku,isbn,title\n42,9780306406157,Cell Biology\n43,9780306406157,Cells\n",
       "line 3: the same isbn as line 2."},
      {"aid-accounts", accounts + "1,S1,STATE-01,2024-02-30,2025-01-01,0,0\n", "line 2: start_date must be a date"},
      {"aid-accounts", accounts + "1,S1,STATE-01,2024-02-01,2025-01-01,-0.50,0\n",  // not 0.50
       "line 2: total_balance must be an amount of 0"},
      {"aid-accounts", accounts + "1,S1,STATE-01,2024-02-01,2025-01-01,0,\"1,000.00\"\n",
       "line 2: credit_limit must be an amount"},  // a thousands comma is not an amount
      {"course-books", "sku,isbn,title\n42,9780306406158,Cell Biology\n",
       "line 2: isbn must be an ISBN of 13 digits with its check digit, not \"9780306406158\"."},
      {"books", book + "X2,9100002,zym-2,9798000099025,Zymurgy,,,,,,0\n",
       "line 3: book_key must be written in capitals without blanks or hyphens, not \"zym-2\"."},
      {"books", book + "X2,9100002,7777777,9798000099025,Zymurgy,,,,,,0\n",
       "line 3: book_key \"7777777\" would be read as a SKU at the counter, and the book never found by it;"},
      {"books", book + "X2,9100002,000100235X,9798000099025,Zymurgy,,,,,,0\n",
       "line 3: book_key \"000100235X\" would be read as an ISBN"},
      {"books", book + "X2,200001,ZYM2,9798000099025,Zymurgy,,,,,,0\n", "line 3: another book has the SKU 200001."},
      {"books", book + "B0000001,9100002,ZYM2,9798000099025,Zymurgy,,,,,,0\n",
       "line 3: the book B0000001 has another SKU; a book keeps its SKU."},
      {"book-prices", "sku,new_price,used_price\n200001,50,30\n200001,100000.00,30\n",
       "line 3: new_price must be an amount from 0 to 99999.99, not \"100000.00\"."},
  };
  for (const auto& [kind, text, expected] : cases) {
    const std::string message = refusal(kind.c_str(), text);
    EXPECT_TRUE(message.starts_with(expected) && message.ends_with("Nothing of the file was stored.")) << message;
    EXPECT_EQ(db_->query(stored), before) << expected;
  }
  EXPECT_TRUE(refusal("catalogue", "isbn\n").starts_with("There is no kind of rows called \"catalogue\"; see"));
}

// The chain's first manager of the whole chain comes from a users file on the command line; a file sets or takes
// that right only when its importer holds it, and no file leaves the chain without an active one.
TEST_P(Import, AUsersFileMakesTheChainsFirstManagerAndKeepsOne) {
  const std::string withoutChain = "user_name,password,store_num,can_buy,active,restrict_lookup,can_manage\n";
  const std::string withChain = withoutChain.substr(0, withoutChain.size() - 1) + ",manages_chain\n";
  const auto chainManagers = [this] {
    std::vector<std::string> names;
    for (const auto& r : db_->query("SELECT user_name FROM users WHERE manages_chain = 1 AND active = 1"))
      names.push_back(storage::textAt(r, 0));
    return names;
  };
  load("users", withChain + "head,head pass,1,0,1,0,1,1\nnorth,north pass,2,1,1,0,1,0\n");
  EXPECT_EQ(chainManagers(), std::vector<std::string>{"head"});
  load("users", withoutChain + "head,head pass,1,1,1,0,1\nnorth,north pass,2,1,1,0,1\n");
  EXPECT_EQ(chainManagers(), std::vector<std::string>{"head"}) << "a file without the column changed the right";

  const std::string nothing = "\nNothing of the file was stored.";
  const std::string lastOne = "That would leave the chain without an active manager of the whole chain; let another "
                              "user manage the whole chain first." +
                              nothing;
  const struct {
    std::string importer;  // empty: the command line
    std::string file, answer;
  } cases[] = {
      {"north", withChain + "clerk3,clerk pass,2,0,1,0,0,0\n", "imported"},
      {"north", withChain + "boss3,boss3 pass,2,0,1,0,1,1\n",
       "line 2: Only a manager of the whole chain may let another manage the whole chain." + nothing},
      {"north", withChain + "head,taken over,1,0,1,0,1,0\n", "line 2: That user is not one of your store's." + nothing},
      {"north", withChain + "south,south pass,1,0,1,0,1,0\n", "line 2: You may not give a user store 1." + nothing},
      {"head", withChain + "boss3,boss3 pass,2,0,1,0,1,1\n", "imported"},
      {"boss3", withChain + "head,head pass,1,0,0,0,1,1\n", "imported"},
      {"", withChain + "boss3,boss3 pass,2,0,0,0,1,1\n", lastOne},
      {"", withoutChain + "boss3,boss3 pass,2,0,1,0,0\n", lastOne},
      {"", withChain + "boss3,boss3 pass,2,0,1,0,0,1\n",
       "line 2: manages_chain is 1 but can_manage is 0; a manager of the whole chain manages." + nothing},
      {"", withChain + "boss3,boss3 pass,2,0,1,0,1,0\nhead,head pass,1,0,1,0,1,1\n", "imported"},
  };
  for (const auto& c : cases) {
    std::string message;
    const bool done = storeserver::importCsv(
        *db_, "users", c.file, storeserver::PasswordCost::minimum(), message, storeserver::ImportTransaction::Own,
        c.importer.empty() ? storeserver::commandLine() : *storeserver::findAccountNamed(*db_, c.importer));
    EXPECT_EQ(done ? "imported" : message, c.answer) << c.importer << ": " << c.file;
  }
  EXPECT_EQ(chainManagers(), std::vector<std::string>{"head"});
  EXPECT_TRUE(storeserver::verifyPassword(storeserver::findUser(*db_, "head")->passwordHash, "head pass"));
}

const std::string kTerms = "session_id,item_id,purchaser,ost_purchaser,no_limit,buy_qty,bought_qty,buy_price,"
                           "alt_price,retail_price,listed_price,status,condition,condition_check\n";

class ImportCatalogue : public BackendServerTest {
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
    const wire::Reply r = askWith(wire::kAppSellin, login(wire::kAppSellin, "buyer", "buyer1"),
                                  query(wire::requests::itemDetail(7001, code, 1)));
    return r.error ? std::vector{r.text} : rows(r, wire::layouts::slDetail(), {"item_id", "book_key"});
  }
  std::unique_ptr<storage::Connection> db_;
};

INSTANTIATE_TEST_SUITE_P(Backends, ImportCatalogue, kBothBackends, backendName);

TEST_P(ImportCatalogue, ABookIsFoundByIsbnAndTitleWordAndFollowsANewTitle) {
  const std::pair<const char*, std::string> files[] = {
      {"buying-sessions", "session_id,store_num,description,student_id_required,condition_check,within_percent,"
                          "tran_warning_qty,tran_max_qty,is_open\n7001,1,Winter buyback,0,1,10,20,40,1\n"},
      {"books", kBooks + "X1,9100001,ZYM1,9798000099018,Zymurgy for Brewers,\"Ohm, Ada\",,2,2019,Paper,0\n"
                         "X2,9100002,ZYM2,9798000099025,Practical Zymurgy,Lee,Lab Press,1,2021,Cloth,1\n"
                         "X3,9100003,ZYMURGY,9798000099032,Zymurgy: Физика брожения,,,1,2020,Paper,0\n"},
      {"book-prices", "sku,new_price,used_price\n9100001,40,30\n9100002,60,45.25\n"},
      {"inventory", "store_num,sku,new_on_hand,used_on_hand,on_order,location,last_received\n"
                    "1,9100001,3,1,0,Aisle 4,2026-01-15\n1,9100002,0,0,6,,\n"},
      {"purchasers", kTerms + "7001,X1,Store,0,0,5,0,12.50,7.50,40.00,13.50,Needed,,0\n"},
  };
  const std::string snapshot = "SELECT * FROM books b JOIN book_products USING (sku) JOIN book_inventory USING (sku)"
                               " LEFT JOIN book_purchasers USING (item_id) WHERE b.item_id IN ('X1', 'X2')";
  std::vector<storage::Rows> imports;
  for (int time = 0; time < 2; ++time) {
    for (const auto& [kind, text] : files) EXPECT_EQ(import(kind, text), "imported") << kind;
    imports.push_back(db_->query(snapshot));
  }
  EXPECT_EQ(imports[0].size(), 2u);
  EXPECT_EQ(imports[1], imports[0]) << "a second import changed the data";
  EXPECT_EQ(found("979-8-0000-9902-5"), (std::vector<std::string>{"X2|ZYM2"}));
  EXPECT_EQ(found("zymur"), (std::vector<std::string>{"X2|ZYM2", "X1|ZYM1", "X3|ZYMURGY"}));
  // The book keyed as typed comes first, and once; the titles' words still count.
  EXPECT_EQ(found("zymurgy"), (std::vector<std::string>{"X3|ZYMURGY", "X2|ZYM2", "X1|ZYM1"}));
  for (const char* word : {"физика", "ФИЗИКА"}) EXPECT_EQ(found(word), std::vector<std::string>{"X3|ZYMURGY"}) << word;

  // A ticket has since bought a copy: a re-import of the old terms keeps that count.
  db_->execute("UPDATE book_purchasers SET bought_qty = 3");
  EXPECT_EQ(import("purchasers", files[4].second), "imported");
  EXPECT_EQ(import("books", kBooks + "X1,9100001,ZYM1,9798000099018,Quokka Field Guide,Ohm,,2,2019,Paper,0\n"),
            "imported");
  EXPECT_EQ(found("zymurgy"), (std::vector<std::string>{"X3|ZYMURGY", "X2|ZYM2"}));
  EXPECT_EQ(found("quok guide"), (std::vector<std::string>{"X1|ZYM1"}));
  EXPECT_EQ(db_->query("SELECT bought_qty FROM book_purchasers WHERE item_id = 'X1'"), (storage::Rows{{3}}));
}

// A store moved from SQLite to PostgreSQL and back holds the same rows, table by table; a database
// that holds a store already is never written.
class Copy : public ::testing::TestWithParam<Backend> {};
INSTANTIATE_TEST_SUITE_P(Backends, Copy, ::testing::Values(Backend::Postgres), backendName);

TEST_P(Copy, AStoreGoesToPostgresAndBackWithTheSameRows) {
  if (const std::string why = backendMissing(GetParam()); !why.empty()) GTEST_SKIP() << why;
  ASSERT_TRUE(storeserver::initialiseCrypto());
  TempDir dir;
  auto sqlite = openDatabase((dir.path() / "store.db").string());
  storage::migrate(*sqlite);
  ASSERT_TRUE(storeserver::seedDemoData(*sqlite, storeserver::PasswordCost::minimum()));
  const std::string audit = "INSERT INTO ticket_audit (changed_at, user_name, receipt, line, action, old_values,"
                            " new_values) VALUES (1, 'buyer', 'R1', 1, 'add', '', 'qty=1')";
  sqlite->execute(audit);
  sqlite->execute(audit);
  const std::string drawer =
      "INSERT INTO cash_drawers (store_num, day, buyer, start_cents) VALUES (1, ?, 'buyer', 15000)";
  sqlite->execute(drawer, {std::string("2026-05-04")});
  sqlite->execute("INSERT INTO cash_drawer_moves (drawer_id, moved_at, user_name, amount_cents, reason)"
                  " VALUES (1, 1, 'office', -500, 'to the safe')");
  const TestDatabase postgresDatabase(GetParam(), dir.path(), TestDatabase::Contents::Empty);
  auto postgres = openDatabase(postgresDatabase.name());
  auto again = openDatabase((dir.path() / "again.db").string());

  const auto shown = [](const std::vector<storeserver::TableContents>& tables) {
    std::vector<std::string> lines;
    for (const auto& t : tables) lines.push_back(t.table + " " + std::to_string(t.rows) + " " + t.digest);
    return lines;
  };
  std::vector<storeserver::TableContents> there, back;
  std::string error;
  ASSERT_TRUE(storeserver::copyStore(*sqlite, *postgres, there, error)) << error;
  ASSERT_TRUE(storeserver::copyStore(*postgres, *again, back, error)) << error;
  EXPECT_EQ(shown(back), shown(there));
  EXPECT_EQ(shown(storeserver::readContents(*postgres)), shown(there));
  EXPECT_EQ(shown(storeserver::readContents(*sqlite)), shown(there));
  for (const char* table : {"users", "books", "book_purchasers", "aid_accounts", "adoption_sections", "ticket_audit",
                            "cash_drawers", "cash_drawer_moves"})
    EXPECT_GT(std::ranges::find(there, std::string(table), &storeserver::TableContents::table)->rows, 0) << table;
  EXPECT_NO_THROW(postgres->execute(audit)) << "the next audit row is numbered after the copied ones";
  EXPECT_NO_THROW(postgres->execute(drawer, {std::string("2026-05-05")})) << "the next drawer too";

  EXPECT_FALSE(storeserver::copyStore(*sqlite, *again, back, error));
  EXPECT_TRUE(error.starts_with("The database to copy into already holds a store")) << error;
  EXPECT_EQ(shown(storeserver::readContents(*again)), shown(there));
}

// Every table a store's schema holds is copied; each database keeps its own key for names tried at log-in.
TEST(Copy, EveryTableOfTheSchemaIsCopied) {
  TempDir dir;
  auto db = openDatabase((dir.path() / "store.db").string());
  storage::migrate(*db);
  std::vector<std::string> tables;
  for (const auto& r : db->query("SELECT name FROM sqlite_master WHERE type = 'table'"
                                 " AND name NOT IN ('schema_version', 'login_name_key') ORDER BY rowid"))
    tables.push_back(storage::textAt(r, 0));
  EXPECT_EQ(tables, storeserver::storeTables());
}

}  // namespace
}  // namespace servertest
