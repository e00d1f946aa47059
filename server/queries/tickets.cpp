#include "server/queries/tickets.h"

#include "server/log.h"

namespace storeserver::queries::tickets {

using storage::integerAt;
using storage::textAt;

const char* const kTicketColumns =
    "t.ticket_id, t.receipt, t.store_num, t.user_id, t.buyer, t.student_id, t.opened_on, t.is_open";

Ticket ticketOf(const storage::Row& r) {
  return Ticket{integerAt(r, 0), textAt(r, 1), integerAt(r, 2), integerAt(r, 3),
                textAt(r, 4),    textAt(r, 5), textAt(r, 6),    integerAt(r, 7) != 0};
}

std::string receiptOf(std::int64_t ticketId) {
  constexpr std::size_t kReceiptDigits = 8;
  std::string digits = std::to_string(ticketId);
  return std::string(kReceiptDigits > digits.size() ? kReceiptDigits - digits.size() : 0, '0') + digits;
}

std::string dayOf(std::int64_t nowMs) {
  return logTime(std::chrono::system_clock::time_point(std::chrono::milliseconds(nowMs))).substr(0, 10);
}

std::string minuteOf(std::int64_t ms) {
  const std::string time = logTime(std::chrono::system_clock::time_point(std::chrono::milliseconds(ms)));
  return time.substr(0, 10) + " " + time.substr(11, 5) + " UTC";
}

std::string voidedWords(const Voiding& voiding) {
  return "voided " + minuteOf(voiding.atMs) + " by " + voiding.by + ": " + voiding.reason;
}

std::optional<Voiding> voidingOf(storage::Connection& db, std::int64_t ticketId) {
  const storage::Rows rows = db.query(
      "SELECT voided_at, voided_by, void_reason FROM tickets WHERE ticket_id = ? AND is_voided = 1", {ticketId});
  if (rows.empty()) return std::nullopt;
  return Voiding{integerAt(rows[0], 0), textAt(rows[0], 1), textAt(rows[0], 2)};
}

void endVoided(QueryContext& context, const Ticket& ticket, const std::string& reason) {
  context.db.send("UPDATE tickets SET is_open = 0, is_voided = 1, voided_at = ?, voided_by = ?, void_reason = ? WHERE "
                  "ticket_id = ?",
                  {context.nowMs, context.user.name, reason, ticket.id});
}

namespace {

void noBuyerProven(QueryContext& context, std::int64_t store, std::string& problem) {
  problem = "Only a buyer of store " + std::to_string(store) +
            " may work with its tickets: choose the buying session again with a buyer's user name and password.";
  context.problems.push_back("no buyer's rights proved at store " + std::to_string(store));
}

}  // namespace

// Whether a buyer's rights are proved at the ticket's store, judged as
// provenBuyer judges them: the user, or the buyer the token checked there.
// Two EXISTS rather than "user_id = ? OR user_id = (SELECT ...)", which SQLite
// runs as an IN list built in a temporary table on every ticket update.
const std::string kOwnTicketColumns =
    std::string(kTicketColumns) +
    ", (EXISTS (SELECT 1 FROM users b WHERE b.user_id = ? AND b.store_num = t.store_num AND b.active = 1"
    " AND b.can_buy = 1) OR EXISTS (SELECT 1 FROM session_tokens k JOIN users b ON b.user_id = k.buyer_user_id"
    " WHERE k.token_hash = ? AND k.buyer_store = t.store_num AND b.store_num = t.store_num AND b.active = 1"
    " AND b.can_buy = 1))";

std::vector<storage::Value> ownTicketValues(const QueryContext& context) {
  return {context.user.id, context.tokenHash};
}

std::optional<Ticket> ownTicketOf(QueryContext& context, const storage::Rows& rows, std::string& problem) {
  if (rows.empty()) {
    problem = "The store server has no ticket with this receipt number: start a new ticket.";
    return std::nullopt;
  }
  Ticket ticket = ticketOf(rows[0]);
  if (ticket.userId != context.user.id) problem = "This ticket was opened by another user: start a new ticket.";
  else if (integerAt(rows[0], kOwnTicketColumnCount - 1) == 0) noBuyerProven(context, ticket.store, problem);
  else return ticket;
  return std::nullopt;
}

std::optional<Ticket> find(storage::Connection& db, const std::string& receipt) {
  const storage::Rows rows =
      db.query("SELECT " + std::string(kTicketColumns) + " FROM tickets t WHERE receipt = ?", {receipt});
  if (rows.empty()) return std::nullopt;
  return ticketOf(rows[0]);
}

std::optional<User> buyerAt(QueryContext& context, std::int64_t store, std::string& problem) {
  std::optional<User> buyer = provenBuyer(context.db, context.tokenHash, context.user.id, store);
  if (!buyer) noBuyerProven(context, store, problem);
  return buyer;
}

std::optional<Ticket> findOwn(QueryContext& context, const std::string& receipt, std::string& problem) {
  std::vector<storage::Value> values = ownTicketValues(context);
  values.push_back(receipt);
  return ownTicketOf(context,
                     context.db.query("SELECT " + kOwnTicketColumns + " FROM tickets t WHERE t.receipt = ?", values),
                     problem);
}

std::optional<Ticket> findOwnAt(QueryContext& context, const std::string& receipt, std::int64_t store,
                                std::string& problem) {
  std::optional<Ticket> ticket = findOwn(context, receipt, problem);
  if (!ticket || ticket->store == store) return ticket;
  problem = "This ticket belongs to another store: start a new ticket.";
  return std::nullopt;
}

void audit(QueryContext& context, const std::string& receipt, std::int64_t line, std::string_view action,
           const std::string& oldValues, const std::string& newValues) {
  context.db.send("INSERT INTO ticket_audit (changed_at, user_name, receipt, line, action, old_values, new_values)"
                  " VALUES (?, ?, ?, ?, ?, ?, ?)",
                  {context.nowMs, context.user.name, receipt, line, std::string(action), oldValues, newValues});
}

}  // namespace storeserver::queries::tickets
