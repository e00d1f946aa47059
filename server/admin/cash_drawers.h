#pragma once
// A buyer's cash drawer of a day, counted against what the buyer's tickets of
// that day paid out: its starting cash, cash added or taken out with a reason,
// the cash counted at the end, and the manager who closed it, after which it
// is kept as signed.
#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "server/admin/ticket_office.h"
#include "server/storage/storage.h"

namespace storeserver::admin {

struct Drawer {
  std::int64_t id = 0;
  std::int64_t store = 0;
  std::string day;  // YYYY-MM-DD
  std::string buyer;
  std::int64_t startCents = 0;
  std::int64_t addedCents = 0;
  std::int64_t takenCents = 0;
  std::optional<std::int64_t> countedCents;  // nullopt: not counted yet
  std::string closedBy;                      // empty: open
  std::int64_t closedAtMs = 0;
  std::int64_t paidAtClosingCents = 0;

  bool closed() const { return !closedBy.empty(); }
};

// A drawer's figures, or the sum of several drawers'.
struct DrawerFigures {
  std::int64_t drawers = 0;
  std::int64_t counted = 0;  // of them, drawers whose cash was counted
  std::int64_t startCents = 0;
  std::int64_t addedCents = 0;
  std::int64_t takenCents = 0;
  std::int64_t paidCents = 0;    // by the buyer's ended tickets; for a closed drawer, as they stood at closing
  std::int64_t unpaidCents = 0;  // on the buyer's open tickets: not paid yet
  std::int64_t countedCents = 0;
  std::int64_t overShortCents = 0;  // counted less expected, of the counted drawers

  std::int64_t expectedCents() const { return startCents + addedCents - takenCents - paidCents; }
  DrawerFigures& operator+=(const DrawerFigures& other);
};

DrawerFigures figuresOf(const Drawer& drawer, const BuyerCash& tickets);

struct DrawerLine {
  Drawer drawer;
  BuyerCash tickets;  // the buyer's tickets of the day as they stand now
  DrawerFigures figures;
};

// The drawer beside its buyer's tickets of its day.
DrawerLine lineOf(storage::Connection& db, const Drawer& drawer);

// A store's drawers of a day, by buyer, with their totals; and the buyers
// whose tickets of that day paid out with no drawer opened for them.
struct DaySheet {
  std::vector<DrawerLine> drawers;
  std::vector<BuyerCash> withoutDrawer;
  DrawerFigures totals;
};
DaySheet daySheet(storage::Connection& db, std::int64_t store, const std::string& day);

// Who may have a drawer opened on the sheet's day: the store's active buyers,
// and buyers whose tickets paid out without one; none that has one already.
std::vector<std::string> buyersWithoutDrawer(storage::Connection& db, std::int64_t store, const DaySheet& sheet);

std::optional<Drawer> findDrawer(storage::Connection& db, std::int64_t drawerId);

// Cash added (a positive amount) or taken out (a negative one).
struct DrawerMove {
  std::int64_t atMs = 0;
  std::string userName;
  std::int64_t amountCents = 0;
  std::string reason;
};
std::vector<DrawerMove> movesOf(storage::Connection& db, std::int64_t drawerId);

// The receipts and totals of the buyer's tickets of the day still open with books.
std::vector<std::pair<std::string, std::int64_t>> openTicketsOf(storage::Connection& db, const Drawer& drawer);

}  // namespace storeserver::admin
