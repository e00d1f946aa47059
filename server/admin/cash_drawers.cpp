#include "server/admin/cash_drawers.h"

#include <algorithm>
#include <map>
#include <variant>

namespace storeserver::admin {

using storage::integerAt;
using storage::textAt;

namespace {

constexpr const char* kDrawerSelect =
    "SELECT drawer_id, store_num, day, buyer, start_cents, added_cents, taken_cents, counted_cents, closed_by,"
    " closed_at, paid_cents FROM cash_drawers";

Drawer drawerOf(const storage::Row& r) {
  Drawer d{integerAt(r, 0), integerAt(r, 1), textAt(r, 2), textAt(r, 3),    integerAt(r, 4), integerAt(r, 5),
           integerAt(r, 6), std::nullopt,    textAt(r, 8), integerAt(r, 9), integerAt(r, 10)};
  if (!std::holds_alternative<std::nullptr_t>(r.at(7))) d.countedCents = integerAt(r, 7);
  return d;
}

}  // namespace

DrawerFigures& DrawerFigures::operator+=(const DrawerFigures& other) {
  drawers += other.drawers;
  counted += other.counted;
  startCents += other.startCents;
  addedCents += other.addedCents;
  takenCents += other.takenCents;
  paidCents += other.paidCents;
  unpaidCents += other.unpaidCents;
  countedCents += other.countedCents;
  overShortCents += other.overShortCents;
  return *this;
}

DrawerFigures figuresOf(const Drawer& drawer, const BuyerCash& tickets) {
  DrawerFigures f;
  f.drawers = 1;
  f.startCents = drawer.startCents;
  f.addedCents = drawer.addedCents;
  f.takenCents = drawer.takenCents;
  f.paidCents = drawer.closed() ? drawer.paidAtClosingCents : tickets.paidCents;
  f.unpaidCents = tickets.openCents;
  if (drawer.countedCents) {
    f.counted = 1;
    f.countedCents = *drawer.countedCents;
    f.overShortCents = f.countedCents - f.expectedCents();
  }
  return f;
}

DrawerLine lineOf(storage::Connection& db, const Drawer& drawer) {
  DrawerLine line{drawer, {drawer.buyer}, {}};
  for (const BuyerCash& c : cashPerBuyer(db, drawer.store, drawer.day, drawer.day))
    if (c.buyer == drawer.buyer) line.tickets = c;
  line.figures = figuresOf(drawer, line.tickets);
  return line;
}

DaySheet daySheet(storage::Connection& db, std::int64_t store, const std::string& day) {
  // What each buyer paid out is read once, from the tickets' own index, as the Tickets page reads it.
  std::map<std::string, BuyerCash> cash;
  for (BuyerCash& c : cashPerBuyer(db, store, day, day)) cash.emplace(c.buyer, std::move(c));
  DaySheet sheet;
  for (const storage::Row& r :
       db.query(std::string(kDrawerSelect) + " WHERE store_num = ? AND day = ? ORDER BY buyer", {store, day})) {
    DrawerLine line{drawerOf(r), {}, {}};
    if (const auto found = cash.find(line.drawer.buyer); found != cash.end()) {
      line.tickets = found->second;
      cash.erase(found);
    }
    line.figures = figuresOf(line.drawer, line.tickets);
    sheet.totals += line.figures;
    sheet.drawers.push_back(std::move(line));
  }
  for (auto& [buyer, c] : cash)
    if (c.endedTickets + c.openTickets > 0) sheet.withoutDrawer.push_back(c);
  return sheet;
}

std::vector<std::string> buyersWithoutDrawer(storage::Connection& db, std::int64_t store, const DaySheet& sheet) {
  std::vector<std::string> names;
  for (const storage::Row& r :
       db.query("SELECT user_name FROM users WHERE store_num = ? AND can_buy = 1 AND active = 1", {store}))
    names.push_back(textAt(r, 0));
  for (const BuyerCash& c : sheet.withoutDrawer) names.push_back(c.buyer);
  std::erase_if(names, [&](const std::string& name) {
    return std::ranges::any_of(sheet.drawers, [&](const DrawerLine& l) { return l.drawer.buyer == name; });
  });
  std::ranges::sort(names);
  names.erase(std::unique(names.begin(), names.end()), names.end());
  return names;
}

std::optional<Drawer> findDrawer(storage::Connection& db, std::int64_t drawerId) {
  const storage::Rows rows = db.query(std::string(kDrawerSelect) + " WHERE drawer_id = ?", {drawerId});
  if (rows.empty()) return std::nullopt;
  return drawerOf(rows[0]);
}

std::vector<DrawerMove> movesOf(storage::Connection& db, std::int64_t drawerId) {
  std::vector<DrawerMove> moves;
  for (const storage::Row& r : db.query("SELECT moved_at, user_name, amount_cents, reason FROM cash_drawer_moves"
                                        " WHERE drawer_id = ? ORDER BY move_id",
                                        {drawerId}))
    moves.push_back({integerAt(r, 0), textAt(r, 1), integerAt(r, 2), textAt(r, 3)});
  return moves;
}

std::vector<std::pair<std::string, std::int64_t>> openTicketsOf(storage::Connection& db, const Drawer& drawer) {
  std::vector<std::pair<std::string, std::int64_t>> open;
  for (const storage::Row& r :
       db.query("SELECT receipt, total_cents FROM tickets WHERE store_num = ? AND opened_on = ? AND buyer = ?"
                " AND is_open = 1 AND line_count > 0 ORDER BY ticket_id",
                {drawer.store, drawer.day, drawer.buyer}))
    open.emplace_back(textAt(r, 0), integerAt(r, 1));
  return open;
}

}  // namespace storeserver::admin
