// Dollar amounts read once for the handhelds and the server, exactly in cents.
#include <gtest/gtest.h>

#include <limits>

#include "wire/money.h"

namespace {

struct AmountCase {
  const char* text;
  std::optional<std::int64_t> onTheWire;      // parseCents: a request's price, an import's amount
  std::optional<std::int64_t> typedOrRecord;  // readDollarAmount: a typed price, a record's money field
};

// Where a comment says what a text "was", the earlier readers disagreed on it:
// the typed price's pattern, the rules' reading through a double of the
// leading number, and the server's. One reading now holds on both sides.
TEST(DollarAmounts, AreReadExactlyOnBothSidesAndAnythingElseIsNoAmount) {
  const AmountCase cases[] = {
      {"12.5", 1250, 1250},
      {"12.", 1200, 1200},
      {".75", 75, 75},
      {"00012.50", 1250, 1250},  // a record's field; leading zeros are no digits of the amount
      {"-0003.05", {}, -305},    // a negative total; the server reads no sign in a price
      {" $7 ", {}, 700},         // was 7.00 typed, 0 for the rules
      {"$ -2", {}, -200},
      {"12345678", 1234567800, 1234567800},  // was 0.00 typed: the price rules now name the highest
      {"9999999999999999.99", 999999999999999999, 999999999999999999},
      {"12.505", {}, {}},    // was 12.50 for the rules
      {"12.50abc", {}, {}},  // was 12.50 for the rules
      {"1e3", {}, {}},       // was 1000.00 for the rules
      {"+7", {}, {}},        // was 7.00 for the rules
      {"-$7", {}, {}},
      {"12,50", {}, {}},
      {"\xEF\xBC\x91\xEF\xBC\x92", {}, {}},  // full-width digits
      {"10000000000000000", {}, {}},         // 17 digits: its cents would not fit
      {"", {}, {}},
      {".", {}, {}},
      {"-", {}, {}},
  };
  for (const AmountCase& c : cases) {
    EXPECT_EQ(wire::parseCents(c.text), c.onTheWire) << '"' << c.text << '"';
    EXPECT_EQ(wire::readDollarAmount(c.text), c.typedOrRecord) << '"' << c.text << '"';
  }
  for (const std::int64_t cents : {0LL, 5LL, 1250LL, -305LL, 999999999999999999LL})
    EXPECT_EQ(wire::readDollarAmount(wire::formatCents(cents)), cents) << cents;
}

TEST(DollarAmounts, ReadByAPersonWithTheSignAndThousandsSeparators) {
  const std::pair<std::int64_t, const char*> cases[] = {
      {0, "$0.00"},
      {5, "$0.05"},
      {-350, "-$3.50"},
      {99999, "$999.99"},
      {100000, "$1,000.00"},
      {-100000, "-$1,000.00"},
      {43124925, "$431,249.25"},
      {123456789, "$1,234,567.89"},
      {std::numeric_limits<std::int64_t>::min(), "-$92,233,720,368,547,758.08"},
  };
  for (const auto& [cents, shown] : cases) EXPECT_EQ(wire::formatMoney(cents), shown) << cents;
}

TEST(Counts, ReadByAPersonWithThousandsSeparators) {
  const std::pair<std::int64_t, const char*> cases[] = {
      {0, "0"},          {999, "999"},        {1000, "1,000"},
      {-1000, "-1,000"}, {221000, "221,000"}, {std::numeric_limits<std::int64_t>::min(), "-9,223,372,036,854,775,808"},
  };
  for (const auto& [count, shown] : cases) EXPECT_EQ(wire::formatCount(count), shown) << count;
}

}  // namespace
