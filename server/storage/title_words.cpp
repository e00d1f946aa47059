#include "server/storage/title_words.h"

#include <algorithm>
#include <cctype>
#include <memory>
#include <stdexcept>

#include <unicode/normalizer2.h>
#include <unicode/translit.h>
#include <unicode/uchar.h>
#include <unicode/unistr.h>
#include <unicode/uscript.h>

namespace storeserver::storage {

namespace {

bool isAscii(std::string_view text) {
  return std::all_of(text.begin(), text.end(), [](char c) { return static_cast<unsigned char>(c) < 0x80; });
}

// Latin letters that keep no accent apart (Ł, Œ, ß) spelt in ASCII, as ICU's
// rules have them. A transliterator is not to be shared between threads:
// each worker has its own.
void spellLatinInAscii(icu::UnicodeString& text) {
  thread_local const std::unique_ptr<icu::Transliterator> latinAscii = [] {
    UErrorCode status = U_ZERO_ERROR;
    std::unique_ptr<icu::Transliterator> t(icu::Transliterator::createInstance("Latin-ASCII", UTRANS_FORWARD, status));
    if (U_FAILURE(status)) throw std::runtime_error(std::string("ICU cannot fold title words: ") + u_errorName(status));
    return t;
  }();
  latinAscii->transliterate(text);
}

bool hasLatinBeyondAscii(const icu::UnicodeString& text) {
  for (std::int32_t i = 0; i < text.length(); i = text.moveIndex32(i, 1)) {
    const UChar32 c = text.char32At(i);
    UErrorCode status = U_ZERO_ERROR;
    if (c >= 0x80 && uscript_getScript(c, &status) == USCRIPT_LATIN) return true;
  }
  return false;
}

// Case and accents folded with ICU's tables: compatibility forms (ﬁ, ½)
// decomposed, marks dropped, Latin spelt in ASCII, then Unicode case folding,
// so that Cyrillic and Greek fold as Latin does.
icu::UnicodeString folded(std::string_view text) {
  UErrorCode status = U_ZERO_ERROR;
  const icu::Normalizer2* nfkd = icu::Normalizer2::getNFKDInstance(status);
  const icu::UnicodeString decomposed =
      nfkd->normalize(icu::UnicodeString::fromUTF8(icu::StringPiece(text.data(), std::int32_t(text.size()))), status);
  if (U_FAILURE(status)) throw std::runtime_error(std::string("ICU cannot fold title words: ") + u_errorName(status));
  icu::UnicodeString bare;
  for (std::int32_t i = 0; i < decomposed.length(); i = decomposed.moveIndex32(i, 1))
    if (u_charType(decomposed.char32At(i)) != U_NON_SPACING_MARK) bare.append(decomposed.char32At(i));
  if (hasLatinBeyondAscii(bare)) spellLatinInAscii(bare);
  return bare.foldCase();
}

bool inWord(UChar32 c) { return (U_GET_GC_MASK(c) & (U_GC_L_MASK | U_GC_M_MASK | U_GC_N_MASK)) != 0; }

// Each distinct run of letters, marks and digits once.
std::vector<std::string> distinctWords(const icu::UnicodeString& text) {
  std::vector<std::string> words;
  std::int32_t begin = 0;
  auto endWord = [&](std::int32_t end) {
    std::string word;
    if (end > begin) text.tempSubStringBetween(begin, end).toUTF8String(word);
    if (!word.empty() && std::find(words.begin(), words.end(), word) == words.end()) words.push_back(std::move(word));
  };
  for (std::int32_t i = 0; i < text.length(); i = text.moveIndex32(i, 1)) {
    if (inWord(text.char32At(i))) continue;
    endWord(i);
    begin = text.moveIndex32(i, 1);
  }
  endWord(text.length());
  return words;
}

}  // namespace

std::vector<std::string> titleWords(std::string_view title) {
  // Plain ASCII, most titles, needs no tables: the same words, much faster.
  if (!isAscii(title)) return distinctWords(folded(title));
  std::string lower(title);
  for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return distinctWords(icu::UnicodeString::fromUTF8(lower));
}

std::string prefixEnd(std::string_view prefix) {
  // U+10FFFF, the highest code point: every continuation of prefix sorts below it.
  return std::string(prefix) + "\xF4\x8F\xBF\xBF";
}

void indexTitle(Connection& db, const std::string& itemId, std::string_view title) {
  db.execute("DELETE FROM book_title_words WHERE item_id = ?", {itemId});
  for (const std::string& word : titleWords(title))
    db.execute("INSERT INTO book_title_words (word, item_id) VALUES (?, ?)", {word, itemId});
}

void reindexAllTitles(Connection& db) {
  for (const Row& book : db.query("SELECT item_id, title FROM books")) indexTitle(db, textAt(book, 0), textAt(book, 1));
}

}  // namespace storeserver::storage
