#include "server/admin/keyset.h"

#include <algorithm>

namespace storeserver::admin {

namespace {

std::string joined(const std::vector<std::string>& columns, const char* suffix) {
  std::string out;
  for (const std::string& c : columns) out += (out.empty() ? "" : ", ") + c + suffix;
  return out;
}

bool backwards(PageFrom from) { return from == PageFrom::Before || from == PageFrom::Last; }

}  // namespace

KeyedPage fetchPage(storage::Connection& db, const KeyedList& list, const PageAsk& ask) {
  std::string sql = list.select;
  std::vector<storage::Value> params = list.params;
  const bool keyed = ask.from == PageFrom::After || ask.from == PageFrom::Before;
  if (keyed) {
    if (ask.key.size() != list.keyColumns.size()) throw storage::Error("a page key of the wrong size");
    std::string marks;
    for (std::size_t i = 0; i < ask.key.size(); ++i) marks += i ? ", ?" : "?";
    // A row value compares column by column, as the index is ordered.
    sql += " AND (" + joined(list.keyColumns, "") + (ask.from == PageFrom::After ? ") > (" : ") < (") + marks + ")";
    params.insert(params.end(), ask.key.begin(), ask.key.end());
  }
  const bool back = backwards(ask.from);
  sql += " ORDER BY " + joined(list.keyColumns, back ? " DESC" : "") + " LIMIT " + std::to_string(ask.size + 1);

  KeyedPage page;
  page.rows = db.query(sql, params);
  const bool more = page.rows.size() > ask.size;
  if (more) page.rows.pop_back();
  if (back) std::ranges::reverse(page.rows);
  (back ? page.earlier : page.later) = more;
  (back ? page.later : page.earlier) = keyed;
  return page;
}

storage::Row keyOf(const KeyedList& list, const storage::Row& row) {
  return storage::Row(row.begin(), row.begin() + std::ptrdiff_t(list.keyColumns.size()));
}

}  // namespace storeserver::admin
