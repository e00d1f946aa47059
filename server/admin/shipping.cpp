#include "server/admin/shipping.h"

#include <algorithm>
#include <iterator>
#include <span>

#include "server/admin/buying_report.h"
#include "wire/money.h"

namespace storeserver::admin {

using storage::integerAt;
using storage::textAt;

std::vector<BoughtLine> boughtLines(storage::Connection& db, std::int64_t session, const std::string& purchaser) {
  // From the purchaser's rows, so each book's lines are found by their index
  // rather than among every line of the session.
  std::vector<BoughtLine> out;
  for (const storage::Row& r :
       db.query("SELECT p.item_id, b.isbn13, b.title, t.receipt, l.qty, l.price_cents FROM book_purchasers p"
                " JOIN books b ON b.item_id = p.item_id"
                " JOIN ticket_lines l ON l.session_id = p.session_id AND l.item_id = p.item_id"
                " AND l.purchaser = p.purchaser"
                " JOIN tickets t ON t.ticket_id = l.ticket_id"
                " WHERE p.session_id = ? AND p.purchaser = ? AND t.is_open = 0 AND t.is_voided = 0"
                " ORDER BY b.title, b.isbn13, p.item_id, t.ticket_id, l.line",
                {session, purchaser}))
    out.push_back({textAt(r, 0), textAt(r, 1), textAt(r, 2), textAt(r, 3), integerAt(r, 4), integerAt(r, 5)});
  return out;
}

namespace {

// A book at one price, with the receipt of each copy left after its returns.
struct PriceGroup {
  PackingRow row;
  std::vector<std::string> receipts;
};

// One book's lines per price, in the order of their prices. A return does
// not say which copy it takes back: the one bought last before it at its
// price goes.
std::vector<PriceGroup> groupsOfBook(std::span<const BoughtLine> book) {
  std::vector<PriceGroup> groups;
  for (const BoughtLine& line : book) {
    auto same = std::ranges::find(groups, line.priceCents, [](const PriceGroup& g) { return g.row.priceCents; });
    if (same == groups.end())
      same = groups.insert(groups.end(), PriceGroup{PackingRow{line.isbn, line.title, 0, line.priceCents}, {}});
    same->row.copies += line.qty;
    std::vector<std::string>& receipts = same->receipts;
    if (line.qty > 0) receipts.insert(receipts.end(), static_cast<std::size_t>(line.qty), line.receipt);
    else receipts.resize(receipts.size() - std::min(receipts.size(), static_cast<std::size_t>(-line.qty)));
  }
  std::ranges::sort(groups, {}, [](const PriceGroup& g) { return g.row.priceCents; });
  return groups;
}

// Every book's groups; lines come book by book.
std::vector<PriceGroup> priceGroups(const std::vector<BoughtLine>& lines) {
  std::vector<PriceGroup> groups;
  for (auto start = lines.begin(); start != lines.end();) {
    const auto end = std::find_if(start, lines.end(), [&](const BoughtLine& l) { return l.itemId != start->itemId; });
    std::ranges::move(groupsOfBook({start, end}), std::back_inserter(groups));
    start = end;
  }
  return groups;
}

}  // namespace

PackingList packingListOf(const std::vector<BoughtLine>& lines) {
  PackingList list;
  for (const PriceGroup& g : priceGroups(lines)) {
    if (g.row.copies == 0) continue;
    list.rows.push_back(g.row);
    list.copies += g.row.copies;
    list.totalCents += g.row.totalCents();
  }
  return list;
}

std::vector<ShippingLabel> labelsOf(const std::vector<BoughtLine>& lines) {
  std::vector<ShippingLabel> labels;
  for (const PriceGroup& g : priceGroups(lines))
    for (const std::string& receipt : g.receipts) labels.push_back({g.row.isbn, g.row.title, receipt});
  return labels;
}

std::string packingCsv(const PackingList& list) {
  std::string csv = "ISBN,Title,Quantity,Price,Total\r\n";
  for (const PackingRow& row : list.rows)
    csv += csvField(row.isbn) + "," + csvField(row.title) + "," + std::to_string(row.copies) + "," +
           wire::formatCents(row.priceCents) + "," + wire::formatCents(row.totalCents()) + "\r\n";
  return csv;
}

}  // namespace storeserver::admin
