#include "server/queries/tickets.h"

namespace storeserver::queries::tickets {

using storage::integerAt;
using storage::textAt;

std::optional<Ticket> find(storage::Connection& db, const std::string& receipt) {
  const storage::Rows rows = db.query(
      "SELECT ticket_id, receipt, store_num, user_id, buyer, student_id, opened_on, is_open"
      " FROM tickets WHERE receipt = ?",
      {receipt});
  if (rows.empty()) return std::nullopt;
  const storage::Row& r = rows[0];
  return Ticket{integerAt(r, 0), textAt(r, 1), integerAt(r, 2), integerAt(r, 3),
                textAt(r, 4),    textAt(r, 5), textAt(r, 6),    integerAt(r, 7) != 0};
}

std::optional<User> buyerAt(QueryContext& context, std::int64_t store, std::string& problem) {
  std::optional<User> buyer = provenBuyer(context.db, context.tokenHash, context.user.id, store);
  if (!buyer) {
    problem = "Only a buyer of store " + std::to_string(store) +
              " may work with its tickets: choose the buying session again with a buyer's user name and password.";
    context.problems.push_back("no buyer's rights proved at store " + std::to_string(store));
  }
  return buyer;
}

std::optional<Ticket> findOwn(QueryContext& context, const std::string& receipt, std::string& problem) {
  std::optional<Ticket> ticket = find(context.db, receipt);
  if (!ticket) problem = "The store server has no ticket with this receipt number: start a new ticket.";
  else if (ticket->userId != context.user.id)
    problem = "This ticket was opened by another user: start a new ticket.";
  else if (buyerAt(context, ticket->store, problem)) return ticket;
  return std::nullopt;
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
  context.db.send(
      "INSERT INTO ticket_audit (changed_at, user_name, receipt, line, action, old_values, new_values)"
      " VALUES (?, ?, ?, ?, ?, ?, ?)",
      {context.nowMs, context.user.name, receipt, line, std::string(action), oldValues, newValues});
}

}  // namespace storeserver::queries::tickets
