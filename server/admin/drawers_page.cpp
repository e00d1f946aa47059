#include "server/admin/drawers_page.h"

#include <algorithm>

#include "server/admin/buying_report.h"
#include "server/admin/cash_drawers.h"
#include "server/admin/office_pages.h"
#include "server/log.h"
#include "server/queries/tickets.h"
#include "wire/money.h"

namespace storeserver::admin {

namespace {

using wire::formatMoney;

// More than any drawer holds, and far from what a sum of a chain's drawers could overflow.
constexpr std::int64_t kMaxDrawerCents = 100'000'000;

// A field of the form or, failing that, of the URL: a form posts to its page's own address.
const std::string& chosen(const PageContext& page, std::string_view name) {
  return page.form.has(name) ? page.form[name] : page.query[name];
}

std::string overShortText(std::int64_t cents) {
  if (cents == 0) return "even";
  return formatMoney(cents < 0 ? -cents : cents) + (cents < 0 ? " short" : " over");
}

std::string countedText(const DrawerFigures& f) {
  if (f.counted == 0) return "not counted";
  const std::string money = formatMoney(f.countedCents);
  if (f.counted == f.drawers) return money;
  return money + " (" + wire::formatCount(f.counted) + " of " + wire::formatCount(f.drawers) + " drawers)";
}

View figuresView(const DrawerFigures& f) {
  View v;
  v.set("start", formatMoney(f.startCents));
  v.set("added", formatMoney(f.addedCents));
  v.set("taken", formatMoney(f.takenCents));
  v.set("paid", formatMoney(f.paidCents));
  v.set("expected", formatMoney(f.expectedCents()));
  v.set("counted", countedText(f));
  v.set("overShort", f.counted == 0 ? std::string() : overShortText(f.overShortCents));
  v.set("unpaid", formatMoney(f.unpaidCents));
  return v;
}

std::string stateText(const Drawer& d) {
  return d.closed() ? "closed by " + d.closedBy + ", " + queries::tickets::minuteOf(d.closedAtMs) : "open";
}

std::string drawerName(const Drawer& d) { return "the drawer of " + d.buyer + " for " + d.day; }

View storeSheetView(std::int64_t store, const DaySheet& sheet) {
  View v;
  v.set("number", std::to_string(store));
  ViewList drawers;
  for (const DrawerLine& line : sheet.drawers) {
    View row;
    row.set("id", std::to_string(line.drawer.id));
    row.set("store", std::to_string(store));
    row.set("buyer", line.drawer.buyer);
    row.set("figures", figuresView(line.figures));
    row.set("state", stateText(line.drawer));
    drawers.push_back(row);
  }
  v.set("noDrawers", drawers.empty());
  v.set("drawers", drawers);
  v.set("totals", figuresView(sheet.totals));
  ViewList without;
  for (const BuyerCash& c : sheet.withoutDrawer)
    without.push_back(View("text", c.buyer + ": " + formatMoney(c.paidCents) + " paid out on " +
                                       std::to_string(c.endedTickets) + " ended tickets, " + formatMoney(c.openCents) +
                                       " not yet paid on " + std::to_string(c.openTickets) + " open ones"));
  v.set("withoutDrawer", without);
  return v;
}

// Whether the URL asks for every store's sheet, which only a manager of the whole chain sees.
bool wholeChainAsked(const PageContext& page) {
  if (page.query["sheet"] != "chain") return false;
  if (!page.manager.chainWide) throw Refusal("Only a manager of the whole chain sees the chain's cash drawers.");
  return true;
}

using StoreSheets = std::vector<std::pair<Store, DaySheet>>;

// The page's store's sheet of the day, or every store's.
StoreSheets sheetsOf(PageContext& page, const std::string& day, bool wholeChain) {
  StoreSheets sheets;
  for (const Store& s : page.manager.stores)
    if (wholeChain || s.number == page.store) sheets.emplace_back(s, daySheet(page.db, s.number, day));
  return sheets;
}

void describeSheet(PageContext& page, View& view, bool wholeChain) {
  const std::string day = chosenDay(page, chosen(page, "day"));
  view.set("day", day);
  view.set("chainWide", page.manager.chainWide);
  view.set("wholeChain", wholeChain);
  const StoreSheets sheets = sheetsOf(page, day, wholeChain);
  DrawerFigures total;
  ViewList stores;
  for (const auto& [store, sheet] : sheets) {
    total += sheet.totals;
    View group = storeSheetView(store.number, sheet);
    group.set("name", store.name);
    group.set("grouped", wholeChain);
    stores.push_back(group);
  }
  view.set("sheetStores", stores);
  view.set("total", figuresView(total));
  if (wholeChain || sheets.empty()) return;
  ViewList buyers;
  for (const std::string& name : buyersWithoutDrawer(page.db, page.store, sheets.front().second))
    buyers.push_back(View("name", name));
  view.set("mayOpen", !buyers.empty());
  view.set("buyers", buyers);
}

// Amounts as plain numbers for a spreadsheet; a buyer who paid out without a drawer has a line of what was paid.
std::string sheetCsv(const std::string& day, const StoreSheets& sheets) {
  using wire::formatCents;
  std::string csv =
      "Store,Day,Buyer,Start,Added,Taken out,Paid out,Expected,Counted,Over/short,Not yet paid,Closed by\r\n";
  for (const auto& [store, sheet] : sheets) {
    const std::string storeAndDay = std::to_string(store.number) + "," + day + ",";
    for (const DrawerLine& line : sheet.drawers) {
      const DrawerFigures& f = line.figures;
      csv += storeAndDay + csvField(line.drawer.buyer) + "," + formatCents(f.startCents) + "," +
             formatCents(f.addedCents) + "," + formatCents(f.takenCents) + "," + formatCents(f.paidCents) + "," +
             formatCents(f.expectedCents()) + "," +
             (f.counted != 0 ? formatCents(f.countedCents) + "," + formatCents(f.overShortCents) : ",") + "," +
             formatCents(f.unpaidCents) + "," + csvField(line.drawer.closedBy) + "\r\n";
    }
    for (const BuyerCash& c : sheet.withoutDrawer)
      csv += storeAndDay + csvField(c.buyer) + ",,,," + formatCents(c.paidCents) + ",,,," + formatCents(c.openCents) +
             ",\r\n";
  }
  return csv;
}

// The drawer the form or URL names, when it is one of the page's store.
Drawer chosenDrawer(const PageContext& page) {
  const std::string& named = chosen(page, "drawer");
  const auto id = page.form.has("drawer") ? page.form.number("drawer") : page.query.number("drawer");
  std::optional<Drawer> drawer = id ? findDrawer(page.db, *id) : std::nullopt;
  if (!drawer || drawer->store != page.store)
    throw Refusal("Store " + std::to_string(page.store) + " has no cash drawer " + printable(named) + ".");
  return *drawer;
}

void describeDrawer(PageContext& page, const Drawer& drawer, View& view) {
  const DrawerLine line = lineOf(page.db, drawer);
  View d = figuresView(line.figures);
  d.set("id", std::to_string(drawer.id));
  d.set("buyer", drawer.buyer);
  d.set("day", drawer.day);
  d.set("ended", wire::formatCount(line.tickets.endedTickets));
  d.set("state", stateText(drawer));
  d.set("open", !drawer.closed());
  if (drawer.closed() && line.tickets.paidCents != drawer.paidAtClosingCents)
    d.set("paidSince", formatMoney(line.tickets.paidCents));
  ViewList open;
  for (const auto& [receipt, cents] : openTicketsOf(page.db, drawer)) {
    View t;
    t.set("receipt", receipt);
    t.set("total", formatMoney(cents));
    open.push_back(t);
  }
  d.set("openTickets", open);
  ViewList moves;
  for (const DrawerMove& m : movesOf(page.db, drawer.id)) {
    View row;
    row.set("when", queries::tickets::minuteOf(m.atMs));
    row.set("who", m.userName);
    row.set("added", m.amountCents > 0 ? formatMoney(m.amountCents) : std::string());
    row.set("taken", m.amountCents < 0 ? formatMoney(-m.amountCents) : std::string());
    row.set("reason", m.reason);
    moves.push_back(row);
  }
  d.set("noMoves", moves.empty());
  d.set("moves", moves);
  view.set("drawer", d);
}

std::int64_t amountOf(const PageContext& page, std::string_view field, std::string_view what, std::int64_t least) {
  const auto cents = wire::readDollarAmount(page.form[field]);
  if (!cents || *cents < least || *cents >= kMaxDrawerCents)
    throw Refusal("Type " + std::string(what) + " in dollars and cents, from " + formatMoney(least) + " to " +
                  formatMoney(kMaxDrawerCents - 1) + ", such as 150.00.");
  return *cents;
}

// A drawer of the page's store that may still change.
Drawer openDrawerOf(const PageContext& page) {
  Drawer drawer = chosenDrawer(page);
  if (drawer.closed())
    throw Refusal("The drawer of " + drawer.buyer + " for " + drawer.day + " was closed by " + drawer.closedBy +
                  " on " + queries::tickets::minuteOf(drawer.closedAtMs) + "; nothing of it can change any more.");
  return drawer;
}

std::string openDrawer(PageContext& page, Audit& audit) {
  const std::string day = chosenDay(page, page.form["day"]);
  const std::string& buyer = page.form["buyer"];
  const std::int64_t start = amountOf(page, "start", "the starting cash", 0);
  const DaySheet sheet = daySheet(page.db, page.store, day);
  if (std::ranges::any_of(sheet.drawers, [&](const DrawerLine& l) { return l.drawer.buyer == buyer; }))
    throw Refusal("The drawer of " + buyer + " for " + day + " is open already.");
  if (std::ranges::count(buyersWithoutDrawer(page.db, page.store, sheet), buyer) == 0)
    throw Refusal("Store " + std::to_string(page.store) + " has no buyer named " + printable(buyer) + ".");
  page.db.execute("INSERT INTO cash_drawers (store_num, day, buyer, start_cents) VALUES (?, ?, ?, ?)",
                  {page.store, day, buyer, start});
  audit.record("open drawer", buyer + " " + day + ": starting cash " + formatMoney(start));
  return "The drawer of " + buyer + " for " + day + " is open with " + formatMoney(start) + ".";
}

std::string moveCash(PageContext& page, Audit& audit) {
  const Drawer drawer = openDrawerOf(page);
  const std::string& direction = page.form["direction"];
  if (direction != "add" && direction != "take") throw Refusal("Choose whether the cash is added or taken out.");
  const bool adding = direction == "add";
  const std::int64_t amount = amountOf(page, "amount", adding ? "the cash added" : "the cash taken out", 1);
  const std::string& reason = page.form["reason"];
  if (auto problem =
          reasonProblem(reason, "Give the reason the cash was " + std::string(adding ? "added." : "taken out.")))
    throw Refusal(*problem);
  page.db.execute("INSERT INTO cash_drawer_moves (drawer_id, moved_at, user_name, amount_cents, reason)"
                  " VALUES (?, ?, ?, ?, ?)",
                  {drawer.id, page.nowMs, page.manager.name, adding ? amount : -amount, reason});
  page.db.execute(adding ? "UPDATE cash_drawers SET added_cents = added_cents + ? WHERE drawer_id = ?"
                         : "UPDATE cash_drawers SET taken_cents = taken_cents + ? WHERE drawer_id = ?",
                  {amount, drawer.id});
  audit.record(adding ? "add cash" : "take cash",
               drawer.buyer + " " + drawer.day + ": " + formatMoney(amount) + ", " + reason);
  return formatMoney(amount) + (adding ? " added to " : " taken out of ") + drawerName(drawer) + ".";
}

std::string countCash(PageContext& page, Audit& audit) {
  Drawer drawer = openDrawerOf(page);
  const std::int64_t counted = amountOf(page, "counted", "the cash counted", 0);
  page.db.execute("UPDATE cash_drawers SET counted_cents = ? WHERE drawer_id = ?", {counted, drawer.id});
  drawer.countedCents = counted;
  const DrawerLine line = lineOf(page.db, drawer);
  const std::string expected =
      "expected " + formatMoney(line.figures.expectedCents()) + ", " + overShortText(line.figures.overShortCents);
  audit.record("count drawer", drawer.buyer + " " + drawer.day + ": counted " + formatMoney(counted) + ", " + expected);
  return "Counted " + formatMoney(counted) + " in " + drawerName(drawer) + ": " + expected + ".";
}

std::string closeDrawer(PageContext& page, Audit& audit) {
  const Drawer drawer = openDrawerOf(page);
  if (!drawer.countedCents) throw Refusal("Count the cash in " + drawerName(drawer) + " before closing it.");
  const auto open = openTicketsOf(page.db, drawer);
  if (!open.empty())
    throw Refusal("Ticket " + open.front().first + " of " + drawer.buyer + " is still open" +
                  (open.size() > 1 ? " (and " + std::to_string(open.size() - 1) + " more)" : "") +
                  ": end or void it on the Tickets page before closing the drawer.");
  const DrawerLine line = lineOf(page.db, drawer);
  page.db.execute("UPDATE cash_drawers SET closed_by = ?, closed_at = ?, paid_cents = ? WHERE drawer_id = ?",
                  {page.manager.name, page.nowMs, line.figures.paidCents, drawer.id});
  audit.record("close drawer", drawer.buyer + " " + drawer.day + ": expected " +
                                   formatMoney(line.figures.expectedCents()) + ", counted " +
                                   formatMoney(*drawer.countedCents) + ", " +
                                   overShortText(line.figures.overShortCents));
  return "The drawer of " + drawer.buyer + " for " + drawer.day + " is closed, signed by " + page.manager.name + ".";
}

}  // namespace

View showDrawers(PageContext& page) {
  View view;
  const bool wholeChain = wholeChainAsked(page);
  if (!wholeChain && !chosen(page, "drawer").empty()) describeDrawer(page, chosenDrawer(page), view);
  else describeSheet(page, view, wholeChain);
  return view;
}

CsvFile daySheetFile(PageContext& page) {
  const bool wholeChain = wholeChainAsked(page);
  const std::string day = chosenDay(page, page.query["day"]);
  return {"cash-" + (wholeChain ? std::string("chain") : "store-" + std::to_string(page.store)) + "-" + day + ".csv",
          sheetCsv(day, sheetsOf(page, day, wholeChain))};
}

std::string changeDrawer(PageContext& page, Audit& audit) {
  const std::string& action = page.form["action"];
  if (action == "open") return openDrawer(page, audit);
  if (action == "move") return moveCash(page, audit);
  if (action == "count") return countCash(page, audit);
  if (action == "close") return closeDrawer(page, audit);
  throw Refusal("The form asked for nothing the Cash drawers page does; open the page again.");
}

}  // namespace storeserver::admin
