#include <cctype>

#include "server/admin/buying_report.h"
#include "server/admin/key_pager.h"
#include "server/admin/office_pages.h"
#include "wire/money.h"

namespace storeserver::admin {

namespace {

// The session the URL names, when it is one of the page's store.
std::optional<SessionRow> chosenSession(const PageContext& page) {
  if (!page.query.has("session")) return std::nullopt;
  const auto id = page.query.number("session");
  std::optional<SessionRow> session = id ? findSession(page.db, *id) : std::nullopt;
  if (!session || session->store != page.store)
    throw Refusal("Store " + std::to_string(page.store) + " has no buying session " + page.query["session"] + ".");
  return session;
}

ViewList choices(const std::vector<std::string>& names, const std::string& chosen) {
  ViewList list;
  for (const std::string& name : names) {
    View option;
    option.set("name", name);
    option.set("query", urlEncoded(name));
    option.set("chosen", name == chosen);
    list.push_back(option);
  }
  return list;
}

View purchaseRow(const PurchaseRow& p) {
  View row;
  row.set("isbn", p.isbn);
  row.set("title", p.title);
  row.set("purchaser", p.purchaser);
  row.set("status", p.status);
  row.set("buys", p.noLimit ? std::string("no limit") : std::to_string(p.buyQty));
  row.set("bought", std::to_string(p.bought));
  row.set("need", p.need());
  row.set("price", wire::formatMoney(p.buyPriceCents));
  return row;
}

void describeSession(PageContext& page, const SessionRow& session, View& view) {
  const PurchaseFilter filter{page.query["purchaser"], page.query["status"]};
  view.set("showBooks", true);
  view.set("session", std::to_string(session.id));
  view.set("description", session.description);
  view.set("open", session.open);
  view.set("purchasers", choices(purchasersOf(page.db, session.id), filter.purchaser));
  view.set("statuses", choices(statusesOf(page.db, session.id), filter.status));
  const PurchaseTotals totals = totalsOf(page.db, session.id, filter);
  view.set("rowCount", std::to_string(totals.rows));
  view.set("buyTotal", std::to_string(totals.buyQty));
  view.set("boughtTotal", std::to_string(totals.bought));
  view.set("worth", wire::formatMoney(totals.boughtCents));

  const std::string base = "/admin/sessions?store=" + std::to_string(page.store) +
                           "&session=" + std::to_string(session.id) + "&purchaser=" + urlEncoded(filter.purchaser) +
                           "&status=" + urlEncoded(filter.status);
  ViewList rows;
  for (const storage::Row& r : readPage(page.db, purchaseList(session.id, filter), page.query, view, base).rows)
    rows.push_back(purchaseRow(purchaseOf(r)));
  view.set("rows", rows);
}

// A name as part of a file's name: letters and digits kept, anything else a dash.
std::string fileNamePart(const std::string& name) {
  std::string part = name;
  for (char& c : part)
    if (!std::isalnum(static_cast<unsigned char>(c))) c = '-';
  return part;
}

}  // namespace

View showSessions(PageContext& page) {
  View view;
  ViewList sessions;
  for (const SessionRow& s : sessionsOf(page.db, page.store)) {
    View row;
    row.set("id", std::to_string(s.id));
    row.set("description", s.description);
    row.set("open", s.open);
    sessions.push_back(row);
  }
  view.set("noSessions", sessions.empty());
  view.set("sessions", sessions);
  if (const auto session = chosenSession(page)) describeSession(page, *session, view);
  return view;
}

std::optional<Download> shippingListFile(PageContext& page) {
  if (!page.query.has("shipping")) return std::nullopt;
  const auto session = chosenSession(page);
  if (!session) throw Refusal("Choose the buying session of the shipping list.");
  const std::string& purchaser = page.query["shipping"];
  return Download{"shipping-" + std::to_string(session->id) + "-" + fileNamePart(purchaser) + ".csv",
                  "text/csv; charset=utf-8", shippingList(page.db, session->id, purchaser)};
}

}  // namespace storeserver::admin
