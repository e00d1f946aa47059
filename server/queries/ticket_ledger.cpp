#include "server/queries/ticket_ledger.h"

#include <algorithm>
#include <vector>

#include "wire/framing.h"
#include "wire/item_rules.h"

namespace storeserver::queries::ledger {

using storage::integerAt;
using storage::textAt;

namespace {

constexpr const char* kPurchaserGone =
    "This purchaser no longer buys this book in this buying session; tell the back office.";

Line lineOf(const storage::Row& r) {
  return Line{integerAt(r, 0), integerAt(r, 1), textAt(r, 2), textAt(r, 3), integerAt(r, 4), integerAt(r, 5)};
}

std::vector<Line> linesOf(storage::Connection& db, std::int64_t ticketId) {
  std::vector<Line> lines;
  for (const storage::Row& r : db.query("SELECT line, session_id, item_id, purchaser, qty, price_cents"
                                        " FROM ticket_lines WHERE ticket_id = ? ORDER BY line",
                                        {ticketId}))
    lines.push_back(lineOf(r));
  return lines;
}

std::string remedy(const Move& move, std::string_view forALine) {
  return move.wholeTicket ? "end the ticket instead, or tell the back office." : std::string(forALine);
}

std::optional<std::string> boughtWithinNeed(const Move& move, const Line& line, const Purchase& purchase,
                                            std::int64_t boughtAfter) {
  const std::int64_t most = purchase.noLimit ? wire::rules::kMaxBought : purchase.buyQty;
  if (boughtAfter <= purchase.bought || boughtAfter <= most) return std::nullopt;
  return std::string(move.what) + " would give " + line.purchaser + " more copies of this book than it buys (" +
         std::to_string(most) + "): " + remedy(move, "lower another line of this book first.");
}

std::optional<std::string> boughtNotBelowZero(const Move& move, std::int64_t boughtAfter) {
  if (boughtAfter >= 0) return std::nullopt;
  const std::string what(move.what);
  return what + " would take back copies of this book that were already returned on another ticket: " +
         remedy(move, "keep the line as it is, or tell the back office.");
}

std::optional<std::string> ticketWithinMaximum(const Move& move, std::int64_t qtyBefore, std::int64_t qtyAfter,
                                               std::int64_t tranMax) {
  if (tranMax <= 0 || qtyAfter <= qtyBefore || qtyAfter <= tranMax) return std::nullopt;
  return std::string(move.what) + " would put " + std::to_string(qtyAfter) +
         " copies of this book on the ticket, above the transaction maximum of " + std::to_string(tranMax) +
         ": lower another line of this book first.";
}

// The lines merged per purchaser of a book, each with their net quantity.
std::vector<Line> netPerPurchaser(const std::vector<Line>& lines) {
  std::vector<Line> net;
  for (const Line& line : lines) {
    const auto same = std::ranges::find_if(net, [&](const Line& n) { return n.sameBookAs(line); });
    if (same == net.end()) net.push_back(line);
    else same->qty += line.qty;
  }
  return net;
}

}  // namespace

std::string Line::values() const {
  return "session=" + std::to_string(session) + " item=" + itemId + " purchaser=" + purchaser +
         " qty=" + std::to_string(qty) + " price=" + wire::formatCents(cents);
}

std::optional<Line> storedLine(storage::Connection& db, std::int64_t ticketId, std::int64_t number) {
  const storage::Rows rows = db.query(
      "SELECT line, session_id, item_id, purchaser, qty, price_cents FROM ticket_lines"
      " WHERE ticket_id = ? AND line = ?",
      {ticketId, number});
  if (rows.empty()) return std::nullopt;
  return lineOf(rows[0]);
}

std::optional<Purchase> purchaseOf(storage::Connection& db, const Line& line) {
  const storage::Rows rows = db.query(
      "SELECT no_limit, buy_qty, bought_qty, buy_price_cents, listed_price_cents, condition_check"
      " FROM book_purchasers WHERE session_id = ? AND item_id = ? AND purchaser = ?",
      {line.session, line.itemId, line.purchaser});
  if (rows.empty()) return std::nullopt;
  const storage::Row& r = rows[0];
  return Purchase{integerAt(r, 0) != 0, integerAt(r, 1), integerAt(r, 2),
                  integerAt(r, 3),      integerAt(r, 4), integerAt(r, 5) != 0};
}

SessionTerms sessionTermsOf(storage::Connection& db, std::int64_t session) {
  const storage::Rows rows = db.query(
      "SELECT student_id_required, condition_check, within_percent, tran_warning_qty, tran_max_qty"
      " FROM buying_sessions WHERE session_id = ?",
      {session});
  if (rows.empty()) return {};
  const storage::Row& r = rows[0];
  return SessionTerms{integerAt(r, 0) != 0, integerAt(r, 1) != 0, integerAt(r, 2), integerAt(r, 3), integerAt(r, 4)};
}

std::int64_t otherLinesQty(storage::Connection& db, std::int64_t ticketId, const Line& line) {
  const storage::Rows rows = db.query(
      "SELECT COALESCE(SUM(qty), 0) FROM ticket_lines WHERE ticket_id = ? AND line <> ? AND lower(item_id) = lower(?)",
      {ticketId, line.number, line.itemId});
  return integerAt(rows[0], 0);
}

std::optional<std::string> lineMoveProblem(const Move& move, const Line& line, const Purchase& purchase,
                                           const LineMove& change) {
  const std::int64_t boughtAfter = purchase.bought - change.oldQty + change.newQty;
  if (auto problem = boughtWithinNeed(move, line, purchase, boughtAfter)) return problem;
  if (auto problem = boughtNotBelowZero(move, boughtAfter)) return problem;
  return ticketWithinMaximum(move, change.others + change.oldQty, change.others + change.newQty, change.tranMax);
}

void setBought(storage::Connection& db, const Line& line, std::int64_t bought) {
  db.send("UPDATE book_purchasers SET bought_qty = ? WHERE session_id = ? AND item_id = ? AND purchaser = ?",
          {bought, line.session, line.itemId, line.purchaser});
}

std::optional<std::string> deleteLine(QueryContext& context, const tickets::Ticket& ticket, const Line& stored) {
  const std::optional<Purchase> purchase = purchaseOf(context.db, stored);
  if (!purchase) return kPurchaserGone;
  const LineMove change{stored.qty, 0, otherLinesQty(context.db, ticket.id, stored),
                        sessionTermsOf(context.db, stored.session).tranMax};
  if (auto problem = lineMoveProblem(kDeleting, stored, *purchase, change)) return problem;
  setBought(context.db, stored, purchase->bought - stored.qty);
  context.db.send("DELETE FROM ticket_lines WHERE ticket_id = ? AND line = ?", {ticket.id, stored.number});
  tickets::audit(context, ticket.receipt, stored.number, "delete", stored.values(), "");
  return std::nullopt;
}

std::optional<std::string> voidLines(QueryContext& context, const tickets::Ticket& ticket) {
  const std::vector<Line> lines = linesOf(context.db, ticket.id);
  if (lines.empty()) return std::nullopt;
  if (!ticket.open) return "This ticket has already ended: its lines can no longer be deleted.";
  // Every purchaser is judged before any is moved, so a refusal changes nothing.
  std::vector<std::pair<Line, std::int64_t>> boughtAfter;
  for (const Line& net : netPerPurchaser(lines)) {
    const std::optional<Purchase> purchase = purchaseOf(context.db, net);
    if (!purchase) return kPurchaserGone;
    const std::int64_t after = purchase->bought - net.qty;
    if (auto problem = boughtWithinNeed(kVoiding, net, *purchase, after)) return problem;
    if (auto problem = boughtNotBelowZero(kVoiding, after)) return problem;
    boughtAfter.emplace_back(net, after);
  }
  for (const auto& [net, after] : boughtAfter) setBought(context.db, net, after);
  context.db.send("DELETE FROM ticket_lines WHERE ticket_id = ?", {ticket.id});
  for (const Line& line : lines) tickets::audit(context, ticket.receipt, line.number, "void", line.values(), "");
  return std::nullopt;
}

}  // namespace storeserver::queries::ledger
