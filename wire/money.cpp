#include "wire/money.h"

#include <algorithm>

namespace wire {

namespace {

constexpr std::string_view kBlanks = " \t\n\v\f\r";

bool allDigits(std::string_view s) {
  return std::all_of(s.begin(), s.end(), [](char c) { return c >= '0' && c <= '9'; });
}

std::string_view withoutBlanks(std::string_view text) {
  const std::size_t first = text.find_first_not_of(kBlanks);
  if (first == std::string_view::npos) return {};
  return text.substr(first, text.find_last_not_of(kBlanks) - first + 1);
}

// A comma between each three digits of a run of digits.
std::string grouped(std::string_view digits) {
  std::string out;
  out.reserve(digits.size() + digits.size() / 3);
  for (std::size_t i = 0; i < digits.size(); ++i) {
    if (i > 0 && (digits.size() - i) % 3 == 0) out += ',';
    out += digits[i];
  }
  return out;
}

std::uint64_t magnitudeOf(std::int64_t n) { return n < 0 ? 0 - static_cast<std::uint64_t>(n) : n; }

}  // namespace

std::string formatCents(std::int64_t cents) {
  const std::uint64_t magnitude = magnitudeOf(cents);
  std::string out = cents < 0 ? "-" : "";
  out += std::to_string(magnitude / 100);
  out += '.';
  out += char('0' + magnitude % 100 / 10);
  out += char('0' + magnitude % 10);
  return out;
}

std::string formatMoney(std::int64_t cents) {
  const std::string plain = formatCents(cents);
  const std::size_t digitsStart = cents < 0 ? 1 : 0;
  const std::string dollars = grouped(plain.substr(digitsStart, plain.size() - 3 - digitsStart));
  return (cents < 0 ? "-$" : "$") + dollars + plain.substr(plain.size() - 3);
}

std::string formatCount(std::int64_t count) {
  return (count < 0 ? "-" : "") + grouped(std::to_string(magnitudeOf(count)));
}

std::optional<std::int64_t> parseCents(std::string_view text) {
  const std::size_t point = text.find('.');
  std::string_view dollars = text.substr(0, point);
  const std::string_view fraction = point == std::string_view::npos ? std::string_view() : text.substr(point + 1);
  if (fraction.size() > 2 || !allDigits(dollars) || !allDigits(fraction) || dollars.size() + fraction.size() == 0)
    return std::nullopt;
  dollars.remove_prefix(std::min(dollars.find_first_not_of('0'), dollars.size()));
  if (dollars.size() > kMaxDollarDigits) return std::nullopt;
  std::int64_t cents = 0;
  for (char c : dollars) cents = cents * 10 + (c - '0');
  cents *= 100;
  if (!fraction.empty()) cents += (fraction[0] - '0') * 10 + (fraction.size() > 1 ? fraction[1] - '0' : 0);
  return cents;
}

std::optional<std::int64_t> readDollarAmount(std::string_view text) {
  text = withoutBlanks(text);
  if (text.starts_with('$')) text = withoutBlanks(text.substr(1));
  const bool negative = text.starts_with('-');
  if (negative) text.remove_prefix(1);
  const std::optional<std::int64_t> cents = parseCents(text);
  if (!cents) return std::nullopt;
  return negative ? -*cents : *cents;
}

}  // namespace wire
