#include "server/log.h"

#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <ctime>

namespace storeserver {

Logger::Logger(Sink sink) : sink_(std::move(sink)) {}

void Logger::write(std::string_view line) {
  if (line.find(" problems=") != std::string_view::npos) {
    std::lock_guard lock(problemsMutex_);
    problems_.emplace_front(line);
    if (problems_.size() > kProblemsKept) problems_.pop_back();
  }
  if (sink_) return sink_(line);
  std::string whole;
  whole.reserve(line.size() + 1);
  whole.append(line).push_back('\n');
  for (std::string_view left = whole; !left.empty();) {
    const ssize_t n = ::write(STDERR_FILENO, left.data(), left.size());
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return;  // nowhere to log to: the answers matter more
    left.remove_prefix(std::size_t(n));
  }
}

std::vector<std::string> Logger::recentProblems() const {
  std::lock_guard lock(problemsMutex_);
  return {problems_.begin(), problems_.end()};
}

namespace {
std::int64_t secondOf(std::chrono::system_clock::time_point t) {
  return std::chrono::duration_cast<std::chrono::seconds>(t.time_since_epoch()).count();
}
}  // namespace

void ExchangeRate::count(std::chrono::system_clock::time_point now) {
  const std::int64_t second = secondOf(now);
  Second& slot = seconds_[std::size_t(second % 60)];
  std::int64_t at = slot.at.load(std::memory_order_relaxed);
  if (at != second && slot.at.compare_exchange_strong(at, second, std::memory_order_relaxed))
    slot.exchanges.store(0, std::memory_order_relaxed);
  slot.exchanges.fetch_add(1, std::memory_order_relaxed);
}

std::uint64_t ExchangeRate::lastMinute(std::chrono::system_clock::time_point now) const {
  const std::int64_t second = secondOf(now);
  std::uint64_t total = 0;
  for (const Second& slot : seconds_)
    if (second - slot.at.load(std::memory_order_relaxed) < 60) total += slot.exchanges.load(std::memory_order_relaxed);
  return total;
}

std::string logTime(std::chrono::system_clock::time_point t) {
  using namespace std::chrono;
  const auto ms = duration_cast<milliseconds>(t.time_since_epoch()).count();
  const std::time_t seconds = std::time_t(ms / 1000);
  std::tm utc{};
  gmtime_r(&seconds, &utc);
  char text[64];
  std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02d.%03dZ", utc.tm_year + 1900, utc.tm_mon + 1,
                utc.tm_mday, utc.tm_hour, utc.tm_min, utc.tm_sec, int(ms % 1000));
  return text;
}

std::string printable(std::string_view text, std::size_t maxBytes) {
  std::string out;
  out.reserve(std::min(text.size(), maxBytes));
  for (char c : text) {
    const auto u = static_cast<unsigned char>(c);
    out += (u < 0x20 || u == 0x7F) ? ' ' : c;
  }
  if (out.size() > maxBytes) {
    std::size_t cut = maxBytes;
    while (cut > 0 && (static_cast<unsigned char>(out[cut]) & 0xC0) == 0x80) --cut;
    out.resize(cut);
    out += "...";
  }
  return out;
}

std::string quotedText(std::string_view text, std::size_t maxBytes) {
  std::string out = "\"";
  for (char c : printable(text, maxBytes)) {
    if (c == '"' || c == '\\') out += '\\';
    out += c;
  }
  out += '"';
  return out;
}

}  // namespace storeserver
