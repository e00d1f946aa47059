// The storeserver program as a child process, and backups of a database the running server keeps writing.
#include <atomic>
#include <fstream>
#include <thread>

#include "server/backup.h"
#include "server_fixture.h"
#include "server_process.h"
#include "tests/support/test_certificates.h"

namespace servertest {
namespace {

// Runs from a configuration file that the command line overrides; under TLS the back office's cookie is Secure.
TEST(Binary, ServesOverTlsIsBackedUpWhileItRunsAndStopsOnSigterm) {
  TempDir dir;
  const testsupport::TestCertificates store(dir.path(), "store-ca");
  const testsupport::KeyPair files = store.issue("server", "IP:127.0.0.1");
  ASSERT_FALSE(files.key.empty()) << "the openssl command could not make a certificate";
  const std::string database = (dir.path() / "store.db").string(), config = (dir.path() / "store.conf").string();
  EXPECT_EQ(runToEnd(dir.path(), {"--port", "0", "--database", database, "--tls-cert", files.certificate}),
            "1 storeserver: TLS needs both a certificate file and a key file.\n");
  std::ofstream(config) << "# the demo store\n\nport = 9\n database = " << database << " \ndemo=yes\nworkers = 1\n"
                        << "tls-cert = " << files.certificate << "\n";
  const int port = quietPort();  // the command line wins over the configuration file
  ServerProcess child(
      {"--config", config, "--port", std::to_string(port), "--io-threads", "1", "--tls-key=" + files.key},
      dir.path() / "server.log");
  ASSERT_TRUE(child.start() && child.waitUntilAccepting(port)) << child.output();

  httplib::SSLClient c("127.0.0.1", port);
  c.set_ca_cert_path(store.authority().certificate);
  c.enable_server_certificate_verification(true);
  c.set_read_timeout(10);
  auto answer = c.Post(wire::kLoginPath.data(), wire::toJson(wire::LoginRequest{wire::kAppStipendo, "clerk", "clerk1"}),
                       "application/json");
  ASSERT_TRUE(answer) << httplib::to_string(answer.error());
  EXPECT_EQ(answer->status, 200) << answer->body;

  const std::string copy = (dir.path() / "copy.db").string();
  EXPECT_EQ(runToEnd(dir.path(), {"backup", copy, "--database", database}),
            "0 storeserver: backed up " + database + " to " + copy + "\n");
  EXPECT_EQ(openDatabase(copy)->query("SELECT user_name FROM session_tokens JOIN users USING (user_id)").size(), 1u)
      << "the log-in before the backup is not in it";
  const auto office = c.Post("/admin/login", httplib::Params{{"name", "office"}, {"password", "office1"}});
  ASSERT_TRUE(office) << httplib::to_string(office.error());
  EXPECT_TRUE(office->get_header_value("Set-Cookie").ends_with("; HttpOnly; SameSite=Strict; Secure"))
      << "a back office session's cookie under TLS: " << office->get_header_value("Set-Cookie");

  EXPECT_EQ(child.stop(SIGTERM), 0) << child.output();
  EXPECT_NE(child.output().find("login user=\"clerk\" app=2 outcome=ok"), std::string::npos) << child.output();
}

TEST(Binary, ImportsAFileOrNamesTheLineItRefusesAndExitsWithAMessageWhenTheDatabaseCannotBeOpened) {
  TempDir dir;
  const std::string missing = (dir.path() / "missing" / "store.db").string();
  for (const std::string& path : {std::string("/proc/no-such-dir/store.db"), missing, dir.path().string()})
    EXPECT_TRUE(runToEnd(dir.path(), {"--port", "0", "--database", path})
                    .starts_with("1 storeserver: Cannot open the database file " + path))
        << path;
  const std::string database = (dir.path() / "store.db").string(), file = (dir.path() / "stores.csv").string();
  const std::vector<std::string> import = {"import", "stores", file, "--database", database};
  std::ofstream(file) << "store_num,name\r\n7,Downtown\r\n";
  EXPECT_EQ(runToEnd(dir.path(), import), "0 storeserver: " + file + ": 1 row of stores imported.\n");
  std::ofstream(file) << "store_num,name\n8,Uptown\n-9,Nowhere\n";
  EXPECT_EQ(runToEnd(dir.path(), import), "1 storeserver: " + file +
                                              ":\nline 3: store_num must be a whole number from 1 "
                                              "to 9999, not \"-9\".\nNothing of the file was stored.\n");
}

std::int64_t sessions(const std::string& database) {
  const auto db = openDatabase(database);
  EXPECT_EQ(std::get<std::string>(db->query("PRAGMA integrity_check").at(0).at(0)), "ok") << database;
  return std::get<std::int64_t>(db->query("SELECT count(*) FROM session_tokens").at(0).at(0));
}

using Backup = ServerTest;

TEST_F(Backup, CopiesWhileHandheldsLogInAndTheCopyIsWholeAndConsistent) {
  // Log-ins, each writing a session row, keep the writer busy; stopped and joined however the test ends.
  std::atomic<int> logins{0};
  auto handheld = [&](std::stop_token stop) {
    while (!stop.stop_requested()) logins += loginAnswer(wire::kAppStipendo, "clerk", "clerk1").status == 200;
  };
  std::jthread first(handheld), second(handheld);
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
  while (logins < 5 && std::chrono::steady_clock::now() < deadline) std::this_thread::yield();
  ASSERT_GE(logins, 5) << "the handhelds could not log in";

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
