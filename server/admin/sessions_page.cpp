#include <cctype>
#include <map>

#include "server/admin/adoption_list.h"
#include "server/admin/buy_lists.h"
#include "server/admin/buying_report.h"
#include "server/admin/key_pager.h"
#include "server/admin/office_pages.h"
#include "server/import/importer.h"
#include "wire/money.h"

namespace storeserver::admin {

namespace {

constexpr std::size_t kPreviewRows = 100;

// The session the URL names, when it names one.
std::optional<SessionRow> chosenSession(const PageContext& page) {
  if (!page.query.has("session")) return std::nullopt;
  return sessionOfStore(page, page.query);
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

std::string quantityText(std::int64_t qty) { return qty == kNoLimit ? "no limit" : std::to_string(qty); }

// What a session's URL adds to open one buy row's edit form.
std::string editQuery(const std::string& itemId, const std::string& purchaser) {
  return "&edit_item=" + urlEncoded(itemId) + "&edit_purchaser=" + urlEncoded(purchaser);
}

View purchaseRow(const PurchaseRow& p) {
  View row;
  row.set("isbn", p.isbn);
  row.set("title", p.title);
  row.set("purchaser", p.purchaser);
  row.set("status", p.status);
  row.set("buys", p.noLimit ? std::string("no limit") : wire::formatCount(p.buyQty));
  row.set("bought", wire::formatCount(p.bought));
  row.set("need", p.need());
  row.set("price", wire::formatMoney(p.buyPriceCents));
  row.set("editQuery", editQuery(p.itemId, p.purchaser));
  return row;
}

// A session's description and rules as their form (session_rules.html) shows them.
View rulesForm(const std::string& prefix, const std::string& description, const SessionRules& rules) {
  View form;
  form.set("prefix", prefix);
  form.set("description", description);
  form.set("studentIdRequired", rules.studentIdRequired);
  form.set("conditionCheck", rules.conditionCheck);
  form.set("withinPercent", std::to_string(rules.withinPercent));
  form.set("tranWarning", std::to_string(rules.tranWarning));
  form.set("tranMax", std::to_string(rules.tranMax));
  return form;
}

// What the form for a new session offers: the nearly-met notice from 90 % of
// a purchaser's quantity, neither warning nor maximum.
const SessionRules kNewSessionRules{true, false, 90, 0, 0};

// The row the URL asks to edit.
void describeEdit(PageContext& page, const SessionRow& session, View& view) {
  const std::string& itemId = page.query["edit_item"];
  const std::string& purchaser = page.query["edit_purchaser"];
  const auto row = findBuyRow(page.db, session.id, itemId, purchaser);
  if (!row) return;
  View edit;
  edit.set("item", itemId);
  edit.set("purchaser", purchaser);
  edit.set("isbn", row->isbn);
  edit.set("title", row->title);
  edit.set("bought", wire::formatCount(row->bought));
  edit.set("quantity", quantityText(row->terms.qty));
  edit.set("price", wire::formatCents(row->terms.priceCents));
  edit.set("status", row->terms.status);
  edit.set("editQuery", editQuery(itemId, purchaser));
  view.set("edit", edit);
}

std::string changeText(const PlannedRow& r) {
  return !r.before ? "new" : *r.before == r.terms ? "as it was" : "was " + termsText(*r.before);
}

View plannedRow(const PlannedRow& r) {
  View row;
  row.set("line", std::to_string(r.line));
  row.set("isbn", r.isbn);
  row.set("title", r.title);
  row.set("item", r.itemId);
  row.set("terms", termsText(r.terms));
  row.set("was", changeText(r));
  if (r.otherBooks > 0)
    row.set("otherBooks", std::to_string(r.otherBooks) + (r.otherBooks == 1 ? " other book has" : " other books have") +
                              " this ISBN too; the row goes to this one only.");
  return row;
}

// A file sent with preview: what storing it would do, or why it cannot be.
void describePreview(PageContext& page, const SessionRow& session, View& view) {
  const std::string& purchaser = page.form["purchaser"];
  const ListMerge merge = page.form["merge"] == "replace" ? ListMerge::Replace : ListMerge::Merge;
  View preview;
  preview.set("purchaser", purchaser);
  preview.set("replace", merge == ListMerge::Replace);
  try {
    checkPurchaserName(purchaser);
    const ListPlan plan = planBuyList(page.db, session.id, purchaser, page.form["file"], merge);
    ViewList rows;
    for (std::size_t i = 0; i < plan.rows.size() && i < kPreviewRows; ++i) rows.push_back(plannedRow(plan.rows[i]));
    preview.set("rows", rows);
    if (plan.rows.size() > kPreviewRows)
      preview.set("more", "and " + wire::formatCount(std::int64_t(plan.rows.size() - kPreviewRows)) + " more rows.");
    preview.set("summary", plan.summary() + ".");
    preview.set("file", page.form["file"]);
    view.set("preview", preview);
  } catch (const Refusal& refusal) {
    view.set("problem", std::string(refusal.what()));
    view.set("listAgain", true);
    view.set("listPurchaser", purchaser);
  }
}

// The form building the store's own list: as the manager sent it, else the defaults.
View adoptionForm(const PageContext& page, const SessionRow& session) {
  const bool sent = page.form["action"] == "adoptions";
  const std::vector<std::string> terms = adoptionTermsOf(page.db, page.store);
  View form;
  form.set("terms", choices(terms, sent ? page.form["term"] : terms.empty() ? "" : terms.front()));
  form.set("noTerms", terms.empty());
  const AdoptionSettings defaults;
  const auto percent = [&](const char* field, std::int64_t byDefault) {
    form.set(field, sent ? page.form[field] : std::to_string(byDefault));
  };
  percent("recommended_percent", defaults.recommendedPercent);
  percent("optional_percent", defaults.optionalPercent);
  percent("used_percent", defaults.usedPercent);
  percent("price_percent", defaults.pricePercent);
  form.set("purchaser", sent ? page.form["purchaser"] : storesOwnPurchaser(page.db, page.store, session.id));
  form.set("replace", sent && page.form["merge"] == "replace");
  return form;
}

// What a planned row does to the purchaser's row of its book, by the line it came from.
std::map<int, std::string> plannedChanges(const ListPlan& plan) {
  std::map<int, std::string> changes;
  for (const PlannedRow& r : plan.rows) changes[r.line] = changeText(r);
  return changes;
}

View adoptionRow(const AdoptionLine& line, const std::string& change) {
  const AdoptedBook& b = line.book;
  View row;
  row.set("sku", std::to_string(b.sku));
  row.set("isbn", b.isbn);
  row.set("title", b.title);
  row.set("required", wire::formatCount(b.required));
  row.set("recommended", wire::formatCount(b.recommended));
  row.set("optional", wire::formatCount(b.optional));
  row.set("demand", hundredthsText(line.demandHundredths));
  row.set("expectedUsed", wire::formatCount(line.expectedUsed));
  row.set("onHand", wire::formatCount(b.usedOnHand));
  row.set("quantity", quantityText(line.quantity));
  row.set("newPrice", b.newPriceCents == 0 ? "none" : wire::formatMoney(b.newPriceCents));
  row.set("price", wire::formatCents(line.priceCents));
  row.set("apart", line.apart);
  row.set("now", change.empty() ? "none to buy: not stored" : change);
  return row;
}

// The store's own list as it would be stored, each number with its parts, or why it cannot be built.
void describeAdoptionPreview(PageContext& page, const SessionRow& session, View& view) {
  try {
    const AdoptionBuild build = adoptionBuild(page, session.id);
    const std::map<int, std::string> changes = plannedChanges(build.plan);
    ViewList bought, apart;
    for (std::size_t i = 0; i < build.lines.size(); ++i) {
      const auto change = changes.find(int(i) + 1);
      (build.lines[i].apart.empty() ? bought : apart)
          .push_back(adoptionRow(build.lines[i], change == changes.end() ? "" : change->second));
    }
    View preview = adoptionForm(page, session);
    preview.set("term", build.term);
    preview.set("settings", settingsText(build.settings));
    preview.set("usedPercent", std::to_string(build.settings.usedPercent));
    preview.set("pricePercent", std::to_string(build.settings.pricePercent));
    preview.set("rows", bought);
    preview.set("apart", apart);
    preview.set("hasApart", !apart.empty());
    preview.set("summary", build.plan.summary() + "; " + wire::formatCount(std::int64_t(apart.size())) +
                               (apart.size() == 1 ? " book" : " books") + " listed apart, not bought.");
    view.set("adoptionPreview", preview);
  } catch (const Refusal& refusal) {
    view.set("problem", std::string(refusal.what()));
    view.set("adoptionsAgain", true);
  }
}

void describeSession(PageContext& page, const SessionRow& session, View& view) {
  const PurchaseFilter filter{page.query["purchaser"], page.query["status"]};
  view.set("showBooks", true);
  view.set("session", std::to_string(session.id));
  view.set("description", session.description);
  view.set("open", session.open);
  view.set("rules", rulesText(session.rules));
  view.set("rulesForm", rulesForm("", session.description, session.rules));
  view.set("purchasers", choices(purchasersOf(page.db, session.id), filter.purchaser));
  view.set("statuses", choices(statusesOf(page.db, session.id), filter.status));
  const PurchaseTotals totals = totalsOf(page.db, session.id, filter);
  view.set("rowCount", wire::formatCount(totals.rows));
  view.set("buyTotal", wire::formatCount(totals.buyQty));
  view.set("boughtTotal", wire::formatCount(totals.bought));
  view.set("worth", wire::formatMoney(totals.boughtCents));
  if (page.query.has("edit_item")) describeEdit(page, session, view);
  view.set("adoptionForm", adoptionForm(page, session));
  if (page.form.has(kPreviewField))
    (page.form["action"] == "adoptions" ? describeAdoptionPreview : describePreview)(page, session, view);

  const std::string base = "/admin/sessions?store=" + std::to_string(page.store) +
                           "&session=" + std::to_string(session.id) + "&purchaser=" + urlEncoded(filter.purchaser) +
                           "&status=" + urlEncoded(filter.status);
  ViewList rows;
  for (const storage::Row& r : readPage(page.db, purchaseList(session.id, filter), page.query, view, base).rows)
    rows.push_back(purchaseRow(purchaseOf(r)));
  view.set("rows", rows);
}

}  // namespace

SessionRow sessionOfStore(const PageContext& page, const Fields& fields) {
  const auto id = fields.number("session");
  std::optional<SessionRow> session = id ? findSession(page.db, *id) : std::nullopt;
  if (!session || session->store != page.store)
    throw Refusal("Store " + std::to_string(page.store) + " has no buying session " + printable(fields["session"], 12) +
                  ".");
  return *session;
}

View showSessions(PageContext& page) {
  View view;
  ViewList sessions;
  for (const SessionRow& s : sessionsOf(page.db, page.store)) {
    View row;
    row.set("id", std::to_string(s.id));
    row.set("description", s.description);
    row.set("open", s.open);
    row.set("rules", rulesText(s.rules));
    sessions.push_back(row);
  }
  view.set("noSessions", sessions.empty());
  view.set("sessions", sessions);
  view.set("newSession", rulesForm("new-", "", kNewSessionRules));
  if (const auto session = chosenSession(page)) describeSession(page, *session, view);
  return view;
}

}  // namespace storeserver::admin
