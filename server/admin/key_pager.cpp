#include "server/admin/key_pager.h"

#include <cctype>

namespace storeserver::admin {

namespace {

std::string keyFields(const KeyedList& list, const storage::Row& row) {
  std::string fields;
  for (std::size_t i = 0; i < list.keyColumns.size(); ++i) {
    const std::string text = list.numericKey ? std::to_string(storage::integerAt(row, i)) : storage::textAt(row, i);
    fields += "&k" + std::to_string(i) + "=" + urlEncoded(text);
  }
  return fields;
}

}  // namespace

PageAsk pageAskOf(const Fields& query, const KeyedList& list, std::size_t rows) {
  PageAsk ask;
  ask.size = rows;
  const std::string& from = query["from"];
  if (from == "last") ask.from = PageFrom::Last;
  if (from != "after" && from != "before") return ask;
  for (std::size_t i = 0; i < list.keyColumns.size(); ++i) {
    const std::string field = "k" + std::to_string(i);
    if (!list.numericKey) {
      ask.key.emplace_back(query[field]);
      continue;
    }
    const auto number = query.number(field);
    if (!number) return ask;  // a key no pager made: the first page
    ask.key.emplace_back(*number);
  }
  ask.from = from == "after" ? PageFrom::After : PageFrom::Before;
  return ask;
}

KeyedPage readPage(storage::Connection& db, const KeyedList& list, const Fields& query, View& view,
                   const std::string& base, std::size_t rows) {
  const KeyedPage page = fetchPage(db, list, pageAskOf(query, list, rows));
  View pager;
  if (page.earlier) {
    pager.set("first", base);
    pager.set("previous", base + "&from=before" + keyFields(list, page.rows.front()));
  }
  if (page.later) {
    pager.set("next", base + "&from=after" + keyFields(list, page.rows.back()));
    pager.set("last", base + "&from=last");
  }
  if (page.earlier || page.later) view.set("keyPager", pager);
  return page;
}

std::string urlEncoded(std::string_view text) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string out;
  for (unsigned char c : text) {
    if (std::isalnum(c) || c == '-' || c == '_' || c == '.' || c == '~') {
      out += char(c);
    } else {
      out += '%';
      out += kHex[c >> 4];
      out += kHex[c & 15];
    }
  }
  return out;
}

}  // namespace storeserver::admin
