#pragma once
// Dollar amounts over exact cents, read and written the same way by the
// handhelds and the server; no amount passes through a floating-point number.
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace wire {

// The most significant dollar digits an amount may have: more would not fit
// its cents in 64 bits. Leading zeros do not count ("0012.50" has two).
inline constexpr std::size_t kMaxDollarDigits = 16;

// Formats an amount of cents as the wire writes money: "12.50", "-3.05".
std::string formatCents(std::int64_t cents);

// Formats an amount of cents for a person to read: the dollar sign, and a
// comma between each three dollar digits ("$431,249.25", "-$3.50").
std::string formatMoney(std::int64_t cents);

// Formats a count for a person to read with the same separators: "221,000".
std::string formatCount(std::int64_t count);

// An amount as the wire carries it, exactly into cents: digits, then at most
// two after a point ("12", "12.5", "12.50", "12.", ".75", "0012.50"). No sign,
// blanks or other characters: "12.505", "1e3", "-3", " 12" and "abc" give
// nullopt, as does an amount of more than kMaxDollarDigits.
std::optional<std::int64_t> parseCents(std::string_view text);

// An amount as a clerk types it or a record field holds it: blanks around it,
// a "$" (and blanks) before it and a minus sign before the digits are allowed
// (" $7 " 700, "-0003.05" -305, "$-2" -200); the rest as parseCents.
std::optional<std::int64_t> readDollarAmount(std::string_view text);

}  // namespace wire
