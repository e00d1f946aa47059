// storescan [--device PATH] CODE...
// Writes each code and a line end to the demo scanner's named pipe, as a
// barcode scanner would. The pipe is STORE_SCANNER, else /tmp/storescan.pipe,
// unless --device names another; it is created when missing.
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <csignal>
#include <fcntl.h>
#include <iostream>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {

int usage(const char* why) {
  if (why) std::cerr << "storescan: " << why << "\n";
  std::cerr << "usage: storescan [--device PATH] CODE...\n"
               "Sends each CODE to the scanner pipe (default: $STORE_SCANNER or /tmp/storescan.pipe).\n";
  return 2;
}

bool writeAll(int fd, const std::string& bytes) {
  std::size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t wrote = ::write(fd, bytes.data() + done, bytes.size() - done);
    if (wrote < 0 && errno == EINTR) continue;
    if (wrote <= 0) return false;
    done += std::size_t(wrote);
  }
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  const char* fromEnv = std::getenv("STORE_SCANNER");
  std::string device = fromEnv && *fromEnv ? fromEnv : "/tmp/storescan.pipe";
  std::vector<std::string> codes;
  bool optionsDone = false;
  for (int i = 1; i < argc; ++i) {
    const std::string argument = argv[i];
    if (!optionsDone && argument == "--") {
      optionsDone = true;
    } else if (!optionsDone && argument == "--device") {
      if (++i == argc) return usage("--device needs a path");
      device = argv[i];
    } else if (!optionsDone && argument.rfind("--device=", 0) == 0) {
      device = argument.substr(9);
    } else if (!optionsDone && (argument == "--help" || argument == "-h")) {
      usage(nullptr);
      return 0;
    } else if (!optionsDone && argument.size() > 1 && argument[0] == '-' && argument[1] == '-') {
      return usage(("unknown option " + argument).c_str());
    } else {
      if (argument.find_first_of("\r\n") != std::string::npos) return usage("a code cannot hold a line end");
      codes.push_back(argument);
    }
  }
  if (codes.empty()) return usage("no code given");

  if (::mkfifo(device.c_str(), 0666) != 0 && errno != EEXIST) {
    std::cerr << "storescan: cannot create " << device << ": " << std::strerror(errno) << "\n";
    return 1;
  }
  struct stat info {};
  if (::stat(device.c_str(), &info) != 0 || !(S_ISFIFO(info.st_mode) || S_ISCHR(info.st_mode))) {
    std::cerr << "storescan: " << device << " is not a named pipe or a device\n";
    return 1;
  }
  // Non-blocking open: with no program reading the pipe, say so instead of waiting for one.
  const int fd = ::open(device.c_str(), O_WRONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
  if (fd < 0) {
    if (errno == ENXIO) std::cerr << "storescan: no program is reading " << device << "\n";
    else std::cerr << "storescan: cannot open " << device << ": " << std::strerror(errno) << "\n";
    return 1;
  }
  // A reader that goes away mid-write should give an error message, not a silent SIGPIPE death.
  std::signal(SIGPIPE, SIG_IGN);
  const int flags = ::fcntl(fd, F_GETFL);
  if (flags >= 0) ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK);

  for (const std::string& code : codes) {
    if (!writeAll(fd, code + "\n")) {
      std::cerr << "storescan: writing to " << device << " failed: " << std::strerror(errno) << "\n";
      ::close(fd);
      return 1;
    }
  }
  ::close(fd);
  return 0;
}
