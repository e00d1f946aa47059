#pragma once
// Figures of one load run: latency percentiles and how evenly handhelds were served.
#include <cstddef>
#include <chrono>
#include <cstdint>
#include <latch>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace loadstats {

// Nearest-rank percentile (0 < p <= 100) of latencies in microseconds, in
// milliseconds; 0 for no samples. Reorders the samples.
double percentileMs(std::vector<std::uint32_t>& micros, double p);
double maxMs(const std::vector<std::uint32_t>& micros);

// Requests per handheld: the least-served few, fewest first, and the count of
// the median handheld (the lower middle one when the number is even), so a
// connection the server starves stands out against a typical one.
struct Spread {
  std::vector<std::size_t> slowest;
  std::size_t median = 0;
};
Spread spread(std::vector<std::size_t> counts, std::size_t slowestWanted = 3);

// Handheld counts as the options take them, "1,8,64": each 1 to 4096;
// nullopt for anything else.
std::optional<std::vector<int>> parseCounts(const std::string& text);

// One handheld's answered requests (their latencies) and its failures.
struct Tally {
  std::vector<std::uint32_t> micros;
  std::size_t errors = 0;
  std::string firstError;
};

// Prints the table row of one run of all handhelds' tallies, lasting wall
// seconds: | label | handhelds | requests | per s | p50 | p99 | max | errors |,
// and the first error under it.
void printRow(const std::string& label, const std::string& handhelds, const std::vector<Tally>& tallies, double wall);

// Lets handhelds that have counted down ready and wait on go run together
// until deadline, seconds from now, then joins them; returns the wall seconds.
double runTogether(std::vector<std::thread>& handhelds, std::latch& ready, std::latch& go,
                   std::chrono::steady_clock::time_point& deadline, double seconds);

}  // namespace loadstats
