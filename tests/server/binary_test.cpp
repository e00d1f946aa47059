// The storeserver program itself, run as a child process.
#include <signal.h>
#include <sys/wait.h>

#include <chrono>
#include <fstream>

#include "server_fixture.h"
#include "tests/support/test_certificates.h"

namespace servertest {
namespace {

// The program started through the shell, which prints its process ID and then
// becomes the program; its standard output and error come on one pipe.
class Child {
 public:
  explicit Child(const std::string& arguments)
      : pipe_(::popen(("echo $$; exec '" STORESERVER_BINARY "' " + arguments + " 2>&1").c_str(), "r")) {
    if (pipe_ && waitFor("\n")) pid_ = std::atoi(output_.c_str());
    output_.erase(0, output_.find('\n') + 1);
  }
  ~Child() {
    if (!pipe_) return;
    if (pid_ > 0) ::kill(pid_, SIGKILL);  // still running: the test failed
    ::pclose(pipe_);
  }
  // Reads until the output holds text; false when the output ended first or 30 s passed.
  bool waitFor(const std::string& text) {
    while (output_.find(text) == std::string::npos)
      if (readMore() <= 0) return false;
    return true;
  }
  // The exit code once the program has ended, its output read to the end;
  // -1 when the output did not end within 30 s.
  int exitCode() {
    ssize_t n;
    do n = readMore();
    while (n > 0);
    if (n < 0) return -1;
    const int status = ::pclose(pipe_);
    pipe_ = nullptr;
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  }
  pid_t pid() const { return pid_; }
  const std::string& output() const { return output_; }

 private:
  // Bytes read; 0 at the end of the output, -1 when nothing came for 30 s.
  ssize_t readMore() {
    pollfd p{::fileno(pipe_), POLLIN, 0};
    char chunk[1024];
    const ssize_t n = ::poll(&p, 1, 30000) > 0 ? ::read(p.fd, chunk, sizeof chunk) : -1;
    if (n > 0) output_.append(chunk, std::size_t(n));
    return n;
  }
  FILE* pipe_;
  pid_t pid_ = -1;
  std::string output_;
};

TEST(Binary, ExitsWithAMessageWhenTheDatabaseCannotBeOpened) {
  TempDir dir;
  const std::string missing = (dir.path() / "missing" / "store.db").string();
  for (const std::string& path : {std::string("/proc/no-such-dir/store.db"), missing, dir.path().string()}) {
    Child child("--port 0 --database " + path);
    EXPECT_EQ(child.exitCode(), 1) << path << ": " << child.output();
    EXPECT_TRUE(child.output().starts_with("storeserver: Cannot open the database file " + path))
        << path << ": " << child.output();
  }
}

// Runs from a configuration file that the command line overrides.
TEST(Binary, ServesOverTlsIsBackedUpWhileItRunsAndStopsOnSigterm) {
  TempDir dir;
  const testsupport::TestCertificates store(dir.path(), "store-ca");
  const testsupport::KeyPair files = store.issue("server", "IP:127.0.0.1");
  ASSERT_FALSE(files.key.empty()) << "the openssl command could not make a certificate";
  const std::string database = (dir.path() / "store.db").string(), config = (dir.path() / "store.conf").string();
  Child halfSet("--port 0 --database " + database + " --tls-cert " + files.certificate);
  EXPECT_EQ(halfSet.exitCode(), 1);
  EXPECT_EQ(halfSet.output(), "storeserver: TLS needs both a certificate file and a key file.\n");
  std::ofstream(config) << "# the demo store\n\nport = 9\n database = " << database << " \ndemo=yes\nworkers = 1\n"
                        << "tls-cert = " << files.certificate << "\n";
  Child child("--config " + config + " --port 0 --io-threads 1 --tls-key=" + files.key);
  ASSERT_GT(child.pid(), 0) << child.output();
  const std::string prefix = "storeserver listening on 127.0.0.1:";
  ASSERT_TRUE(child.waitFor(prefix) && child.waitFor("\n")) << child.output();
  const int port = std::atoi(child.output().c_str() + child.output().find(prefix) + prefix.size());
  EXPECT_NE(port, 9) << "the command line wins over the configuration file";

  httplib::SSLClient c("127.0.0.1", port);
  c.set_ca_cert_path(store.authority().certificate);
  c.enable_server_certificate_verification(true);
  c.set_read_timeout(10);
  auto answer = c.Post(wire::kLoginPath.data(), wire::toJson(wire::LoginRequest{wire::kAppStipendo, "clerk", "clerk1"}),
                       "application/json");
  ASSERT_TRUE(answer) << httplib::to_string(answer.error());
  EXPECT_EQ(answer->status, 200) << answer->body;

  const std::string copy = (dir.path() / "copy.db").string();
  Child backup("backup " + copy + " --database " + database);
  EXPECT_EQ(backup.exitCode(), 0) << backup.output();
  EXPECT_EQ(backup.output(), "storeserver: backed up " + database + " to " + copy + "\n");
  EXPECT_EQ(openDatabase(copy)->query("SELECT user_name FROM session_tokens JOIN users USING (user_id)").size(), 1u)
      << "the log-in before the backup is not in it";

  ::kill(child.pid(), SIGTERM);
  EXPECT_EQ(child.exitCode(), 0) << child.output();
  EXPECT_NE(child.output().find("login user=clerk app=2 outcome=ok"), std::string::npos) << child.output();
  EXPECT_EQ(child.output().find("clerk1"), std::string::npos) << "a password in the log: " << child.output();
}

TEST(Binary, ImportsAFileOrNamesTheLineItRefuses) {
  TempDir dir;
  const std::string database = (dir.path() / "store.db").string(), file = (dir.path() / "stores.csv").string();
  std::ofstream(file) << "store_num,name\r\n7,Downtown\r\n";
  Child good("import stores " + file + " --database " + database);
  EXPECT_EQ(good.exitCode(), 0) << good.output();
  EXPECT_EQ(good.output(), "storeserver: " + file + ": 1 row of stores imported.\n");
  std::ofstream(file) << "store_num,name\n8,Uptown\n-9,Nowhere\n";
  Child bad("import stores " + file + " --database " + database);
  EXPECT_EQ(bad.exitCode(), 1);
  EXPECT_EQ(bad.output(), "storeserver: " + file + ":\nline 3: store_num must be a whole number of 0 or more, "
                          "not \"-9\".\nNothing of the file was stored.\n");
}

}  // namespace
}  // namespace servertest
