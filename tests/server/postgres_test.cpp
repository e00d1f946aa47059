// The store server on PostgreSQL: the storage layer as SQLite's is used, and
// two servers sharing one database for Sellin's ticket, where the last needed
// copy must sell once and a repeated update must be stored once.
#include <atomic>
#include <thread>

#include "postgres_cluster.h"
#include "server/storage/migrations.h"
#include "server/storage/postgres_storage.h"
#include "server_fixture.h"
#include "wire/requests.h"

namespace servertest {
namespace {

namespace storage = storeserver::storage;

TEST(PostgresPlaceholders, AreNumberedOutsideQuotesOnly) {
  const std::vector<std::pair<std::string, std::string>> cases = {
      {"SELECT 1", "SELECT 1"},
      {"SELECT ? + ?", "SELECT $1 + $2"},
      {"SELECT '?', ?, 'it''s ?', \"odd?\" FROM t WHERE a = ?", "SELECT '?', $1, 'it''s ?', \"odd?\" FROM t WHERE a = $2"},
  };
  for (const auto& [sql, expected] : cases) EXPECT_EQ(storage::numberedPlaceholders(sql), expected);
}

class Postgres : public ::testing::Test {
 protected:
  void SetUp() override {
    if (const std::string why = PostgresCluster::unavailable(); !why.empty()) GTEST_SKIP() << why;
    cluster_ = std::make_unique<PostgresCluster>();
    uri_ = cluster_->createDatabase("store");
  }
  std::unique_ptr<storage::Connection> connect() const {
    std::string error;
    auto db = storage::openPostgres(uri_, error);
    if (!db) throw std::runtime_error(error);
    return db;
  }
  std::unique_ptr<PostgresCluster> cluster_;
  std::string uri_;
};

TEST_F(Postgres, ReadsFailuresRollbackAndMigrationsBehaveAsOnSqlite) {
  auto db = connect();
  const auto rows = db->query("SELECT NULL, 'x', ?, '?', COUNT(*), SUM(?) FROM (SELECT 1) one",
                              {std::int64_t(-3), std::int64_t(1) << 40});
  ASSERT_EQ(rows.size(), 1u);
  EXPECT_EQ(storage::integerAt(rows[0], 2), -3);
  EXPECT_EQ(storage::textAt(rows[0], 3), "?");
  EXPECT_EQ(storage::integerAt(rows[0], 4), 1);
  EXPECT_EQ(storage::integerAt(rows[0], 5), std::int64_t(1) << 40) << "a BIGINT sum is a whole number";
  EXPECT_THROW(storage::integerAt(rows[0], 0), storage::Error) << "NULL read as a number";
  EXPECT_THROW(storage::textAt(rows[0], 2), storage::Error) << "a number read as a text";
  EXPECT_THROW(db->query("SELECT 0.5"), storage::Error) << "a fraction read at all";
  EXPECT_THROW(db->query("SELECT nothing FROM nowhere"), storage::Error);
  EXPECT_THROW(db->execute("SELECT 1; SELECT 2"), storage::Error) << "a second statement ignored";
  EXPECT_THROW(db->query("SELECT ?", {}), storage::Error) << "a parameter left without a value";
  EXPECT_EQ(db->query("SELECT 1").size(), 1u) << "a failure left the connection unusable";

  storage::migrate(*db);
  storage::migrate(*connect());  // a second server finds the schema current
  EXPECT_EQ(storage::integerAt(db->query("SELECT version FROM schema_version").at(0), 0),
            storage::currentSchemaVersion());
  try {
    storage::Transaction tx(*db, storage::TxMode::Write);
    db->execute("INSERT INTO stores (store_num, name) VALUES (?, ?)", {std::int64_t(1), std::string("One")});
    db->execute("INSERT INTO stores (store_num, name) VALUES (?, ?)", {std::int64_t(1), std::string("Twice")});
    ADD_FAILURE() << "a second store 1 was accepted";
  } catch (const storage::Error& e) {
    EXPECT_NE(std::string(e.what()).find("unique"), std::string::npos) << e.what();
  }
  EXPECT_TRUE(db->query("SELECT store_num FROM stores").empty()) << "the first insert was kept";

  // A write whose statement failed must not be reported as committed.
  storage::Transaction broken(*db, storage::TxMode::Write);
  db->execute("INSERT INTO stores (store_num, name) VALUES (2, 'Two')");
  EXPECT_THROW(db->execute("INSERT INTO students (student_id, name) VALUES (?, 'Too long')",
                           {std::string(21, '7')}),
               storage::Error)
      << "a student ID wider than its record";
  EXPECT_THROW(broken.commit(), storage::Error);
  EXPECT_TRUE(connect()->query("SELECT store_num FROM stores").empty()) << "half a failed write was kept";
}

// Two servers on one database, each with two workers, handhelds on either.
class TwoServers : public ServerTest {
 protected:
  void SetUp() override {
    if (const std::string why = PostgresCluster::unavailable(); !why.empty()) GTEST_SKIP() << why;
    cluster_ = std::make_unique<PostgresCluster>();
    storeserver::ServerOptions o = options();
    o.databasePath = cluster_->createDatabase("chain");
    start(o);
    ports_[0] = port_;
    std::string error;
    second_ = storeserver::StoreServer::start(o, error);
    ASSERT_TRUE(second_) << error;
    ports_[1] = second_->port();
    uri_ = o.databasePath;
    std::string dbError;
    auto db = storage::openPostgres(uri_, dbError);
    ASSERT_TRUE(db) << dbError;
    // buys 3, bought 2: one more copy is needed.
    db->execute("UPDATE book_purchasers SET no_limit = 0, buy_qty = 3, bought_qty = 2"
                " WHERE session_id = 1002 AND item_id = 'B0000001' AND purchaser = 'Ostrand Company'");
  }
  void TearDown() override {
    second_.reset();
    server_.reset();
  }
  // Sends to server 0 or 1.
  wire::Reply send(int server, const std::string& token, const std::string& text, int packet) {
    port_ = ports_[server];
    const auto replies = exchange(wire::kAppSellin, token, {query(text, packet)});
    return replies.empty() ? wire::Reply{true, "(no reply)", 0, -1} : replies[0];
  }
  std::string openTicket(int server, const std::string& token) {
    const auto r = rows(send(server, token, wire::requests::ticket("buyer", "", 1), wire::kPacketQuery),
                        wire::layouts::receipt(), {"receipt"});
    return r.size() == 1 ? r[0] : "";
  }
  static std::string addOne(const std::string& id, const std::string& receipt) {
    return wire::requests::ticketItem(id, receipt, 1, "Ostrand Company", 1002, "B0000001", 1, "12.50");
  }
  std::int64_t count(const std::string& sql) const {
    std::string error;
    auto db = storage::openPostgres(uri_, error);
    if (!db) throw std::runtime_error(error);
    return storage::integerAt(db->query(sql).at(0), 0);
  }
  std::unique_ptr<PostgresCluster> cluster_;
  std::unique_ptr<storeserver::StoreServer> second_;
  int ports_[2] = {0, 0};
  std::string uri_;
};

TEST_F(TwoServers, TheLastNeededCopyRacedAcrossBothSellsOnce) {
  port_ = ports_[0];
  const std::string tokens[2] = {login(wire::kAppSellin, "buyer", "buyer1"), login(wire::kAppSellin, "manager", "manager1")};
  const std::string receipts[2] = {openTicket(1, tokens[0]), openTicket(0, tokens[1])};  // a token works on either
  ASSERT_FALSE(receipts[0].empty() || receipts[1].empty() || receipts[0] == receipts[1]);
  wire::Reply replies[2];
  std::atomic<int> ready{0};
  auto buy = [&](int i) {
    ++ready;
    while (ready < 2) std::this_thread::yield();
    replies[i] = send(i, tokens[i], addOne("00000000-0000-4000-8000-00000000000" + std::to_string(i + 1), receipts[i]),
                      wire::kPacketNewItem);
  };
  std::thread a(buy, 0), b(buy, 1);
  a.join();
  b.join();
  EXPECT_NE(replies[0].error, replies[1].error) << replies[0].text << " / " << replies[1].text;
  const wire::Reply& refused = replies[0].error ? replies[0] : replies[1];
  EXPECT_EQ(refused.text, "This purchaser needs no more copies of this book; only a return can be entered.");
  EXPECT_EQ(count("SELECT bought_qty FROM book_purchasers WHERE session_id = 1002 AND item_id = 'B0000001'"
                  " AND purchaser = 'Ostrand Company'"),
            3);
  EXPECT_EQ(count("SELECT COUNT(*) FROM ticket_lines"), 1);
}

TEST_F(TwoServers, AnUpdateRepeatedOnTheOtherServerIsStoredOnce) {
  port_ = ports_[0];
  const std::string token = login(wire::kAppSellin, "buyer", "buyer1");
  const std::string receipt = openTicket(0, token);
  const std::string update = addOne("00000000-0000-4000-8000-000000000009", receipt);
  const wire::Reply first = send(0, token, update, wire::kPacketNewItem);
  const wire::Reply repeat = send(1, token, update, wire::kPacketNewItem);
  ASSERT_FALSE(first.error) << first.text;
  EXPECT_EQ(repeat.error, first.error);
  EXPECT_EQ(repeat.text, first.text);
  EXPECT_EQ(count("SELECT COUNT(*) FROM ticket_lines"), 1);
  EXPECT_EQ(count("SELECT COUNT(*) FROM ticket_audit WHERE action = 'add'"), 1);
}

}  // namespace
}  // namespace servertest
