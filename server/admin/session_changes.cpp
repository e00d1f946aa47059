// The Buying sessions page's changes. The handhelds read a store's open
// sessions, with their rules, each time a buyer chooses one, so a change
// reaches them then.
#include <algorithm>

#include "server/admin/adoption_list.h"
#include "server/admin/buy_lists.h"
#include "server/admin/office_pages.h"
#include "server/import/importer.h"
#include "wire/requests.h"

namespace storeserver::admin {

using storage::integerAt;
using storage::textAt;

namespace {

constexpr std::size_t kReceiptsNamed = 10;

struct SessionForm {
  std::string description;
  SessionRules rules;
};

SessionForm sessionForm(const PageContext& page) {
  const auto number = [&](const char* column, const char* label) {
    return std::get<std::int64_t>(formValue("buying-sessions", column, label, page.form[column]));
  };
  return {
      std::get<std::string>(formValue("buying-sessions", "description", "The description", page.form["description"])),
      {page.form.has("student_id_required"), page.form.has("condition_check"),
       number("within_percent", "The nearly-met percentage"), number("tran_warning_qty", "The per-ticket warning"),
       number("tran_max_qty", "The per-ticket maximum")}};
}

std::string named(const SessionRow& session) {
  return "session " + std::to_string(session.id) + " \"" + session.description + "\"";
}

std::string addSession(PageContext& page, Audit& audit) {
  const SessionForm form = sessionForm(page);
  const SessionRow session{
      integerAt(page.db.query("SELECT COALESCE(MAX(session_id), 0) + 1 FROM buying_sessions")[0], 0), page.store,
      form.description, false, form.rules};
  if (session.id > wire::requests::kMaxSessionId)
    throw Refusal("No session number is left for a new session; ask the store's IT person.");
  const SessionRules& r = session.rules;
  page.db.execute("INSERT INTO buying_sessions (session_id, store_num, description, student_id_required,"
                  " condition_check, within_percent, tran_warning_qty, tran_max_qty, is_open)"
                  " VALUES (?, ?, ?, ?, ?, ?, ?, ?, 0)",
                  {session.id, session.store, session.description, std::int64_t(r.studentIdRequired),
                   std::int64_t(r.conditionCheck), r.withinPercent, r.tranWarning, r.tranMax});
  audit.record("add session", named(session) + ", closed: " + rulesText(r));
  return "Session " + std::to_string(session.id) + " added, closed: bring in its buy lists, then open it.";
}

std::string changeRules(PageContext& page, Audit& audit) {
  const SessionRow session = sessionOfStore(page, page.form);
  const SessionForm form = sessionForm(page);
  if (form.description == session.description && form.rules == session.rules)
    throw Refusal("The form holds the session's description and rules as they are; nothing was changed.");
  const SessionRules& r = form.rules;
  page.db.execute("UPDATE buying_sessions SET description = ?, student_id_required = ?, condition_check = ?,"
                  " within_percent = ?, tran_warning_qty = ?, tran_max_qty = ? WHERE session_id = ?",
                  {form.description, std::int64_t(r.studentIdRequired), std::int64_t(r.conditionCheck), r.withinPercent,
                   r.tranWarning, r.tranMax, session.id});
  audit.record("change session", named(session) + ": was " + rulesText(session.rules) + "; now \"" + form.description +
                                     "\": " + rulesText(r));
  return "Session " + std::to_string(session.id) +
         " changed; handhelds apply it from when their buyer next chooses a session.";
}

// Tickets still open with books of the session, which could not be changed once it is closed.
std::vector<std::string> openTicketsOf(storage::Connection& db, const SessionRow& session) {
  std::vector<std::string> receipts;
  for (const storage::Row& r :
       db.query("SELECT t.receipt FROM tickets t WHERE t.store_num = ? AND t.is_open = 1"
                " AND EXISTS (SELECT 1 FROM ticket_lines l WHERE l.ticket_id = t.ticket_id AND l.session_id = ?)"
                " ORDER BY t.ticket_id",
                {session.store, session.id}))
    receipts.push_back(textAt(r, 0));
  return receipts;
}

std::string receiptList(const std::vector<std::string>& receipts) {
  std::string text;
  for (std::size_t i = 0; i < receipts.size() && i < kReceiptsNamed; ++i) text += (i ? ", " : "") + receipts[i];
  if (receipts.size() > kReceiptsNamed) text += " and " + std::to_string(receipts.size() - kReceiptsNamed) + " more";
  return text;
}

std::string setOpen(PageContext& page, Audit& audit, bool open) {
  const SessionRow session = sessionOfStore(page, page.form);
  const std::string number = std::to_string(session.id);
  if (session.open == open) throw Refusal("Session " + number + " is " + (open ? "open" : "closed") + " already.");
  if (!open) {
    // A line a handheld is adding now is either counted below or refused after the close.
    lockPurchaserRows(page.db, session.id);
    if (const auto receipts = openTicketsOf(page.db, session); !receipts.empty())
      throw Refusal("Session " + number + " cannot be closed while tickets with its books are open: " +
                    receiptList(receipts) + ". End or void them on the Tickets page first.");
  }
  page.db.execute("UPDATE buying_sessions SET is_open = ? WHERE session_id = ?", {std::int64_t(open), session.id});
  audit.record(open ? "open session" : "close session", named(session));
  return open ? "Session " + number + " is open: handhelds list it when their buyer next chooses a session."
              : "Session " + number + " is closed: handhelds no longer list it or buy in it.";
}

std::string bringInList(PageContext& page, Audit& audit) {
  const SessionRow session = sessionOfStore(page, page.form);
  const std::string& purchaser = page.form["purchaser"];
  checkPurchaserName(purchaser);
  const ListMerge merge = page.form["merge"] == "replace" ? ListMerge::Replace : ListMerge::Merge;
  lockPurchaserRows(page.db, session.id, purchaser);
  const ListPlan plan = planBuyList(page.db, session.id, purchaser, page.form["file"], merge);
  storeBuyList(page.db, session.id, purchaser, plan);
  audit.record("buy list", named(session) + ", " + purchaser +
                               (merge == ListMerge::Replace ? ", replaced: " : ", merged: ") + plan.summary());
  return "The buy list of " + purchaser + " is stored in session " + std::to_string(session.id) + ": " +
         plan.summary() + ".";
}

// The store's own rows are marked so, which the handhelds show as the store's.
std::string storeOwnList(PageContext& page, Audit& audit) {
  const SessionRow session = sessionOfStore(page, page.form);
  lockPurchaserRows(page.db, session.id, page.form["purchaser"]);
  const AdoptionBuild build = adoptionBuild(page, session.id);
  // A replacing list without a book would only take the store's rows away.
  if (std::ranges::none_of(build.lines, [](const AdoptionLine& line) { return line.apart.empty(); }))
    throw Refusal("No book of the term \"" + build.term +
                  "\" can be bought: each is listed apart. Nothing was stored.");
  storeBuyList(page.db, session.id, build.purchaser, build.plan);
  // Only the purchaser's first rows need it: checkStoresOwn let none of its earlier rows be unmarked.
  page.db.execute("UPDATE book_purchasers SET ost_purchaser = 1 WHERE session_id = ? AND purchaser = ?"
                  " AND ost_purchaser = 0",
                  {session.id, build.purchaser});
  const std::string done = (build.merge == ListMerge::Replace ? "replaced: " : "merged: ") + build.plan.summary();
  audit.record("adoption list", named(session) + ", " + build.purchaser + ", term " + build.term + " (" +
                                    settingsText(build.settings) + "), " + done);
  return "The store's own list of " + build.term + " is stored in session " + std::to_string(session.id) + " for " +
         build.purchaser + ", " + done + ".";
}

std::string changeRow(PageContext& page, Audit& audit) {
  const SessionRow session = sessionOfStore(page, page.form);
  const std::string& itemId = page.form["item"];
  const std::string& purchaser = page.form["purchaser"];
  lockPurchaserRows(page.db, session.id, purchaser);
  const auto row = findBuyRow(page.db, session.id, itemId, purchaser);
  if (!row)
    throw Refusal("Session " + std::to_string(session.id) + " has no row of book " + printable(itemId, 12) + " for " +
                  printable(purchaser) + ".");
  const BuyTerms terms =
      termsFromForm(page.form["quantity"], page.form["price"], page.form["status"], row->terms.condition);
  if (terms == row->terms) throw Refusal("The form holds the row as it is; nothing was changed.");
  setBuyTerms(page.db, session.id, itemId, purchaser, terms);
  audit.record("change buy row", named(session) + ", ISBN " + row->isbn + " (" + itemId + ") for " + purchaser + ": " +
                                     termsText(row->terms) + " -> " + termsText(terms));
  return purchaser + " now buys ISBN " + row->isbn + ": " + termsText(terms) + "; bought so far " +
         std::to_string(row->bought) + ".";
}

}  // namespace

void checkPurchaserName(const std::string& name) { formValue("purchasers", "purchaser", "The purchaser", name); }

std::string changeSessions(PageContext& page, Audit& audit) {
  const std::string& action = page.form["action"];
  if (action == "add") return addSession(page, audit);
  if (action == "rules") return changeRules(page, audit);
  if (action == "open") return setOpen(page, audit, true);
  if (action == "close") return setOpen(page, audit, false);
  if (action == "list") return bringInList(page, audit);
  if (action == "row") return changeRow(page, audit);
  if (action == "adoptions") return storeOwnList(page, audit);
  throw Refusal("The form asked for nothing the Buying sessions page does; open the page again.");
}

}  // namespace storeserver::admin
