#pragma once
#include <array>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

namespace storeserver {

// One line per log-in and per exchange. Callers never pass passwords or tokens.
class Logger {
 public:
  // Called from any thread at once.
  using Sink = std::function<void(std::string_view line)>;
  explicit Logger(Sink sink);  // null sink: standard error

  // One write(2) per line: lines of several threads never interleave. Only a
  // line that names problems takes a lock, to be kept for the back office.
  void write(std::string_view line);

  // The last lines that named problems, newest first.
  std::vector<std::string> recentProblems() const;

 private:
  static constexpr std::size_t kProblemsKept = 20;

  Sink sink_;
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
// characters become blanks and the text is cut at maxBytes (on a UTF-8 boundary).
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
