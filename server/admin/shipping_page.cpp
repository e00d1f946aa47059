#include "server/admin/shipping_page.h"

#include <cctype>

#include "server/admin/buying_report.h"
#include "server/admin/key_pager.h"
#include "server/admin/office_pages.h"
#include "server/admin/shipping.h"
#include "wire/money.h"

namespace storeserver::admin {

namespace {

std::string pageUrl(const PageContext& page, const SessionRow& session, const std::string& purchaser) {
  return "/admin/shipping?store=" + std::to_string(page.store) + "&session=" + std::to_string(session.id) +
         "&purchaser=" + urlEncoded(purchaser);
}

// The purchaser the URL names, refused unless the session has it.
std::string chosenPurchaser(const PageContext& page, const SessionRow& session,
                            const std::vector<std::string>& purchasers) {
  const std::string& purchaser = page.query["purchaser"];
  if (std::ranges::find(purchasers, purchaser) == purchasers.end())
    throw Refusal("Session " + std::to_string(session.id) + " has no purchaser " + printable(purchaser, 30) + ".");
  return purchaser;
}

void describePacking(const PackingList& list, View& view) {
  ViewList rows;
  for (const PackingRow& r : list.rows) {
    View row;
    row.set("isbn", r.isbn);
    row.set("title", r.title);
    row.set("copies", wire::formatCount(r.copies));
    row.set("price", wire::formatMoney(r.priceCents));
    row.set("total", wire::formatMoney(r.totalCents()));
    rows.push_back(row);
  }
  view.set("packingShown", true);
  view.set("packing", rows);
  view.set("copies", wire::formatCount(list.copies));
  view.set("total", wire::formatMoney(list.totalCents));
}

// A page of the labels, numbered among all of the purchaser's.
void describeLabels(PageContext& page, const SessionRow& session, const std::string& purchaser, View& view) {
  const KeyedList list = labelLines(session.id, purchaser);
  const KeyedPage lines = readPage(page.db, list, page.query, view, pageUrl(page, session, purchaser) + "&sheet=labels",
                                   kLabelLinesPerPage);
  const LabelPage sheet = labelsOf(page.db, session.id, purchaser, lines.rows);
  if (sheet.total == 0) {
    view.set("nothingBought", true);
    return;
  }
  ViewList labels;
  for (const ShippingLabel& l : sheet.labels) {
    View label;
    label.set("isbn", l.isbn);
    label.set("title", l.title);
    label.set("receipt", l.receipt);
    labels.push_back(label);
  }
  view.set("labelsShown", true);
  view.set("firstLabel", wire::formatCount(sheet.before + 1));
  view.set("lastLabel", wire::formatCount(sheet.before + std::int64_t(labels.size())));
  view.set("labelCount", wire::formatCount(sheet.total));
  view.set("labels", labels);
}

void describePurchaser(PageContext& page, const SessionRow& session, const std::string& purchaser, View& view) {
  view.set("purchaser", purchaser);
  view.set("url", pageUrl(page, session, purchaser));
  if (page.query["sheet"] == "labels") {
    describeLabels(page, session, purchaser, view);
    return;
  }
  const PackingList list = packingList(page.db, session.id, purchaser);
  if (list.rows.empty()) view.set("nothingBought", true);
  else describePacking(list, view);
}

// A name as part of a file's name: letters and digits kept, anything else a dash.
std::string fileNamePart(const std::string& name) {
  std::string part = name;
  for (char& c : part)
    if (!std::isalnum(static_cast<unsigned char>(c))) c = '-';
  return part;
}

}  // namespace

View showShipping(PageContext& page) {
  View view;
  if (!page.query.has("session")) {
    ViewList sessions;
    for (const SessionRow& s : sessionsOf(page.db, page.store)) {
      View row;
      row.set("id", std::to_string(s.id));
      row.set("description", s.description);
      sessions.push_back(row);
    }
    view.set("noSessions", sessions.empty());
    view.set("sessions", sessions);
    return view;
  }
  const SessionRow session = sessionOfStore(page, page.query);
  view.set("sessionChosen", true);
  view.set("session", std::to_string(session.id));
  view.set("description", session.description);
  const std::vector<std::string> purchasers = purchasersOf(page.db, session.id);
  ViewList links;
  for (const std::string& name : purchasers) {
    View link;
    link.set("name", name);
    link.set("url", pageUrl(page, session, name));
    links.push_back(link);
  }
  view.set("purchasers", links);
  if (page.query.has("purchaser")) describePurchaser(page, session, chosenPurchaser(page, session, purchasers), view);
  return view;
}

CsvFile packingListFile(PageContext& page) {
  const SessionRow session = sessionOfStore(page, page.query);
  const std::string purchaser = chosenPurchaser(page, session, purchasersOf(page.db, session.id));
  return {"shipping-" + std::to_string(session.id) + "-" + fileNamePart(purchaser) + ".csv",
          packingCsv(packingList(page.db, session.id, purchaser))};
}

}  // namespace storeserver::admin
