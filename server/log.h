#pragma once
#include <array>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

namespace storeserver {

// One line per log-in and per exchange. Callers never pass passwords or tokens.
class Logger {
 public:
  // Called from any thread at once, on the thread that logs.
  using Sink = std::function<void(std::string_view line)>;
  // A null sink: lines go to the file descriptor (standard error), gathered by a log thread of
  // the logger's own into one write(2) per few milliseconds, so an exchange
  // makes no system call for its line.
  explicit Logger(Sink sink, int fd = 2);
  ~Logger();  // every line given before is written by then
  Logger(const Logger&) = delete;
  Logger& operator=(const Logger&) = delete;

  // Whole lines in the order given; when the descriptor falls far behind,
  // callers wait for it rather than lose lines. A line that names problems
  // is also kept for the back office.
  void write(std::string_view line);

  // The last lines that named problems, newest first.
  std::vector<std::string> recentProblems() const;

 private:
  static constexpr std::size_t kProblemsKept = 20;

  void writeGathered();

  Sink sink_;
  int fd_;
  std::mutex mutex_;
  std::condition_variable linesWaiting_, roomFreed_;
  std::string pending_;  // whole lines, each ending in a newline
  bool stopping_ = false;
  std::thread thread_;
  mutable std::mutex problemsMutex_;
  std::deque<std::string> problems_;
};

// Exchanges counted per second over the last minute, for the back office's
// status. Counting is two relaxed atomics: no lock on the exchanges' path. A
// count that races a second's turnover may land in the older second.
class ExchangeRate {
 public:
  void count(std::chrono::system_clock::time_point now);
  std::uint64_t lastMinute(std::chrono::system_clock::time_point now) const;

 private:
  struct Second {
    std::atomic<std::int64_t> at{-1};  // seconds since the epoch this slot counts
    std::atomic<std::uint64_t> exchanges{0};
  };
  std::array<Second, 60> seconds_;
};

// UTC time with milliseconds: 2024-05-01T09:30:00.123Z
std::string logTime(std::chrono::system_clock::time_point t);

// Text from a client made safe for a log line or a reply sentence: control
// characters and invisible direction marks become blanks and the text is cut
// at maxBytes (on a UTF-8 boundary).
std::string printable(std::string_view text, std::size_t maxBytes = 64);

// Text from a client as one field of a log line: printable, in double quotes,
// with any quote or backslash escaped, so blanks and '=' in it cannot make
// another field.
std::string quotedText(std::string_view text, std::size_t maxBytes = 64);

class Stopwatch {
 public:
  Stopwatch() : start_(std::chrono::steady_clock::now()) {}
  long long milliseconds() const {
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start_).count();
  }

 private:
  std::chrono::steady_clock::time_point start_;
};

}  // namespace storeserver
