#pragma once
// What a code as scanned or typed at the buyback counter names: an ISBN (13
// digits, 10 digits with its check digit, or the EAN on the back cover with a
// price add-on), the store's SKU, or a book key / words of the title.
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace storeserver::queries {

inline constexpr std::size_t kMaxTitleWords = 8;

struct ItemCode {
  enum class Kind { Isbn, Sku, Words, Invalid };
  Kind kind = Kind::Invalid;
  std::string isbn13;              // Isbn: 13 digits
  std::int64_t sku = 0;            // Sku
  std::string bookKey;             // Words: the text as a book key (upper case, no blanks or hyphens)
  std::vector<std::string> words;  // Words: folded prefixes, each to begin a word of the title
  std::string problem;             // Invalid: a sentence for the clerk
};

ItemCode readItemCode(std::string_view text);

// Whether an EAN-13 is an ISBN: books' EANs begin with 978 or 979.
bool isIsbn(std::string_view ean13);

// Check digits, from the digits before them.
char isbn13CheckDigit(std::string_view twelveDigits);
char isbn10CheckDigit(std::string_view nineDigits);  // '0'..'9' or 'X'

}  // namespace storeserver::queries
