// What only PostgreSQL has: its placeholders and dropped transactions, and two
// servers sharing one database for Sellin's ticket, where the last needed copy
// must sell once and a repeated update must be stored once.
#include <array>
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

// PostgreSQL drops the whole transaction after a failed statement, where
// SQLite drops only the statement: the commit must then not report success.
TEST(PostgresStorage, ACommitAfterAFailedStatementIsRefused) {
  if (const std::string why = backendMissing(Backend::Postgres); !why.empty()) GTEST_SKIP() << why;
  const PostgresDatabase database;
  auto db = openDatabase(database.uri());
  storage::migrate(*db);
  storage::Transaction broken(*db, storage::TxMode::Write);
  db->execute("INSERT INTO stores (store_num, name) VALUES (2, 'Two')");
  EXPECT_THROW(db->execute("INSERT INTO students (student_id, name) VALUES (?, 'Too long')",
                           {std::string(21, '7')}),
               storage::Error)
      << "a student ID wider than its record";
  EXPECT_THROW(broken.commit(), storage::Error);
  EXPECT_TRUE(openDatabase(database.uri())->query("SELECT store_num FROM stores").empty())
      << "half a failed write was kept";
}

// Two servers on one database, each with two workers, handhelds on either.
class TwoServers : public ServerTest {
 protected:
  TwoServers() : ServerTest(Backend::Postgres) {}
  void SetUp() override {
    ServerTest::SetUp();
    if (IsSkipped() || HasFatalFailure()) return;
    std::string error;
    second_ = storeserver::StoreServer::start(options(), error);
    ASSERT_TRUE(second_) << error;
    ports_ = {port_, second_->port()};
    // buys 3, bought 2: one more copy is needed.
    sideConnection()->execute(
        "UPDATE book_purchasers SET no_limit = 0, buy_qty = 3, bought_qty = 2"
        " WHERE session_id = 1002 AND item_id = 'B0000001' AND purchaser = 'Ostrand Company'");
  }
  void TearDown() override { second_.reset(); }
  // Sends to server 0 or 1.
  wire::Reply send(int server, const std::string& token, const std::string& text, int packet) const {
    const auto replies = exchange(wire::kAppSellin, token, {query(text, packet)}, ports_[server]);
    return replies.empty() ? wire::Reply{true, "(no reply)", 0, -1} : replies[0];
  }
  std::string openTicket(int server, const std::string& token) const {
    const auto r = rows(send(server, token, wire::requests::ticket("buyer", "", 1), wire::kPacketQuery),
                        wire::layouts::receipt(), {"receipt"});
    return r.size() == 1 ? r[0] : "";
  }
  static std::string addOne(const std::string& id, const std::string& receipt) {
    return wire::requests::ticketItem(id, receipt, 1, "Ostrand Company", 1002, "B0000001", 1, "12.50");
  }
  std::int64_t count(const std::string& sql) const { return storage::integerAt(sideConnection()->query(sql).at(0), 0); }

  std::unique_ptr<storeserver::StoreServer> second_;
  std::array<int, 2> ports_{};
};

TEST_F(TwoServers, TheLastNeededCopyRacedAcrossBothSellsOnce) {
  const std::string tokens[2] = {login(wire::kAppSellin, "buyer", "buyer1"), login(wire::kAppSellin, "manager", "manager1")};
  const std::string receipts[2] = {openTicket(1, tokens[0]), openTicket(0, tokens[1])};  // a token works on either
  ASSERT_FALSE(receipts[0].empty() || receipts[1].empty() || receipts[0] == receipts[1]);

  // The purchasers' table held locked until both updates wait inside the
  // database, one on each server, then let go: they truly race.
  auto holder = sideConnection();
  storage::Transaction hold(*holder, storage::TxMode::Read);
  holder->execute("LOCK TABLE book_purchasers IN ACCESS EXCLUSIVE MODE");
  wire::Reply replies[2];
  std::atomic<int> answered{0};
  std::thread buyers[2];
  for (int i : {0, 1})
    buyers[i] = std::thread([&, i] {
      replies[i] = send(i, tokens[i], addOne("00000000-0000-4000-8000-00000000000" + std::to_string(i + 1), receipts[i]),
                        wire::kPacketNewItem);
      ++answered;
    });
  auto watcher = sideConnection();
  const std::string waiting =
      "SELECT COUNT(*) FROM pg_locks WHERE NOT granted AND database = (SELECT oid FROM pg_database"
      " WHERE datname = current_database())";
  while (answered == 0 && storage::integerAt(watcher->query(waiting).at(0), 0) < 2) std::this_thread::yield();
  EXPECT_EQ(answered.load(), 0) << "an update was answered without reading the purchaser's need";
  hold.commit();
  for (std::thread& buyer : buyers) buyer.join();

  EXPECT_NE(replies[0].error, replies[1].error) << replies[0].text << " / " << replies[1].text;
  const wire::Reply& refused = replies[0].error ? replies[0] : replies[1];
  EXPECT_EQ(refused.text, "This purchaser needs no more copies of this book; only a return can be entered.");
  EXPECT_EQ(count("SELECT bought_qty FROM book_purchasers WHERE session_id = 1002 AND item_id = 'B0000001'"
                  " AND purchaser = 'Ostrand Company'"),
            3);
  EXPECT_EQ(count("SELECT COUNT(*) FROM ticket_lines"), 1);
}

TEST_F(TwoServers, AnUpdateRepeatedOnTheOtherServerIsStoredOnce) {
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
