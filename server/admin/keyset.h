#pragma once
// A long list of the back office is read one page at a time, each page found
// from the key of the row beside it through an index: a page deep in a table
// of a hundred thousand rows costs what the first costs, where an OFFSET
// would read every row it skips, and no page loads the table whole.
#include <cstddef>
#include <string>
#include <vector>

#include "server/storage/storage.h"

namespace storeserver::admin {

enum class PageFrom { First, After, Before, Last };

struct PageAsk {
  PageFrom from = PageFrom::First;
  storage::Row key;  // After, Before: the key of the row the page follows or precedes
  std::size_t size = 50;
};

struct KeyedPage {
  storage::Rows rows;    // in key order
  bool earlier = false;  // rows come before the page
  bool later = false;    // rows come after it
};

// A list in the order of a unique key. select is "SELECT ... FROM ... WHERE
// ...", its first columns the key's, with no ORDER BY or LIMIT.
struct KeyedList {
  std::string select;
  std::vector<storage::Value> params;
  std::vector<std::string> keyColumns;
  bool numericKey = false;  // the key's columns are whole numbers, else texts
};

KeyedPage fetchPage(storage::Connection& db, const KeyedList& list, const PageAsk& ask);

// The key of a row of a page, to ask for the page beside it.
storage::Row keyOf(const KeyedList& list, const storage::Row& row);

}  // namespace storeserver::admin
