#pragma once
// The storeserver program as a child process, its output in a log file (an unread pipe would stall it).
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

extern char** environ;

namespace servertest {

// Binds or connects a fresh socket to 127.0.0.1:port; true when that worked.
inline bool onLoopback(int port, int (*use)(int, const sockaddr*, socklen_t)) {
  const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in address{AF_INET, htons(std::uint16_t(port)), {htonl(INADDR_LOOPBACK)}, {}};
  const bool ok = use(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
  ::close(fd);
  return ok;
}

// A free port below the kernel's range for outgoing connections, so no client takes it while the server is down.
inline int quietPort() {
  for (int port = 20000 + ::getpid() % 10000; port < 32768; ++port)
    if (onLoopback(port, ::bind)) return port;
  return 0;
}

class ServerProcess {
 public:
  // The log starts empty; each start appends to it.
  ServerProcess(std::vector<std::string> arguments, std::filesystem::path log)
      : arguments_(std::move(arguments)), log_(std::move(log)) {
    std::ofstream(log_, std::ios::trunc);
  }
  ~ServerProcess() { stop(SIGKILL); }

  // False when the program could not be spawned.
  bool start() {
    std::vector<char*> argv{const_cast<char*>(STORESERVER_BINARY)};
    for (std::string& a : arguments_) argv.push_back(a.data());
    argv.push_back(nullptr);
    posix_spawn_file_actions_t output;
    posix_spawn_file_actions_init(&output);
    posix_spawn_file_actions_addopen(&output, 1, log_.c_str(), O_WRONLY | O_APPEND, 0);
    posix_spawn_file_actions_adddup2(&output, 1, 2);
    const int failed = posix_spawn(&pid_, STORESERVER_BINARY, &output, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&output);
    return failed == 0;
  }

  // Tries to connect every 10 ms for at most 30 s; the wait between tries ends early when the child exits.
  bool waitUntilAccepting(int port) const {
    const int exited = int(::syscall(SYS_pidfd_open, pid_, 0));
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    bool up = false;
    pollfd watch{exited, POLLIN, 0};
    while (!(up = onLoopback(port, ::connect)) && std::chrono::steady_clock::now() < deadline &&
           ::poll(&watch, 1, 10) == 0) {
    }
    ::close(exited);
    return up;
  }

  // Sends the signal (none: waits for the end), SIGKILL after 60 s; the exit code, 128 + a signal, -1 when not running.
  int stop(int signal = 0) {
    if (pid_ <= 0) return -1;
    if (signal) ::kill(pid_, signal);
    const int exited = int(::syscall(SYS_pidfd_open, pid_, 0));
    pollfd watch{exited, POLLIN, 0};
    if (::poll(&watch, 1, 60'000) == 0) ::kill(pid_, SIGKILL);
    ::close(exited);
    int status = 0;
    ::waitpid(pid_, &status, 0);
    pid_ = 0;
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  }

  std::string output() const {
    std::ifstream in(log_);
    return {std::istreambuf_iterator<char>(in), {}};
  }

 private:
  std::vector<std::string> arguments_;
  std::filesystem::path log_;
  pid_t pid_ = 0;
};

// Runs the program to its end, its log in dir: "<exit code> <its output>"; 137 after 60 s.
inline std::string runToEnd(const std::filesystem::path& dir, const std::vector<std::string>& arguments) {
  ServerProcess program(arguments, dir / "program.log");
  if (!program.start()) return "cannot start the program";
  const int code = program.stop();
  return std::to_string(code) + " " + program.output();
}

}  // namespace servertest
