#include "server/queries/item_codes.h"

#include <algorithm>
#include <cctype>

#include "wire/text.h"

namespace storeserver::queries {

namespace {

bool allDigits(std::string_view s) {
  return std::all_of(s.begin(), s.end(), [](char c) { return c >= '0' && c <= '9'; });
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
  const bool bookland = ean.starts_with("978") || ean.starts_with("979");
  if (isbn13CheckDigit(ean.substr(0, 12)) != ean[12])
    return invalid(std::string(bookland ? "The ISBN " : "The EAN ") + std::string(typed) +
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

// Latin letters with accents, U+00C0 to U+017F, as their plain letters.
constexpr std::string_view kLatinFold[] = {
    // U+00C0
    "a", "a", "a", "a", "a", "a", "ae", "c", "e", "e", "e", "e", "i", "i", "i", "i",
    "d", "n", "o", "o", "o", "o", "o", "", "o", "u", "u", "u", "u", "y", "th", "ss",
    "a", "a", "a", "a", "a", "a", "ae", "c", "e", "e", "e", "e", "i", "i", "i", "i",
    "d", "n", "o", "o", "o", "o", "o", "", "o", "u", "u", "u", "u", "y", "th", "y",
    // U+0100
    "a", "a", "a", "a", "a", "a", "c", "c", "c", "c", "c", "c", "c", "c", "d", "d",
    "d", "d", "e", "e", "e", "e", "e", "e", "e", "e", "e", "e", "g", "g", "g", "g",
    "g", "g", "g", "g", "h", "h", "h", "h", "i", "i", "i", "i", "i", "i", "i", "i",
    "i", "i", "ij", "ij", "j", "j", "k", "k", "k", "l", "l", "l", "l", "l", "l", "l",
    "l", "l", "l", "n", "n", "n", "n", "n", "n", "n", "n", "n", "o", "o", "o", "o",
    "o", "o", "oe", "oe", "r", "r", "r", "r", "r", "r", "s", "s", "s", "s", "s", "s",
    "s", "s", "t", "t", "t", "t", "t", "t", "u", "u", "u", "u", "u", "u", "u", "u",
    "u", "u", "u", "u", "w", "w", "y", "y", "y", "z", "z", "z", "z", "z", "z", "s",
};

bool separates(char32_t c) {
  if (c < 0x80) return !std::isalnum(static_cast<unsigned char>(c));
  return (c >= 0x80 && c <= 0xBF) || c == 0xD7 || c == 0xF7 || (c >= 0x2000 && c <= 0x206F) ||
         (c >= 0x3000 && c <= 0x303F) || c == 0xFEFF || c == 0xFFFD;
}

bool folds(char32_t c) { return c < 0x80 || (c >= 0xC0 && c <= 0x17F); }

void appendFolded(std::string& word, char32_t c) {
  if (c < 0x80)
    word += static_cast<char>(std::tolower(static_cast<int>(c)));
  else
    word += kLatinFold[c - 0xC0];
}

}  // namespace

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
  const std::string typed(text.substr(text.find_first_not_of(" "), text.find_last_not_of(" ") -
                                                                       text.find_first_not_of(" ") + 1));
  if (allDigits(compact)) return fromDigits(compact, typed);
  if (compact.size() == 10 && allDigits(compact.substr(0, 9)) && compact[9] == 'X') return fromIsbn10(compact, typed);

  ItemCode code;
  code.kind = ItemCode::Kind::Words;
  code.bookKey = compact;
  code.words = titleWords(text);
  if (code.words.empty()) return invalid("Type a code, or letters or digits of the title.");
  if (code.words.size() > kMaxTitleWords)
    return invalid("Type at most " + std::to_string(kMaxTitleWords) + " words of the title.");
  return code;
}

std::vector<std::string> titleWords(std::string_view title) {
  std::vector<std::string> words;
  std::string word;
  auto endWord = [&] {
    if (!word.empty() && std::find(words.begin(), words.end(), word) == words.end()) words.push_back(word);
    word.clear();
  };
  const std::u16string units = wire::toUtf16(title);
  for (std::size_t i = 0; i < units.size(); ++i) {
    char32_t c = units[i];
    std::size_t width = 1;
    if (c >= 0xD800 && c <= 0xDBFF && i + 1 < units.size()) {
      c = 0x10000 + ((c - 0xD800) << 10) + (units[i + 1] - 0xDC00);
      width = 2;
    }
    if (separates(c)) {
      endWord();
    } else if (folds(c)) {
      appendFolded(word, c);
    } else {
      // Other scripts are kept as written: their case is not folded.
      word += wire::toUtf8(std::u16string_view(units).substr(i, width));
    }
    i += width - 1;
  }
  endWord();
  return words;
}

std::string prefixEnd(std::string_view prefix) {
  // U+10FFFF, the highest code point: every continuation of prefix sorts below it.
  return std::string(prefix) + "\xF4\x8F\xBF\xBF";
}

}  // namespace storeserver::queries
