#include "load_stats.h"

#include <algorithm>
#include <cmath>

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

}  // namespace loadstats
