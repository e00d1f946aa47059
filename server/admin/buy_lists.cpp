#include "server/admin/buy_lists.h"

#include <map>
#include <set>
#include <variant>

#include "server/admin/page.h"
#include "server/import/importer.h"
#include "wire/money.h"

namespace storeserver::admin {

using storage::integerAt;
using storage::textAt;

namespace {

BuyTerms termsAt(const storage::Row& r, std::size_t first) {
  return {integerAt(r, first) != 0 ? kNoLimit : integerAt(r, first + 1), integerAt(r, first + 2), textAt(r, first + 3),
          textAt(r, first + 4)};
}
constexpr const char* kTermsColumns = "p.no_limit, p.buy_qty, p.buy_price_cents, p.status, p.condition_text";

struct Existing {
  BuyTerms terms;
  std::int64_t bought = 0;
};

std::map<std::string, Existing> rowsOf(storage::Connection& db, std::int64_t session, const std::string& purchaser) {
  std::map<std::string, Existing> rows;
  for (const storage::Row& r : db.query(std::string("SELECT p.item_id, p.bought_qty, ") + kTermsColumns +
                                            " FROM book_purchasers p WHERE p.session_id = ? AND p.purchaser = ?",
                                        {session, purchaser}))
    rows[textAt(r, 0)] = {termsAt(r, 2), integerAt(r, 1)};
  return rows;
}

bool boughtAgainst(storage::Connection& db, std::int64_t session, const std::string& itemId,
                   const std::string& purchaser, std::int64_t bought) {
  return bought > 0 || !db.query("SELECT 1 FROM ticket_lines WHERE session_id = ? AND item_id = ? AND purchaser = ?"
                                 " LIMIT 1",
                                 {session, itemId, purchaser})
                            .empty();
}

// The row goes to the book of the ISBN the purchaser already buys, else to the first.
PlannedRow rowFor(storage::Connection& db, const BuyListLine& line, const std::map<std::string, Existing>& existing) {
  const storage::Rows books =
      db.query("SELECT item_id, title FROM books WHERE isbn13 = ? ORDER BY item_id", {line.isbn});
  const storage::Row* chosen = &books.at(0);
  for (const storage::Row& b : books)
    if (existing.contains(textAt(b, 0))) chosen = &b;
  const auto found = existing.find(textAt(*chosen, 0));
  const std::optional<BuyTerms> before = found == existing.end() ? std::nullopt : std::optional(found->second.terms);
  // A column the file leaves out leaves the row's text as it was.
  const BuyTerms terms{line.qty, line.priceCents, line.status.value_or(before ? before->status : ""),
                       line.condition.value_or(before ? before->condition : "")};
  return {line.line, line.isbn, textAt(*chosen, 0), textAt(*chosen, 1), std::int64_t(books.size()) - 1, terms, before};
}

// 1 when the purchaser is the store itself in the session, as its new rows are then too. Asked once per list: the
// purchaser's rows may be most of a large session's.
std::int64_t storesOwnIn(storage::Connection& db, std::int64_t session, const std::string& purchaser) {
  return integerAt(db.query("SELECT COALESCE(MAX(ost_purchaser), 0) FROM book_purchasers"
                            " WHERE session_id = ? AND purchaser = ?",
                            {session, purchaser})
                       .at(0),
                   0);
}

// A new row's other prices come from the book; a buyer may offer the price
// or less, so a new price becomes the listed one and an alternative above it
// falls to it. What the terms do not change (the listed price and the
// alternative with the same price, the condition flag with the same text)
// stays as the import or an earlier change left it.
void writeTerms(storage::Connection& db, std::int64_t session, const std::string& itemId, const std::string& purchaser,
                std::int64_t storesOwn, const BuyTerms& t) {
  const bool noLimit = t.qty == kNoLimit;
  db.execute(
      "INSERT INTO book_purchasers (session_id, item_id, purchaser, ost_purchaser, no_limit, buy_qty, bought_qty,"
      " buy_price_cents, alt_price_cents, retail_price_cents, listed_price_cents, status, condition_text,"
      " condition_check) VALUES (?, ?, ?, ?, ?, ?, 0, ?, ?,"
      " COALESCE((SELECT d.new_price_cents FROM book_products d JOIN books b ON b.sku = d.sku WHERE b.item_id = ?), 0),"
      " ?, ?, ?, ?)"
      " ON CONFLICT (session_id, item_id, purchaser) DO UPDATE SET no_limit = excluded.no_limit,"
      " buy_qty = excluded.buy_qty, buy_price_cents = excluded.buy_price_cents,"
      " listed_price_cents = CASE WHEN book_purchasers.buy_price_cents = excluded.buy_price_cents"
      " THEN book_purchasers.listed_price_cents ELSE excluded.listed_price_cents END,"
      " alt_price_cents = CASE WHEN book_purchasers.buy_price_cents = excluded.buy_price_cents"
      " OR book_purchasers.alt_price_cents < excluded.buy_price_cents"
      " THEN book_purchasers.alt_price_cents ELSE excluded.buy_price_cents END,"
      " status = excluded.status, condition_text = excluded.condition_text,"
      " condition_check = CASE WHEN book_purchasers.condition_text = excluded.condition_text"
      " THEN book_purchasers.condition_check ELSE excluded.condition_check END",
      {session, itemId, purchaser, storesOwn, std::int64_t(noLimit), noLimit ? 0 : t.qty, t.priceCents, t.priceCents,
       itemId, t.priceCents, t.status, t.condition, std::int64_t(!t.condition.empty())});
}

std::string counted(std::size_t n, const char* one, const char* many) {
  return wire::formatCount(std::int64_t(n)) + " " + (n == 1 ? one : many);
}

}  // namespace

std::string termsText(const BuyTerms& terms) {
  return (terms.qty == kNoLimit ? std::string("no limit") : wire::formatCount(terms.qty)) + " at " +
         wire::formatMoney(terms.priceCents) + (terms.status.empty() ? "" : ", " + terms.status);
}

std::string ListPlan::summary() const {
  std::size_t added = 0, changed = 0;
  for (const PlannedRow& r : rows) {
    added += !r.before;
    changed += r.before && *r.before != r.terms;
  }
  std::string text = counted(added, "new row", "new rows") + ", " + wire::formatCount(std::int64_t(changed)) +
                     " changed, " + wire::formatCount(std::int64_t(rows.size() - added - changed)) + " as it was";
  if (!keptItems.empty() || !removedItems.empty())
    text += "; " + counted(keptItems.size(), "row bought against buys", "rows bought against buy") + " no more, " +
            wire::formatCount(std::int64_t(removedItems.size())) + " removed";
  return text;
}

ListPlan planBuyList(storage::Connection& db, std::int64_t session, const std::string& purchaser, std::string_view file,
                     ListMerge merge) {
  std::string problems;
  const auto lines = readBuyList(db, file, problems);
  if (!lines) throw Refusal(problems);
  if (lines->empty())
    throw Refusal("The file holds no books; its first line names the columns, a book each line after.");
  return planBuyLines(db, session, purchaser, *lines, merge);
}

ListPlan planBuyLines(storage::Connection& db, std::int64_t session, const std::string& purchaser,
                      const std::vector<BuyListLine>& lines, ListMerge merge) {
  const std::map<std::string, Existing> existing = rowsOf(db, session, purchaser);
  ListPlan plan;
  std::set<std::string> listed;
  for (const BuyListLine& line : lines) {
    plan.rows.push_back(rowFor(db, line, existing));
    listed.insert(plan.rows.back().itemId);
  }
  if (merge == ListMerge::Replace)
    for (const auto& [itemId, row] : existing)
      if (!listed.contains(itemId))
        (boughtAgainst(db, session, itemId, purchaser, row.bought) ? plan.keptItems : plan.removedItems)
            .push_back(itemId);
  return plan;
}

void storeBuyList(storage::Connection& db, std::int64_t session, const std::string& purchaser, const ListPlan& plan) {
  const std::int64_t storesOwn = storesOwnIn(db, session, purchaser);
  for (const PlannedRow& row : plan.rows)
    if (row.before != row.terms) writeTerms(db, session, row.itemId, purchaser, storesOwn, row.terms);
  for (const std::string& itemId : plan.keptItems)
    db.execute("UPDATE book_purchasers SET no_limit = 0, buy_qty = 0 WHERE session_id = ? AND item_id = ?"
               " AND purchaser = ?",
               {session, itemId, purchaser});
  for (const std::string& itemId : plan.removedItems)
    db.execute("DELETE FROM book_purchasers WHERE session_id = ? AND item_id = ? AND purchaser = ?",
               {session, itemId, purchaser});
}

void lockPurchaserRows(storage::Connection& db, std::int64_t session, const std::string& purchaser) {
  if (db.dialect() != storage::Dialect::Postgres) return;
  db.query("SELECT 1 FROM book_purchasers WHERE session_id = ? AND (? = '' OR purchaser = ?)"
           " ORDER BY session_id, item_id, purchaser FOR UPDATE",
           {session, purchaser, purchaser});
}

std::optional<BuyRow> findBuyRow(storage::Connection& db, std::int64_t session, const std::string& itemId,
                                 const std::string& purchaser) {
  const storage::Rows rows = db.query(std::string("SELECT b.isbn13, b.title, p.bought_qty, ") + kTermsColumns +
                                          " FROM book_purchasers p JOIN books b ON b.item_id = p.item_id"
                                          " WHERE p.session_id = ? AND p.item_id = ? AND p.purchaser = ?",
                                      {session, itemId, purchaser});
  if (rows.empty()) return std::nullopt;
  return BuyRow{textAt(rows[0], 0), textAt(rows[0], 1), termsAt(rows[0], 3), integerAt(rows[0], 2)};
}

storage::Value formValue(std::string_view kind, std::string_view column, const std::string& label,
                         const std::string& text) {
  auto checked = checkedValue(kind, column, label, text);
  if (auto* reason = std::get_if<std::string>(&checked)) throw Refusal(*reason);
  return std::get<storage::Value>(std::move(checked));
}

BuyTerms termsFromForm(const std::string& quantity, const std::string& price, const std::string& status,
                       const std::string& condition) {
  return {std::get<std::int64_t>(formValue("buy-lists", "quantity", "The quantity", quantity)),
          std::get<std::int64_t>(formValue("buy-lists", "price", "The price", price)),
          std::get<std::string>(formValue("buy-lists", "status", "The status", status)), condition};
}

void setBuyTerms(storage::Connection& db, std::int64_t session, const std::string& itemId, const std::string& purchaser,
                 const BuyTerms& t) {
  writeTerms(db, session, itemId, purchaser, storesOwnIn(db, session, purchaser), t);
}

}  // namespace storeserver::admin
