#pragma once
// What goes to a purchaser at the end of a buying session: the copies its
// ended tickets bought, as a packing list per book and price and as one
// label per copy, each naming the receipt of the ticket that bought it.
// Copies on open tickets are not yet bought, and a voided ticket's lines
// were taken back, so neither is shipped.
#include <cstdint>
#include <string>
#include <vector>

#include "server/storage/storage.h"

namespace storeserver::admin {

// One line of an ended ticket for the purchaser; qty < 0 returns copies.
struct BoughtLine {
  std::string itemId;
  std::string isbn;
  std::string title;
  std::string receipt;
  std::int64_t qty = 0;
  std::int64_t priceCents = 0;
};

// The purchaser's lines of the session's ended tickets, by title and book,
// then in the order the tickets were opened.
std::vector<BoughtLine> boughtLines(storage::Connection& db, std::int64_t session, const std::string& purchaser);

struct PackingRow {
  std::string isbn;
  std::string title;
  std::int64_t copies = 0;
  std::int64_t priceCents = 0;
  std::int64_t totalCents() const { return copies * priceCents; }
};

struct PackingList {
  std::vector<PackingRow> rows;
  std::int64_t copies = 0;
  std::int64_t totalCents = 0;
};

// A row per book and price with the copies left after the returns at that
// price; a book and price whose returns took back every copy has none.
PackingList packingListOf(const std::vector<BoughtLine>& lines);

struct ShippingLabel {
  std::string isbn;
  std::string title;
  std::string receipt;
};

// A label per copy of the packing list's rows, in their order. A return does
// not say which copy it takes back: the one bought last before it at its
// price goes.
std::vector<ShippingLabel> labelsOf(const std::vector<BoughtLine>& lines);

// The packing list as a CSV file: ISBN, title, quantity, price and the row's
// total, titles written so a spreadsheet never runs them as formulas.
std::string packingCsv(const PackingList& list);

}  // namespace storeserver::admin
