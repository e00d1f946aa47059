#include "server/admin/ticket_office.h"

#include "server/log.h"
#include "server/queries/query.h"
#include "server/queries/ticket_ledger.h"
#include "server/queries/tickets.h"
#include "wire/requests.h"
#include "wire/text.h"

namespace storeserver::admin {

using storage::integerAt;
using storage::textAt;

namespace {

constexpr const char* kTicketRowSelect =
    "SELECT t.ticket_id, t.receipt, t.store_num, t.buyer, t.student_id, t.opened_on, t.is_open, t.line_count,"
    " t.total_cents, t.is_voided, t.voided_at, t.voided_by, t.void_reason FROM tickets t";

std::optional<std::string> applyClosing(queries::QueryContext& context, std::int64_t store, const std::string& receipt,
                                        Closing closing, const std::string& reason) {
  std::vector<queries::ledger::LineWithTerms> lines;
  const std::optional<queries::tickets::Ticket> ticket = queries::ledger::findWithLines(context.db, receipt, lines);
  const std::string shown = printable(receipt, wire::requests::kMaxReceiptLength);
  if (!ticket || ticket->store != store) return "Store " + std::to_string(store) + " has no ticket " + shown + ".";
  if (!ticket->open) return "Ticket " + shown + " has already ended.";
  if (closing == Closing::Void) {
    if (auto refused = queries::ledger::voidLines(context, *ticket, lines)) return refused;
    queries::tickets::endVoided(context, *ticket, reason);
  } else {
    context.db.send("UPDATE tickets SET is_open = 0 WHERE ticket_id = ?", {ticket->id});
  }
  queries::tickets::audit(context, receipt, 0, closing == Closing::Void ? "void" : "end", "open",
                          "ended in the back office: " + reason);
  return std::nullopt;
}

}  // namespace

std::optional<std::string> reasonProblem(const std::string& reason, std::string_view whenBlank) {
  if (reason.find_first_not_of(" \t") == std::string::npos) return std::string(whenBlank);
  if (wire::hasControls(reason)) return "The reason must be one line of text.";
  // It is printed on receipts and read in the audit trails.
  if (auto problem = wire::hiddenCharacterProblem("The reason", reason)) return problem;
  if (wire::utf16Length(reason) > kMaxReasonLength)
    return "The reason has at most " + std::to_string(kMaxReasonLength) + " characters.";
  return std::nullopt;
}

KeyedList ticketsFound(std::int64_t store, const TicketSearch& search) {
  KeyedList list{std::string(kTicketRowSelect) + " WHERE t.store_num = ? AND t.opened_on BETWEEN ? AND ?",
                 {store, search.from, search.to},
                 {"t.ticket_id"},
                 true};
  const auto matching = [&](const char* condition, const std::string& value) {
    if (value.empty()) return;
    list.select += condition;
    list.params.emplace_back(value);
  };
  matching(" AND t.buyer = ?", search.buyer);
  matching(" AND t.student_id = ?", search.studentId);
  // From the book's lines to their tickets: SQLite would otherwise run the
  // look-up once for every ticket of the days asked.
  matching(" AND t.ticket_id IN (SELECT l.ticket_id FROM ticket_lines l JOIN books b ON b.item_id = l.item_id"
           " WHERE b.isbn13 = ?)",
           search.isbn13);
  // A voided ticket is ended too, as the handheld's Delete ends it.
  if (search.state == TicketState::Open) list.select += " AND t.is_open = 1";
  if (search.state == TicketState::Ended) list.select += " AND t.is_open = 0 AND t.is_voided = 0";
  if (search.state == TicketState::Voided) list.select += " AND t.is_voided = 1";
  return list;
}

TicketRow ticketRowOf(const storage::Row& r) {
  TicketRow row{integerAt(r, 0), textAt(r, 1),         integerAt(r, 2), textAt(r, 3),    textAt(r, 4),
                textAt(r, 5),    integerAt(r, 6) != 0, integerAt(r, 7), integerAt(r, 8), std::nullopt};
  if (integerAt(r, 9) != 0) row.voiding = queries::tickets::Voiding{integerAt(r, 10), textAt(r, 11), textAt(r, 12)};
  return row;
}

std::optional<TicketRow> findTicket(storage::Connection& db, const std::string& receipt) {
  const storage::Rows rows = db.query(std::string(kTicketRowSelect) + " WHERE t.receipt = ?", {receipt});
  if (rows.empty()) return std::nullopt;
  return ticketRowOf(rows[0]);
}

std::vector<BuyerCash> cashPerBuyer(storage::Connection& db, std::int64_t store, const std::string& from,
                                    const std::string& to) {
  // One index holds every column read here: a day's tickets, not their lines.
  // A voided ticket holds no lines, and counts as nothing paid.
  std::vector<BuyerCash> out;
  for (const storage::Row& r :
       db.query("SELECT t.buyer, t.is_open, t.is_voided, COUNT(*), CAST(SUM(t.total_cents) AS BIGINT) FROM tickets t"
                " WHERE t.store_num = ? AND t.opened_on BETWEEN ? AND ? AND (t.line_count > 0 OR t.is_voided = 1)"
                " GROUP BY t.buyer, t.is_open, t.is_voided ORDER BY t.buyer, t.is_open, t.is_voided",
                {store, from, to})) {
    if (out.empty() || out.back().buyer != textAt(r, 0)) out.push_back({textAt(r, 0)});
    BuyerCash& cash = out.back();
    if (integerAt(r, 2) != 0) {
      cash.voidedTickets = integerAt(r, 3);
      continue;
    }
    (integerAt(r, 1) != 0 ? cash.openTickets : cash.endedTickets) = integerAt(r, 3);
    (integerAt(r, 1) != 0 ? cash.openCents : cash.paidCents) = integerAt(r, 4);
  }
  return out;
}

std::vector<TicketLineRow> linesOf(storage::Connection& db, std::int64_t ticketId) {
  std::vector<TicketLineRow> out;
  for (const storage::Row& r :
       db.query("SELECT l.line, l.session_id, b.isbn13, b.title, l.purchaser, l.qty, l.price_cents"
                " FROM ticket_lines l JOIN books b ON b.item_id = l.item_id WHERE l.ticket_id = ? ORDER BY l.line",
                {ticketId}))
    out.push_back(
        {integerAt(r, 0), integerAt(r, 1), textAt(r, 2), textAt(r, 3), textAt(r, 4), integerAt(r, 5), integerAt(r, 6)});
  return out;
}

KeyedList auditOf(const std::string& receipt) {
  return {"SELECT audit_id, changed_at, user_name, line, action, old_values, new_values FROM ticket_audit"
          " WHERE receipt = ?",
          {receipt},
          {"audit_id"},
          true};
}

AuditRow auditRowOf(const storage::Row& r) {
  return {integerAt(r, 0), integerAt(r, 1), textAt(r, 2), integerAt(r, 3), textAt(r, 4), textAt(r, 5), textAt(r, 6)};
}

std::optional<std::string> closeLeftTicket(queries::QueryContext& context, std::int64_t store,
                                           const std::string& receipt, Closing closing, const std::string& reason) {
  if (auto problem = reasonProblem(reason, "Give the reason, for the ticket's audit trail.")) return problem;
  // The same rows in the same order as a handheld's void locks them, so the two wait, never deadlock.
  if (context.db.dialect() == storage::Dialect::Postgres)
    queries::ledger::lockTranRows(context.db, {{"receipt", receipt}}, wire::kPacketDelete);
  return applyClosing(context, store, receipt, closing, reason);
}

}  // namespace storeserver::admin
