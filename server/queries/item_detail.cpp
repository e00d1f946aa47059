// sl_item_detail {session, code, store}, paged: the books matching a code as
// scanned or typed (see item_codes.h), in a stable order, one page of the
// server's page size at a time. The reply carries its page and page count; a
// page outside them, or no match, is an error sentence, never an empty page.
#include <algorithm>

#include "server/queries/book_checks.h"
#include "server/queries/item_codes.h"
#include "server/queries/query.h"
#include "server/queries/sellin_records.h"
#include "server/storage/title_words.h"
#include "wire/framing.h"
#include "wire/json_reader.h"
#include "wire/requests.h"
#include "wire/text.h"

namespace storeserver::queries {

using storage::integerAt;
using storage::textAt;

namespace {

// The books a code names: the tables to read (books as b), the condition,
// and its parameters.
struct Match {
  std::string from;
  std::string where;
  std::vector<storage::Value> params;
  std::string noneSentence;
  std::string idsSql;  // title words: the matching item IDs, counted only up to the bound
  std::string order = "b.title, b.copyright DESC, b.item_id";
};

// More title-word matches than a clerk would page through: more words are asked for.
constexpr std::int64_t kMaxTitlePages = 30;

// A code names books by one column of theirs.
Match columnMatch(const char* where, storage::Value value, std::string noneSentence) {
  Match m;
  m.from = "books b";
  m.where = where;
  m.params.push_back(std::move(value));
  m.noneSentence = std::move(noneSentence);
  return m;
}

// A valid EAN-13 outside 978 and 979 is the barcode of some other product.
std::string noBookWithIsbnSentence(const std::string& isbn13, const std::string& typed) {
  if (isIsbn(isbn13)) return "No book has the ISBN " + typed + ".";
  return typed + " is not an ISBN but the barcode of another product: scan the book's ISBN, which begins with "
                 "978 or 979.";
}

// Matches of a prefix, counted up to a bound: enough to tell a rare word.
std::int64_t prefixMatches(storage::Connection& db, const std::string& word) {
  return integerAt(db.query("SELECT COUNT(*) FROM (SELECT item_id FROM book_title_words"
                            " WHERE word >= ? AND word < ? LIMIT 2000) w",
                            {word, storage::prefixEnd(word)})
                       .at(0),
                   0);
}

// The books keyed as typed come first, then those whose title has every word,
// each book once (m.key_rank 0 or 1). The rarest word drives; each other word
// is checked on the book's own words.
Match keyOrTitleWordMatch(storage::Connection& db, const ItemCode& code, const std::string& typed) {
  std::vector<std::pair<std::int64_t, std::string>> words;
  for (const std::string& word : code.words) words.emplace_back(prefixMatches(db, word), word);
  std::sort(words.begin(), words.end());
  Match m;
  std::string sql =
      "SELECT item_id, 0 AS key_rank FROM books WHERE book_key = ?"
      " UNION ALL SELECT DISTINCT w0.item_id, 1 FROM book_title_words w0 WHERE w0.word >= ? AND w0.word < ?";
  m.params.push_back(code.bookKey);
  for (std::size_t i = 0; i < words.size(); ++i) {
    if (i > 0)
      sql +=
          " AND EXISTS (SELECT 1 FROM book_title_words w WHERE w.item_id = w0.item_id AND w.word >= ? AND w.word < ?)";
    m.params.push_back(words[i].second);
    m.params.push_back(storage::prefixEnd(words[i].second));
  }
  sql += " AND w0.item_id NOT IN (SELECT item_id FROM books WHERE book_key = ?)";
  m.params.push_back(code.bookKey);
  // The matching words drive: CROSS JOIN keeps SQLite from walking every book.
  m.from = "(" + sql + ") m CROSS JOIN books b";
  m.idsSql = sql;
  m.where = "b.item_id = m.item_id";
  m.order = "m.key_rank, " + m.order;
  m.noneSentence = "No book title has words beginning with \"" + typed + "\".";
  return m;
}

Match matchFor(storage::Connection& db, const ItemCode& code, const std::string& typed) {
  switch (code.kind) {
    case ItemCode::Kind::Isbn:
      return columnMatch("b.isbn13 = ?", code.isbn13, noBookWithIsbnSentence(code.isbn13, typed));
    case ItemCode::Kind::Sku: return columnMatch("b.sku = ?", code.sku, "No book has the SKU " + typed + ".");
    default: return keyOrTitleWordMatch(db, code, typed);
  }
}

// Counts title-word matches only up to one past the bound.
std::int64_t countMatches(storage::Connection& db, const Match& match, std::int64_t bound) {
  if (match.idsSql.empty())
    return integerAt(db.query("SELECT COUNT(*) FROM " + match.from + " WHERE " + match.where, match.params).at(0), 0);
  std::vector<storage::Value> params = match.params;
  params.emplace_back(std::in_place_type<std::int64_t>, bound + 1);
  return integerAt(db.query("SELECT COUNT(*) FROM (" + match.idsSql + " LIMIT ?) m", params).at(0), 0);
}

}  // namespace

wire::Reply itemDetail(QueryContext& context, const nlohmann::json& arguments) {
  wire::JsonReader in(arguments, "sl_item_detail request");
  const auto session = in.integer("session", 1, wire::requests::kMaxSessionId);
  const auto typed = in.text("code", wire::kMaxQueryTextLength);
  const auto store = in.integer("store", 1, wire::requests::kMaxStoreNumber);
  if (!in.ok()) return unreadableReply(context, in.error());
  if (wire::toUtf16(*typed).size() > wire::requests::kMaxItemCodeLength)
    return errorReply(tooLongSentence("code or title search", wire::requests::kMaxItemCodeLength));
  if (wire::hasControls(*typed)) return errorReply("A code cannot hold control characters.");
  if (auto problem = openSessionProblem(context.db, *session, *store)) return errorReply(*problem);

  const ItemCode code = readItemCode(*typed);
  if (code.kind == ItemCode::Kind::Invalid) return errorReply(code.problem);
  const Match match = matchFor(context.db, code, std::string(*typed));

  const std::int64_t pageSize = context.services.itemPageSize;
  const std::int64_t bound = kMaxTitlePages * pageSize;
  const std::int64_t matches = countMatches(context.db, match, bound);
  if (matches == 0) return errorReply(match.noneSentence);
  if (matches > bound)
    return errorReply("More than " + std::to_string(bound) + " books have title words beginning with \"" +
                      std::string(*typed) + "\": type more of the title, or scan the book's code.");
  const std::int64_t pageCount = (matches + pageSize - 1) / pageSize;
  const std::int64_t page = context.page == -1 ? 1 : context.page;
  if (page < 1 || page > pageCount)
    return errorReply("There is no page " + std::to_string(page) + ": the books found fill " +
                      std::to_string(pageCount) + (pageCount == 1 ? " page." : " pages."));

  std::vector<storage::Value> params{*store};
  params.insert(params.end(), match.params.begin(), match.params.end());
  params.emplace_back(std::in_place_type<std::int64_t>, pageSize);
  params.emplace_back(std::in_place_type<std::int64_t>, (page - 1) * pageSize);
  const storage::Rows rows = context.db.query("SELECT " + kBookRecordColumns + " FROM " + match.from + " WHERE " +
                                                  match.where + " ORDER BY " + match.order + " LIMIT ? OFFSET ?",
                                              params);

  std::string records;
  for (const storage::Row& r : rows) {
    std::string error;
    const auto text = bookRecord(r, error);
    if (!text) return unsendableReply(context, "A book found", error);
    records += *text;
  }
  return {false, std::move(records), int(page), int(pageCount)};
}

}  // namespace storeserver::queries
