#include "server/queries/adoption_item_code.h"

#include <algorithm>
#include <cctype>

namespace storeserver::queries {

namespace {

constexpr std::size_t kMaxSkuDigits = 8;

bool allDigits(std::string_view text) {
  return !text.empty() && std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; });
}

std::string_view trimmed(std::string_view text) {
  while (!text.empty() && text.front() == ' ') text.remove_prefix(1);
  while (!text.empty() && text.back() == ' ') text.remove_suffix(1);
  return text;
}

char isbn13CheckDigit(std::string_view first12) {
  int sum = 0;
  for (std::size_t i = 0; i < 12; ++i) sum += (first12[i] - '0') * (i % 2 == 0 ? 1 : 3);
  return char('0' + (10 - sum % 10) % 10);
}

bool isbn10Valid(std::string_view code) {
  int sum = 0;
  for (std::size_t i = 0; i < 10; ++i) {
    const char c = char(std::toupper(static_cast<unsigned char>(code[i])));
    const bool checkX = i == 9 && c == 'X';
    if (!checkX && (c < '0' || c > '9')) return false;
    sum += (checkX ? 10 : c - '0') * int(10 - i);
  }
  return sum % 11 == 0;
}

}  // namespace

std::optional<ItemCode> readItemCode(std::string_view code) {
  code = trimmed(code);
  if (allDigits(code) && code.size() <= kMaxSkuDigits) return ItemCode{std::stoll(std::string(code)), {}};

  std::string isbn;
  for (char c : code)
    if (c != '-') isbn += c;
  if (isbn.size() == 13 && allDigits(isbn) && isbn13CheckDigit(isbn) == isbn[12]) return ItemCode{std::nullopt, isbn};
  if (isbn.size() == 10 && isbn10Valid(isbn)) {
    std::string converted = "978" + isbn.substr(0, 9);
    converted += isbn13CheckDigit(converted);
    return ItemCode{std::nullopt, converted};
  }
  return std::nullopt;
}

}  // namespace storeserver::queries
