// What only PostgreSQL's storage has: its placeholders and dropped transactions.
#include "postgres_cluster.h"
#include "server/storage/migrations.h"
#include "server/storage/postgres_storage.h"
#include "server_fixture.h"

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

}  // namespace
}  // namespace servertest
