#include "load_stats.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>

namespace loadstats {

double percentileMs(std::vector<std::uint32_t>& micros, double p) {
  if (micros.empty()) return 0;
  // p * n first: 99 * 100 / 100 is exactly 99, 0.99 * 100 need not be.
  const double rank = std::ceil(p * double(micros.size()) / 100.0);
  const std::size_t index = std::min(micros.size() - 1, std::size_t(std::max(1.0, rank)) - 1);
  std::nth_element(micros.begin(), micros.begin() + std::ptrdiff_t(index), micros.end());
  return micros[index] / 1000.0;
}

double maxMs(const std::vector<std::uint32_t>& micros) {
  return micros.empty() ? 0 : *std::max_element(micros.begin(), micros.end()) / 1000.0;
}

Spread spread(std::vector<std::size_t> counts, std::size_t slowestWanted) {
  Spread result;
  if (counts.empty()) return result;
  std::sort(counts.begin(), counts.end());
  result.slowest.assign(counts.begin(), counts.begin() + std::ptrdiff_t(std::min(slowestWanted, counts.size())));
  result.median = counts[(counts.size() - 1) / 2];
  return result;
}

std::optional<std::vector<int>> parseCounts(const std::string& text) {
  std::vector<int> values;
  std::size_t start = 0;
  while (start <= text.size()) {
    const std::size_t comma = std::min(text.find(',', start), text.size());
    const std::string item = text.substr(start, comma - start);
    char* end = nullptr;
    const long value = std::strtol(item.c_str(), &end, 10);
    if (item.empty() || *end != '\0' || value < 1 || value > 4096) return std::nullopt;
    values.push_back(int(value));
    start = comma + 1;
  }
  return values;
}

void printRow(const std::string& label, const std::string& handhelds, const std::vector<Tally>& tallies, double wall) {
  std::vector<std::uint32_t> all;
  std::size_t errors = 0;
  std::string firstError;
  for (const Tally& t : tallies) {
    all.insert(all.end(), t.micros.begin(), t.micros.end());
    errors += t.errors;
    if (firstError.empty()) firstError = t.firstError;
  }
  const std::size_t requests = all.size();
  std::printf("| %s | %s | %zu | %.0f | %.3f | %.3f | %.3f | %zu |\n", label.c_str(), handhelds.c_str(), requests,
              double(requests) / wall, percentileMs(all, 50), percentileMs(all, 99), maxMs(all), errors);
  if (!firstError.empty()) std::printf("  first error: %s\n", firstError.c_str());
  std::fflush(stdout);
}

double runTogether(std::vector<std::thread>& handhelds, std::latch& ready, std::latch& go,
                   std::chrono::steady_clock::time_point& deadline, double seconds) {
  using Clock = std::chrono::steady_clock;
  ready.wait();
  const auto start = Clock::now();
  deadline = start + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(seconds));
  go.count_down();
  for (std::thread& t : handhelds) t.join();
  return std::chrono::duration<double>(Clock::now() - start).count();
}

}  // namespace loadstats
