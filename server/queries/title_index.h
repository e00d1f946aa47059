#pragma once
// The title-word index that book finding searches by prefix (book_title_words).
#include <string>
#include <string_view>

#include "server/storage/storage.h"

namespace storeserver::queries {

// The book's words as its title now has them.
void indexTitle(storage::Connection& db, const std::string& itemId, std::string_view title);

// Every book's words afresh, for when the way words are folded changes.
void reindexAllTitles(storage::Connection& db);

}  // namespace storeserver::queries
