// PostgreSQL's numbered placeholders. The storage and ticket tests run on
// PostgreSQL as well as SQLite, in server_tests.
#include <gtest/gtest.h>

#include "server/storage/postgres_storage.h"

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
}  // namespace
}  // namespace servertest
