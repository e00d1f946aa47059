#include <gtest/gtest.h>

#include "load_stats.h"

namespace {

using loadstats::maxMs;
using loadstats::percentileMs;
using loadstats::spread;

TEST(Percentile, NearestRankOfUnsortedSamples) {
  std::vector<std::uint32_t> micros;
  for (std::uint32_t i = 100; i >= 1; --i) micros.push_back(i * 1000);  // 1..100 ms, backwards
  EXPECT_DOUBLE_EQ(percentileMs(micros, 50), 50.0);
  EXPECT_DOUBLE_EQ(percentileMs(micros, 99), 99.0);
  EXPECT_DOUBLE_EQ(percentileMs(micros, 100), 100.0);
  EXPECT_DOUBLE_EQ(maxMs(micros), 100.0);
}

TEST(Percentile, OneSlowRequestInAHundredIsNotTheP99) {
  std::vector<std::uint32_t> micros(99, 2000);
  micros.push_back(900000);
  EXPECT_DOUBLE_EQ(percentileMs(micros, 99), 2.0);
  EXPECT_DOUBLE_EQ(maxMs(micros), 900.0);
  micros.push_back(900000);  // two in 101: now it is
  EXPECT_DOUBLE_EQ(percentileMs(micros, 99), 900.0);
}

TEST(Percentile, SmallAndEmptySamples) {
  std::vector<std::uint32_t> none;
  EXPECT_EQ(percentileMs(none, 99), 0.0);
  EXPECT_EQ(maxMs(none), 0.0);
  std::vector<std::uint32_t> one{1500};
  EXPECT_DOUBLE_EQ(percentileMs(one, 1), 1.5);
  EXPECT_DOUBLE_EQ(percentileMs(one, 99), 1.5);
  std::vector<std::uint32_t> two{4000, 1000};
  EXPECT_DOUBLE_EQ(percentileMs(two, 50), 1.0);
  EXPECT_DOUBLE_EQ(percentileMs(two, 99), 4.0);
}

TEST(Spread, StarvedHandheldStandsOutAgainstTheMedian) {
  const auto s = spread({900, 12, 950, 0, 1000, 980, 940});
  EXPECT_EQ(s.slowest, (std::vector<std::size_t>{0, 12, 900}));
  EXPECT_EQ(s.median, 940u);
}

TEST(Spread, EvenCountTakesTheLowerMiddleAndFewHandheldsGiveFewerSlowest) {
  EXPECT_EQ(spread({40, 10, 30, 20}).median, 20u);
  const auto one = spread({7});
  EXPECT_EQ(one.slowest, (std::vector<std::size_t>{7}));
  EXPECT_EQ(one.median, 7u);
  EXPECT_TRUE(spread({}).slowest.empty());
}

TEST(ParseCounts, TakesOnlyCommaSeparatedCountsInRange) {
  using loadstats::parseCounts;
  EXPECT_EQ(parseCounts("1,8,64"), (std::vector<int>{1, 8, 64}));
  EXPECT_EQ(parseCounts("4096"), (std::vector<int>{4096}));
  for (const char* bad : {"", "0", "4097", "-1", "8,", ",8", "1,,8", "8x", "1 8"})
    EXPECT_EQ(parseCounts(bad), std::nullopt) << '"' << bad << '"';
}

}  // namespace
