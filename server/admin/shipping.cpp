#include "server/admin/shipping.h"

#include <algorithm>
#include <map>

#include "server/admin/buying_report.h"
#include "wire/money.h"

namespace storeserver::admin {

using storage::integerAt;
using storage::textAt;

namespace {

// The purchaser's lines of ended tickets, as l, among its own books. Read
// through ticket_lines_by_purchaser: per book and price in ticket order.
constexpr const char* kEndedLines =
    " FROM ticket_lines l WHERE l.session_id = ? AND l.purchaser = ?"
    " AND l.item_id IN (SELECT item_id FROM book_purchasers WHERE session_id = ? AND purchaser = ?)"
    " AND l.ticket_id NOT IN (SELECT ticket_id FROM tickets WHERE is_open = 1 OR is_voided = 1)";

std::vector<storage::Value> endedLineParams(std::int64_t session, const std::string& purchaser) {
  return {session, purchaser, session, purchaser};
}

}  // namespace

PackingList packingList(storage::Connection& db, std::int64_t session, const std::string& purchaser) {
  PackingList list;
  for (const storage::Row& r :
       db.query("SELECT b.isbn13, b.title, g.copies, g.price_cents FROM (SELECT l.item_id, l.price_cents,"
                " SUM(l.qty) AS copies" +
                    std::string(kEndedLines) +
                    " GROUP BY l.item_id, l.price_cents HAVING SUM(l.qty) <> 0) g"
                    " JOIN books b ON b.item_id = g.item_id ORDER BY b.title, b.isbn13, g.item_id, g.price_cents",
                endedLineParams(session, purchaser))) {
    list.rows.push_back({textAt(r, 0), textAt(r, 1), integerAt(r, 2), integerAt(r, 3)});
    list.copies += list.rows.back().copies;
    list.totalCents += list.rows.back().totalCents();
  }
  return list;
}

KeyedList labelLines(std::int64_t session, const std::string& purchaser) {
  // Ticket by ticket, so a page reads its own lines and stops, where the
  // purchaser's index would have every line read and sorted.
  return {"SELECT t.ticket_id, l.line, t.receipt, b.isbn13, b.title, l.qty, l.item_id, l.price_cents"
          " FROM tickets t CROSS JOIN ticket_lines l JOIN books b ON b.item_id = l.item_id"
          " WHERE l.ticket_id = t.ticket_id AND l.session_id = ? AND l.purchaser = ? AND l.qty > 0"
          " AND t.is_open = 0 AND t.is_voided = 0"
          " AND l.item_id IN (SELECT item_id FROM book_purchasers WHERE session_id = ? AND purchaser = ?)",
          endedLineParams(session, purchaser),
          {"t.ticket_id", "l.line"},
          true};
}

LabelPage labelsOf(storage::Connection& db, std::int64_t session, const std::string& purchaser,
                   const storage::Rows& lines) {
  // Per book and price: the copies it keeps, and those bought before the
  // page's first line.
  std::vector<storage::Value> params{std::int64_t(0), std::int64_t(0)};
  if (!lines.empty()) params = {lines[0][0], lines[0][1]};
  const std::vector<storage::Value> ended = endedLineParams(session, purchaser);
  params.insert(params.end(), ended.begin(), ended.end());
  std::map<std::pair<std::string, std::int64_t>, std::pair<std::int64_t, std::int64_t>> books;
  LabelPage page;
  for (const storage::Row& r : db.query("SELECT l.item_id, l.price_cents, SUM(l.qty), SUM(CASE WHEN l.qty > 0 AND"
                                        " (l.ticket_id, l.line) < (?, ?) THEN l.qty ELSE 0 END)" +
                                            std::string(kEndedLines) + " GROUP BY l.item_id, l.price_cents",
                                        params)) {
    const std::int64_t kept = std::max<std::int64_t>(integerAt(r, 2), 0), earlier = integerAt(r, 3);
    books[{textAt(r, 0), integerAt(r, 1)}] = {kept, earlier};
    page.before += std::min(kept, earlier);
    page.total += kept;
  }
  for (const storage::Row& r : lines) {
    auto& [kept, earlier] = books[{textAt(r, 6), integerAt(r, 7)}];
    const std::int64_t qty = integerAt(r, 5), copies = std::clamp<std::int64_t>(kept - earlier, 0, qty);
    earlier += qty;
    page.labels.insert(page.labels.end(), static_cast<std::size_t>(copies), {textAt(r, 3), textAt(r, 4), textAt(r, 2)});
  }
  return page;
}

std::string packingCsv(const PackingList& list) {
  std::string csv = "ISBN,Title,Quantity,Price,Total\r\n";
  for (const PackingRow& row : list.rows)
    csv += csvField(row.isbn) + "," + csvField(row.title) + "," + std::to_string(row.copies) + "," +
           wire::formatCents(row.priceCents) + "," + wire::formatCents(row.totalCents()) + "\r\n";
  return csv;
}

}  // namespace storeserver::admin
