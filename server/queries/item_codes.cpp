#include "server/queries/item_codes.h"

#include <algorithm>
#include <cctype>

#include "server/storage/title_words.h"

namespace storeserver::queries {

namespace {

bool allDigits(std::string_view s) {
  return std::all_of(s.begin(), s.end(), [](char c) { return c >= '0' && c <= '9'; });
}

// The length of an ISBN with one character that is no digit: a misread or
// mistyped code, not words of a title.
bool looksLikeMistypedIsbn(std::string_view compact) {
  return (compact.size() == 10 || compact.size() == 13) &&
         std::count_if(compact.begin(), compact.end(), [](char c) { return c < '0' || c > '9'; }) == 1;
}

ItemCode invalid(std::string sentence) {
  ItemCode code;
  code.problem = std::move(sentence);
  return code;
}

ItemCode isbn(std::string digits) {
  ItemCode code;
  code.kind = ItemCode::Kind::Isbn;
  code.isbn13 = std::move(digits);
  return code;
}

// 13 digits: an ISBN-13 (978, 979) or another EAN-13; both carry the same check digit.
ItemCode fromEan13(std::string_view ean, std::string_view typed) {
  if (isbn13CheckDigit(ean.substr(0, 12)) != ean[12])
    return invalid(std::string(isIsbn(ean) ? "The ISBN " : "The EAN ") + std::string(typed) +
                   " has a wrong check digit: check the code or type it again.");
  return isbn(std::string(ean));
}

ItemCode fromIsbn10(std::string_view isbn10, std::string_view typed) {
  if (isbn10CheckDigit(isbn10.substr(0, 9)) != isbn10[9])
    return invalid("The ISBN " + std::string(typed) + " has a wrong check digit: check the code or type it again.");
  std::string digits = "978" + std::string(isbn10.substr(0, 9));
  digits += isbn13CheckDigit(digits);
  return isbn(std::move(digits));
}

ItemCode fromDigits(const std::string& digits, std::string_view typed) {
  switch (digits.size()) {
    case 13: return fromEan13(digits, typed);
    case 15:  // EAN-13 and a 2-digit add-on (a periodical's number)
    case 18:  // EAN-13 and a 5-digit add-on (price): the add-on names no book
      return fromEan13(std::string_view(digits).substr(0, 13), typed);
    case 10: return fromIsbn10(digits, typed);
    default: break;
  }
  if (digits.size() <= 8) {
    ItemCode code;
    code.kind = ItemCode::Kind::Sku;
    code.sku = std::stoll(digits);
    return code;
  }
  return invalid("The code " + std::string(typed) +
                 " is neither an ISBN, an EAN nor a SKU: check the code or type it again.");
}

}  // namespace

bool isIsbn(std::string_view ean13) { return ean13.starts_with("978") || ean13.starts_with("979"); }

char isbn13CheckDigit(std::string_view twelveDigits) {
  int sum = 0;
  for (std::size_t i = 0; i < 12; ++i) sum += (twelveDigits[i] - '0') * (i % 2 == 0 ? 1 : 3);
  return char('0' + (10 - sum % 10) % 10);
}

char isbn10CheckDigit(std::string_view nineDigits) {
  int sum = 0;
  for (std::size_t i = 0; i < 9; ++i) sum += (nineDigits[i] - '0') * int(10 - i);
  const int check = (11 - sum % 11) % 11;
  return check == 10 ? 'X' : char('0' + check);
}

ItemCode readItemCode(std::string_view text) {
  std::string compact;
  for (char c : text)
    if (c != ' ' && c != '-') compact += static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  if (compact.empty()) return invalid("Scan a code, or type a code or words of the title.");
  const std::string typed(
      text.substr(text.find_first_not_of(" "), text.find_last_not_of(" ") - text.find_first_not_of(" ") + 1));
  if (allDigits(compact)) return fromDigits(compact, typed);
  if (compact.size() == 10 && allDigits(compact.substr(0, 9)) && compact[9] == 'X') return fromIsbn10(compact, typed);
  if (looksLikeMistypedIsbn(compact))
    return invalid("The code " + typed +
                   " is not an ISBN: an ISBN has only digits, but for an X at the end of "
                   "10. Check the code or type it again.");

  ItemCode code;
  code.kind = ItemCode::Kind::Words;
  code.bookKey = compact;
  code.words = storage::titleWords(text);
  if (code.words.empty()) return invalid("Type a code, or letters or digits of the title.");
  if (code.words.size() > kMaxTitleWords)
    return invalid("Type at most " + std::to_string(kMaxTitleWords) + " words of the title.");
  return code;
}

}  // namespace storeserver::queries
