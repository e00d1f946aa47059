// Backups of a database that the running server keeps writing.
#include <atomic>
#include <fstream>
#include <thread>

#include "server/backup.h"
#include "server_fixture.h"

namespace servertest {
namespace {

std::int64_t sessions(const std::string& database) {
  const auto db = openDatabase(database);
  EXPECT_EQ(std::get<std::string>(db->query("PRAGMA integrity_check").at(0).at(0)), "ok") << database;
  return std::get<std::int64_t>(db->query("SELECT count(*) FROM session_tokens").at(0).at(0));
}

using Backup = ServerTest;

TEST_F(Backup, CopiesWhileHandheldsLogInAndTheCopyIsWholeAndConsistent) {
  // Every log-in writes a session row; these keep the writer busy throughout,
  // and are stopped and joined however the test ends.
  std::atomic<int> logins{0};
  auto handheld = [&](std::stop_token stop) {
    while (!stop.stop_requested()) logins += loginAnswer(wire::kAppStipendo, "clerk", "clerk1").status == 200;
  };
  std::jthread first(handheld), second(handheld);
  while (logins < 5) std::this_thread::yield();

  const std::string database = options().databasePath;
  std::vector<std::int64_t> before, copied;
  for (int i = 0; i < 3; ++i) {
    const std::string copy = (dir_.path() / ("backup-" + std::to_string(i) + ".db")).string();
    before.push_back(sessions(database));
    std::string error;
    ASSERT_TRUE(storeserver::backupDatabase(database, copy, error)) << error;
    EXPECT_FALSE(std::filesystem::exists(copy + "-wal")) << "a backup is one file";
    copied.push_back(sessions(copy));
    EXPECT_GE(copied.back(), before.back()) << "the copy lacks rows written before it";
  }
  EXPECT_GT(copied.back(), copied.front()) << "the writers stood still during the backups";
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

