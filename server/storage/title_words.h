#pragma once
// The title-word index that book finding searches by prefix
// (book_title_words). It lives with the schema, as a schema step rebuilt it
// when the way words are folded changed.
#include <string>
#include <string_view>
#include <vector>

#include "server/storage/storage.h"

namespace storeserver::storage {

// Title words as the index keeps them: letter case and accents folded, split
// at anything that is neither letter nor digit, each distinct word once.
std::vector<std::string> titleWords(std::string_view title);
// The first text after every text that begins with prefix: words w with
// prefix <= w < prefixEnd(prefix) are exactly those beginning with it.
std::string prefixEnd(std::string_view prefix);

// The book's words as its title now has them.
void indexTitle(Connection& db, const std::string& itemId, std::string_view title);

// Every book's words afresh, for when the way words are folded changes.
void reindexAllTitles(Connection& db);

}  // namespace storeserver::storage
