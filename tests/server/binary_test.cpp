// The storeserver program itself, run as a child process.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <thread>

#include "server_fixture.h"

extern char** environ;

namespace servertest {
namespace {

using namespace std::chrono_literals;

class Child {
 public:
  explicit Child(std::vector<std::string> args) {
    args.insert(args.begin(), STORESERVER_BINARY);
    int out[2], err[2];
    if (pipe2(out, O_CLOEXEC) != 0 || pipe2(err, O_CLOEXEC) != 0) return;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, out[1], 1);
    posix_spawn_file_actions_adddup2(&actions, err[1], 2);
    std::vector<char*> argv;
    for (std::string& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    if (posix_spawn(&pid_, argv[0], &actions, nullptr, argv.data(), environ) != 0) pid_ = -1;
    posix_spawn_file_actions_destroy(&actions);
    ::close(out[1]);
    ::close(err[1]);
    out_ = out[0];
    err_ = err[0];
  }

  ~Child() {
    if (pid_ > 0 && !exited_) {
      ::kill(pid_, SIGKILL);
      waitpid(pid_, nullptr, 0);
    }
    if (out_ >= 0) ::close(out_);
    if (err_ >= 0) ::close(err_);
  }

  bool started() const { return pid_ > 0; }
  void signal(int number) { ::kill(pid_, number); }

  // The first line on standard output, or empty when none came in time.
  std::string firstLine() {
    std::string text;
    const auto deadline = std::chrono::steady_clock::now() + 30s;
    while (text.find('\n') == std::string::npos && readSome(out_, text, deadline)) {
    }
    return text.substr(0, text.find('\n'));
  }

  // Waits for the exit and collects standard error; -1 when it did not end in time.
  int exitCode() {
    const auto deadline = std::chrono::steady_clock::now() + 30s;
    while (readSome(err_, errors_, deadline)) {
    }
    int status = 0;
    while (waitpid(pid_, &status, WNOHANG) == 0) {
      if (std::chrono::steady_clock::now() > deadline) return -1;
      std::this_thread::sleep_for(10ms);
    }
    exited_ = true;
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  }

  const std::string& errors() const { return errors_; }

 private:
  static bool readSome(int fd, std::string& into, std::chrono::steady_clock::time_point deadline) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) return false;
    pollfd p{fd, POLLIN, 0};
    if (::poll(&p, 1, int(left.count())) <= 0) return false;
    char chunk[1024];
    const ssize_t n = ::read(fd, chunk, sizeof chunk);
    if (n <= 0) return false;
    into.append(chunk, std::size_t(n));
    return true;
  }

  pid_t pid_ = -1;
  int out_ = -1;
  int err_ = -1;
  bool exited_ = false;
  std::string errors_;
};

TEST(Binary, ServesADemoDatabaseAndStopsOnSigterm) {
  TempDir dir;
  const std::string config = (dir.path() / "storeserver.conf").string();
  std::ofstream(config) << "# test settings\nport = 9\ndatabase = " << (dir.path() / "store.db").string()
                        << "\n  demo = yes\nworkers = 1\n";
  Child child({"--config", config, "--port", "0", "--io-threads=1"});
  ASSERT_TRUE(child.started());
  const std::string line = child.firstLine();
  const std::string prefix = "storeserver listening on 127.0.0.1:";
  ASSERT_EQ(line.rfind(prefix, 0), 0u) << line;
  const int port = std::atoi(line.c_str() + prefix.size());
  ASSERT_GT(port, 0) << line;
  EXPECT_NE(port, 9) << "the command line wins over the configuration file";
  EXPECT_TRUE(std::filesystem::exists(dir.path() / "store.db")) << "the database named in the configuration file";

  httplib::Client c("127.0.0.1", port);
  c.set_tcp_nodelay(true);
  c.set_read_timeout(10);
  auto answer = c.Post(wire::kLoginPath.data(), wire::toJson(wire::LoginRequest{wire::kAppStipendo, "clerk", "clerk1"}),
                       "application/json");
  ASSERT_TRUE(answer) << httplib::to_string(answer.error());
  EXPECT_EQ(answer->status, 200) << answer->body;

  child.signal(SIGTERM);
  EXPECT_EQ(child.exitCode(), 0) << child.errors();
  EXPECT_NE(child.errors().find("login user=clerk app=2 outcome=ok"), std::string::npos) << child.errors();
  EXPECT_EQ(child.errors().find("clerk1"), std::string::npos) << child.errors();
}

TEST(Binary, ExitsWithAMessageWhenTheDatabaseCannotBeCreated) {
  TempDir dir;
  for (const std::string& path : {std::string("/proc/no-such-dir/store.db"), (dir.path() / "missing" / "store.db").string(),
                                 dir.path().string()}) {
    Child child({"--port", "0", "--database", path});
    ASSERT_TRUE(child.started());
    EXPECT_EQ(child.exitCode(), 1) << path << ": " << child.errors();
    EXPECT_NE(child.errors().find("storeserver: Cannot open the database file " + path), std::string::npos)
        << path << ": " << child.errors();
  }
}

TEST(Binary, ExitsWithAMessageWhenThePortIsTaken) {
  TempDir dir;
  storeserver::ServerOptions o;
  o.port = 0;
  o.databasePath = (dir.path() / "first.db").string();
  o.ioThreads = 1;
  o.workerThreads = 1;
  std::string error;
  auto first = storeserver::StoreServer::start(o, error);
  ASSERT_TRUE(first) << error;
  const std::string port = std::to_string(first->port());

  Child child({"--port", port, "--database", (dir.path() / "second.db").string()});
  ASSERT_TRUE(child.started());
  EXPECT_EQ(child.exitCode(), 1) << child.errors();
  EXPECT_NE(child.errors().find("Cannot listen on 127.0.0.1:" + port), std::string::npos) << child.errors();
}

TEST(Binary, HelpAndUnknownOptions) {
  Child help({"--help"});
  ASSERT_TRUE(help.started());
  EXPECT_NE(help.firstLine().find("Usage: storeserver"), std::string::npos);
  EXPECT_EQ(help.exitCode(), 0) << help.errors();

  Child bad({"--colour", "blue"});
  ASSERT_TRUE(bad.started());
  EXPECT_EQ(bad.exitCode(), 2) << bad.errors();
  EXPECT_NE(bad.errors().find("Unknown option \"colour\"."), std::string::npos) << bad.errors();
}

}  // namespace
}  // namespace servertest
