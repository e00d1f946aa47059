#pragma once
#include <chrono>
#include <functional>
#include <string>
#include <string_view>

namespace storeserver {

// One line per log-in and per exchange. Callers never pass passwords or tokens.
class Logger {
 public:
  // Called from any thread at once.
  using Sink = std::function<void(std::string_view line)>;
  explicit Logger(Sink sink);  // null sink: standard error

  // One write(2) per line, no lock: lines of several threads never interleave.
  void write(std::string_view line);

 private:
  Sink sink_;
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
