// The storeserver program itself, run as a child process.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>
#include <thread>

#include "server_fixture.h"

extern char** environ;

namespace servertest {
namespace {

using namespace std::chrono_literals;

// The program with standard output and error on one pipe.
class Child {
 public:
  explicit Child(std::vector<std::string> args) {
    args.insert(args.begin(), STORESERVER_BINARY);
    int pipe[2];
    if (pipe2(pipe, O_CLOEXEC) != 0) return;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, pipe[1], 1);
    posix_spawn_file_actions_adddup2(&actions, pipe[1], 2);
    std::vector<char*> argv;
    for (std::string& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    if (posix_spawn(&pid_, argv[0], &actions, nullptr, argv.data(), environ) != 0) pid_ = -1;
    posix_spawn_file_actions_destroy(&actions);
    ::close(pipe[1]);
    out_ = pipe[0];
  }

  ~Child() {
    if (pid_ > 0 && !exited_) {
      ::kill(pid_, SIGKILL);
      waitpid(pid_, nullptr, 0);
    }
    ::close(out_);
  }

  // Reads until the output holds text; false when it ended first or 30 s passed.
  bool waitFor(const std::string& text) {
    const auto deadline = std::chrono::steady_clock::now() + 30s;
    while (output_.find(text) == std::string::npos)
      if (!readMore(deadline)) return false;
    return true;
  }

  // The exit code once the program ended, all output read; -1 when it did not end in 30 s.
  int exitCode() {
    const auto deadline = std::chrono::steady_clock::now() + 30s;
    while (readMore(deadline)) {
    }
    int status = 0;
    for (int i = 0; waitpid(pid_, &status, WNOHANG) == 0; ++i) {
      if (i == 3000) return -1;
      std::this_thread::sleep_for(10ms);
    }
    exited_ = true;
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  }

  pid_t pid() const { return pid_; }
  const std::string& output() const { return output_; }

 private:
  bool readMore(std::chrono::steady_clock::time_point deadline) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    pollfd p{out_, POLLIN, 0};
    char chunk[1024];
    const ssize_t n = left.count() > 0 && ::poll(&p, 1, int(left.count())) > 0 ? ::read(out_, chunk, sizeof chunk) : 0;
    if (n > 0) output_.append(chunk, std::size_t(n));
    return n > 0;
  }

  pid_t pid_ = -1;
  int out_ = -1;
  bool exited_ = false;
  std::string output_;
};

TEST(Binary, ServesADemoDatabaseAndStopsOnSigterm) {
  TempDir dir;
  const std::string config = (dir.path() / "storeserver.conf").string();
  std::ofstream(config) << "port = 9\ndatabase = " << (dir.path() / "store.db").string() << "\ndemo = yes\nworkers = 1\n";
  Child child({"--config", config, "--port", "0", "--io-threads=1"});
  ASSERT_GT(child.pid(), 0);
  const std::string prefix = "storeserver listening on 127.0.0.1:";
  ASSERT_TRUE(child.waitFor(prefix) && child.waitFor("\n")) << child.output();
  const int port = std::atoi(child.output().c_str() + child.output().find(prefix) + prefix.size());
  ASSERT_GT(port, 0) << child.output();
  EXPECT_NE(port, 9) << "the command line wins over the configuration file";

  httplib::Client c("127.0.0.1", port);
  c.set_tcp_nodelay(true);
  c.set_read_timeout(10);
  auto answer = c.Post(wire::kLoginPath.data(), wire::toJson(wire::LoginRequest{wire::kAppStipendo, "clerk", "clerk1"}),
                       "application/json");
  ASSERT_TRUE(answer) << httplib::to_string(answer.error());
  EXPECT_EQ(answer->status, 200) << answer->body;

  ::kill(child.pid(), SIGTERM);
  EXPECT_EQ(child.exitCode(), 0) << child.output();
  EXPECT_NE(child.output().find("login user=clerk app=2 outcome=ok"), std::string::npos) << child.output();
  EXPECT_EQ(child.output().find("clerk1"), std::string::npos) << child.output();
}

TEST(Binary, ExitsWithAMessageWhenTheDatabaseCannotBeCreated) {
  TempDir dir;
  for (const std::string& path :
       {std::string("/proc/no-such-dir/store.db"), (dir.path() / "missing" / "store.db").string(), dir.path().string()}) {
    Child child({"--port", "0", "--database", path});
    EXPECT_EQ(child.exitCode(), 1) << path << ": " << child.output();
    EXPECT_TRUE(child.output().starts_with("storeserver: Cannot open the database file " + path))
        << path << ": " << child.output();
  }
}

}  // namespace
}  // namespace servertest
