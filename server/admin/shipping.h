#pragma once
// What goes to a purchaser at the end of a buying session: the copies its
// ended tickets bought, as a packing list per book and price and as one
// label per copy, each naming the receipt of the ticket that bought it.
// Copies on open tickets are not yet bought, and a voided ticket's lines
// were taken back, so neither is shipped.
#include <cstdint>
#include <string>
#include <vector>

#include "server/admin/keyset.h"
#include "server/storage/storage.h"

namespace storeserver::admin {

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

// A row per book and price, by title and book, then price, with the copies
// left after the returns at that price; a book and price whose returns took
// back every copy has none, and one whose returns took back more than the
// ended tickets bought shows the copies short.
PackingList packingList(storage::Connection& db, std::int64_t session, const std::string& purchaser);

// The purchaser's lines that bought copies on ended tickets, in the order
// their tickets and lines were written.
KeyedList labelLines(std::int64_t session, const std::string& purchaser);

// So many lines of labels a page: a sheet a browser prints in a few seconds.
inline constexpr std::size_t kLabelLinesPerPage = 300;

struct ShippingLabel {
  std::string isbn;
  std::string title;
  std::string receipt;
};

struct LabelPage {
  std::vector<ShippingLabel> labels;
  std::int64_t before = 0;  // the purchaser's labels before the page's
  std::int64_t total = 0;
};

// A label per copy of a page of labelLines, numbered among all the
// purchaser's. A return does not say which copy it takes back: the copies of
// its book at its price bought last go, so a book and price keeps the first
// copies bought, as many as its packing list row has.
LabelPage labelsOf(storage::Connection& db, std::int64_t session, const std::string& purchaser,
                   const storage::Rows& lines);

// The packing list as a CSV file: ISBN, title, quantity, price and the row's
// total, titles written so a spreadsheet never runs them as formulas.
std::string packingCsv(const PackingList& list);

}  // namespace storeserver::admin
