// Backups of a database that the running server keeps writing.
#include <atomic>
#include <fstream>
#include <thread>

#include "server/backup.h"
#include "server_fixture.h"

namespace servertest {
namespace {

using Backup = ServerTest;

namespace storage = storeserver::storage;

std::unique_ptr<storage::Connection> open(const std::string& path) {
  std::string error;
  auto db = storage::openSqlite(path, error);
  if (!db) throw std::runtime_error(error);
  return db;
}

std::int64_t count(storage::Connection& db, const std::string& table) {
  return std::get<std::int64_t>(db.query("SELECT count(*) FROM " + table).at(0).at(0));
}

TEST_F(Backup, CopiesWhileHandheldsLogInAndTheCopyIsWholeAndConsistent) {
  // Every log-in writes a session row; these keep the writer busy throughout.
  std::atomic<bool> done{false};
  std::atomic<int> logins{0};
  std::vector<std::thread> handhelds;
  for (int i = 0; i < 2; ++i)
    handhelds.emplace_back([&] {
      while (!done) {
        if (loginAnswer(wire::kAppStipendo, "clerk", "clerk1").status == 200) ++logins;
      }
    });
  while (logins < 5) std::this_thread::yield();

  const auto original = sideConnection();
  std::vector<std::pair<std::int64_t, std::int64_t>> copies;  // sessions counted before and in each copy
  for (int i = 0; i < 3; ++i) {
    const std::string destination = (dir_.path() / ("backup-" + std::to_string(i) + ".db")).string();
    const std::int64_t before = count(*original, "session_tokens");
    std::string error;
    ASSERT_TRUE(storeserver::backupDatabase(options().databasePath, destination, error)) << error;
    EXPECT_FALSE(std::filesystem::exists(destination + "-wal")) << "a backup is one file";
    const auto copy = open(destination);
    EXPECT_EQ(std::get<std::string>(copy->query("PRAGMA integrity_check").at(0).at(0)), "ok");
    EXPECT_EQ(count(*copy, "users"), count(*original, "users"));
    copies.push_back({before, count(*copy, "session_tokens")});
  }
  done = true;
  for (std::thread& t : handhelds) t.join();
  for (const auto& [before, copied] : copies) EXPECT_GE(copied, before) << "the copy lacks rows written before it";
  EXPECT_GT(copies.back().second, copies.front().second) << "the writers stood still during the backups";
}

TEST(BackupRefusals, NothingIsLeftBehindWhenABackupCannotBeMade) {
  TempDir dir;
  const std::string database = (dir.path() / "store.db").string(), copy = (dir.path() / "copy.db").string();
  std::ofstream(database) << "hello, this is text and no database at all";
  const std::string cases[][3] = {
      {database + ".none", copy, "There is no database file"},
      {database, database, "must go to another file"},
      {database, copy, "The backup stopped"},
  };
  for (const auto& [source, destination, expected] : cases) {
    std::string error;
    EXPECT_FALSE(storeserver::backupDatabase(source, destination, error)) << expected;
    EXPECT_NE(error.find(expected), std::string::npos) << error;
    EXPECT_FALSE(std::filesystem::exists(destination + ".partial")) << expected;
  }
  EXPECT_FALSE(std::filesystem::exists(copy));
}

}  // namespace
}  // namespace servertest
