#include "server/log.h"

#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <ctime>

#include "wire/text.h"

namespace storeserver {

namespace {
// How long the log thread lets lines gather before writing them in one call.
// Callers never wake it, so a busy server's lines cost no system call but the
// log thread's own; an idle server's log thread wakes ever more rarely, at
// most kLongestGather apart.
constexpr auto kGatherTime = std::chrono::milliseconds(5);
constexpr auto kLongestGather = std::chrono::milliseconds(250);
// Lines held for a descriptor that falls behind; beyond it, callers wait.
constexpr std::size_t kMaxPendingBytes = 1 << 20;

void writeAll(int fd, std::string_view text) {
  while (!text.empty()) {
    const ssize_t n = ::write(fd, text.data(), text.size());
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return;  // nowhere to log to: the answers matter more
    text.remove_prefix(std::size_t(n));
  }
}
}  // namespace

Logger::Logger(Sink sink, int fd) : sink_(std::move(sink)), fd_(fd) {
  if (!sink_) thread_ = std::thread([this] { writeGathered(); });
}

Logger::~Logger() {
  if (!thread_.joinable()) return;
  {
    std::lock_guard lock(mutex_);
    stopping_ = true;
  }
  linesWaiting_.notify_one();
  thread_.join();
}

void Logger::write(std::string_view line) {
  if (line.find(" problems=") != std::string_view::npos) {
    std::lock_guard lock(problemsMutex_);
    problems_.emplace_front(line);
    if (problems_.size() > kProblemsKept) problems_.pop_back();
  }
  if (sink_) return sink_(line);
  std::unique_lock lock(mutex_);
  if (pending_.size() >= kMaxPendingBytes) {
    linesWaiting_.notify_one();
    roomFreed_.wait(lock, [this] { return pending_.size() < kMaxPendingBytes; });
  }
  pending_.append(line).push_back('\n');
}

void Logger::writeGathered() {
  std::string batch;
  auto gather = std::chrono::milliseconds(kGatherTime);
  std::unique_lock lock(mutex_);
  while (!stopping_ || !pending_.empty()) {
    linesWaiting_.wait_for(lock, gather, [this] { return stopping_ || pending_.size() >= kMaxPendingBytes; });
    gather = pending_.empty() ? std::min(gather * 2, kLongestGather) : kGatherTime;
    batch.swap(pending_);
    roomFreed_.notify_all();
    lock.unlock();
    writeAll(fd_, batch);
    batch.clear();
    lock.lock();
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
  // Every exchange logs its time: the date and second are formatted once per second and thread.
  thread_local std::int64_t formattedSecond = -1;
  thread_local char secondText[64];  // 2024-05-01T09:30:00.
  if (ms / 1000 != formattedSecond) {
    formattedSecond = ms / 1000;
    const std::time_t seconds = std::time_t(formattedSecond);
    std::tm utc{};
    gmtime_r(&seconds, &utc);
    std::snprintf(secondText, sizeof secondText, "%04d-%02d-%02dT%02d:%02d:%02d.", utc.tm_year + 1900, utc.tm_mon + 1,
                  utc.tm_mday, utc.tm_hour, utc.tm_min, utc.tm_sec);
  }
  const int milli = int(ms % 1000);
  std::string text = secondText;
  text += char('0' + milli / 100);
  text += char('0' + milli / 10 % 10);
  text += char('0' + milli % 10);
  text += 'Z';
  return text;
}

std::string printable(std::string_view text, std::size_t maxBytes) {
  std::string out = wire::blankHiddenCharacters(text);
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
