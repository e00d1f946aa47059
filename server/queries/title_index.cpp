#include "server/queries/title_index.h"

#include "server/queries/item_codes.h"

namespace storeserver::queries {

void indexTitle(storage::Connection& db, const std::string& itemId, std::string_view title) {
  db.execute("DELETE FROM book_title_words WHERE item_id = ?", {itemId});
  for (const std::string& word : titleWords(title))
    db.execute("INSERT INTO book_title_words (word, item_id) VALUES (?, ?)", {word, itemId});
}

void reindexAllTitles(storage::Connection& db) {
  for (const storage::Row& book : db.query("SELECT item_id, title FROM books"))
    indexTitle(db, storage::textAt(book, 0), storage::textAt(book, 1));
}

}  // namespace storeserver::queries
