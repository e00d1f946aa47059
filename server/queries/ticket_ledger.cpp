#include "server/queries/ticket_ledger.h"

#include <algorithm>
#include <vector>

#include "wire/item_rules.h"
#include "wire/json_reader.h"
#include "wire/money.h"
#include "wire/requests.h"

namespace storeserver::queries::ledger {

using storage::integerAt;
using storage::textAt;

namespace {

constexpr const char* kPurchaserGone =
    "This purchaser no longer buys this book in this buying session; tell the back office.";

constexpr const char* kLineColumns = "l.line, l.session_id, l.item_id, l.purchaser, l.qty, l.price_cents";
constexpr std::size_t kLineColumnCount = 6;
constexpr const char* kPurchaseColumns =
    "p.no_limit, p.buy_qty, p.bought_qty, p.buy_price_cents, p.listed_price_cents, p.condition_check";

bool isNull(const storage::Row& r, std::size_t column) { return std::holds_alternative<std::nullptr_t>(r.at(column)); }

// The columns of kLineColumns from first on; nullopt when the join found no line.
std::optional<Line> lineAt(const storage::Row& r, std::size_t first) {
  if (isNull(r, first)) return std::nullopt;
  return Line{integerAt(r, first),  integerAt(r, first + 1), textAt(r, first + 2),
              textAt(r, first + 3), integerAt(r, first + 4), integerAt(r, first + 5)};
}

// The columns of kPurchaseColumns from first on.
std::optional<Purchase> purchaseAt(const storage::Row& r, std::size_t first) {
  if (isNull(r, first)) return std::nullopt;
  return Purchase{integerAt(r, first) != 0, integerAt(r, first + 1), integerAt(r, first + 2),
                  integerAt(r, first + 3),  integerAt(r, first + 4), integerAt(r, first + 5) != 0};
}

std::string remedy(const Move& move, std::string_view forALine) {
  return move.wholeTicket ? "end the ticket instead, or tell the back office." : std::string(forALine);
}

// An undo returns the purchaser to its count without the line, so only the count's own bound holds it.
std::optional<std::string> boughtWithinNeed(const Move& move, const Line& line, const Purchase& purchase,
                                            std::int64_t boughtAfter) {
  const std::int64_t most = purchase.noLimit || move.undoes ? wire::rules::kMaxBought : purchase.buyQty;
  if (boughtAfter <= purchase.bought || boughtAfter <= most) return std::nullopt;
  if (move.undoes)
    return std::string(move.what) + " would count more than " + std::to_string(most) +
           " copies of this book bought for " + line.purchaser + ": tell the back office.";
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
std::vector<LineWithTerms> netPerPurchaser(const std::vector<LineWithTerms>& lines) {
  std::vector<LineWithTerms> net;
  for (const LineWithTerms& line : lines) {
    const auto same = std::ranges::find_if(net, [&](const LineWithTerms& n) { return n.first.sameBookAs(line.first); });
    if (same == net.end()) net.push_back(line);
    else same->first.qty += line.first.qty;
  }
  return net;
}

}  // namespace

std::string Line::values() const {
  return "session=" + std::to_string(session) + " item=" + itemId + " purchaser=" + purchaser +
         " qty=" + std::to_string(qty) + " price=" + wire::formatCents(cents);
}

namespace {
void lockTicket(storage::Connection& db, const std::string& receipt) {
  db.send("SELECT 1 FROM tickets WHERE receipt = ? FOR UPDATE", {receipt});
}
}  // namespace

void lockItemRows(storage::Connection& db, const nlohmann::json& arguments, int) {
  wire::JsonReader in(arguments, "sl_item request");
  const auto receipt = in.text("receipt", wire::requests::kMaxReceiptLength);
  const auto session = in.integer("session", 1, wire::requests::kMaxSessionId);
  const auto itemId = in.text("item_id", wire::requests::kMaxItemIdLength);
  const auto purchaser = in.text("purchaser", wire::requests::kMaxPurchaserLength);
  if (!in.ok()) return;
  lockTicket(db, *receipt);
  // A change or removal must name the stored line's purchaser, so this is the one row it moves.
  db.send("SELECT 1 FROM book_purchasers WHERE session_id = ? AND item_id = ? AND purchaser = ? FOR UPDATE",
          {*session, *itemId, *purchaser});
}

void lockTranRows(storage::Connection& db, const nlohmann::json& arguments, int packet) {
  wire::JsonReader in(arguments, "sl_tran request");
  const auto receipt = in.text("receipt", wire::requests::kMaxReceiptLength);
  if (!in.ok()) return;
  lockTicket(db, *receipt);
  // Read after the ticket's lock, so its lines hold still.
  if (packet == wire::kPacketDelete)
    db.send("SELECT 1 FROM book_purchasers p WHERE (p.session_id, p.item_id, p.purchaser) IN"
            " (SELECT l.session_id, l.item_id, l.purchaser FROM ticket_lines l JOIN tickets t"
            " ON t.ticket_id = l.ticket_id WHERE t.receipt = ?)"
            " ORDER BY p.session_id, p.item_id, p.purchaser FOR UPDATE",
            {*receipt});
}

std::optional<tickets::Ticket> findOwnWithLine(QueryContext& context, const std::string& receipt, const Line& line,
                                               LineFacts& facts, std::string& problem) {
  constexpr std::size_t kLine = tickets::kOwnTicketColumnCount, kStore = kLine + kLineColumnCount, kOthers = kStore + 1,
                        kSession = kOthers + 1, kPurchase = kSession + 7;
  std::vector<storage::Value> values = tickets::ownTicketValues(context);
  values.insert(values.end(), {line.number, line.itemId, line.number, line.session, line.session, line.itemId,
                               line.purchaser, receipt});
  const storage::Rows rows =
      context.db.query("SELECT " + tickets::kOwnTicketColumns + ", " + kLineColumns +
                           ", (SELECT COUNT(*) FROM stores WHERE store_num = t.store_num),"
                           " (SELECT COALESCE(SUM(o.qty), 0) FROM ticket_lines o"
                           " WHERE o.ticket_id = t.ticket_id AND o.line <> ? AND lower(o.item_id) = lower(?)),"
                           " s.store_num, s.is_open, s.student_id_required, s.condition_check, s.within_percent,"
                           " s.tran_warning_qty, s.tran_max_qty, " +
                           kPurchaseColumns +
                           " FROM tickets t LEFT JOIN ticket_lines l ON l.ticket_id = t.ticket_id AND l.line = ?"
                           " LEFT JOIN buying_sessions s ON s.session_id = ?"
                           " LEFT JOIN book_purchasers p ON p.session_id = ? AND p.item_id = ? AND p.purchaser = ?"
                           " WHERE t.receipt = ?",
                       values);
  std::optional<tickets::Ticket> ticket = tickets::ownTicketOf(context, rows, problem);
  if (!ticket) return std::nullopt;
  const storage::Row& r = rows[0];
  facts.stored = lineAt(r, kLine);
  facts.storeKnown = integerAt(r, kStore) > 0;
  facts.others = integerAt(r, kOthers);
  if (!isNull(r, kSession))
    facts.session =
        SessionTerms{integerAt(r, kSession),          integerAt(r, kSession + 1) != 0, integerAt(r, kSession + 2) != 0,
                     integerAt(r, kSession + 3) != 0, integerAt(r, kSession + 4),      integerAt(r, kSession + 5),
                     integerAt(r, kSession + 6)};
  facts.purchase = purchaseAt(r, kPurchase);
  return ticket;
}

namespace {

// A ticket's rows joined with each of its lines and the line's purchaser's terms.
storage::Rows ticketWithLines(storage::Connection& db, const std::string& ticketColumns,
                              std::vector<storage::Value> values, const std::string& receipt) {
  values.push_back(receipt);
  return db.query("SELECT " + ticketColumns + ", " + kLineColumns + ", " + kPurchaseColumns +
                      " FROM tickets t LEFT JOIN ticket_lines l ON l.ticket_id = t.ticket_id"
                      " LEFT JOIN book_purchasers p"
                      " ON p.session_id = l.session_id AND p.item_id = l.item_id AND p.purchaser = l.purchaser"
                      " WHERE t.receipt = ? ORDER BY l.line",
                  values);
}

void takeLines(const storage::Rows& rows, std::size_t firstLineColumn, std::vector<LineWithTerms>& lines) {
  for (const storage::Row& r : rows)
    if (std::optional<Line> line = lineAt(r, firstLineColumn))
      lines.emplace_back(std::move(*line), purchaseAt(r, firstLineColumn + kLineColumnCount));
}

}  // namespace

std::optional<tickets::Ticket> findOwnWithLines(QueryContext& context, const std::string& receipt,
                                                std::vector<LineWithTerms>& lines, std::string& problem) {
  const storage::Rows rows =
      ticketWithLines(context.db, tickets::kOwnTicketColumns, tickets::ownTicketValues(context), receipt);
  std::optional<tickets::Ticket> ticket = tickets::ownTicketOf(context, rows, problem);
  if (ticket) takeLines(rows, tickets::kOwnTicketColumnCount, lines);
  return ticket;
}

std::optional<tickets::Ticket> findWithLines(storage::Connection& db, const std::string& receipt,
                                             std::vector<LineWithTerms>& lines) {
  const storage::Rows rows = ticketWithLines(db, tickets::kTicketColumns, {}, receipt);
  if (rows.empty()) return std::nullopt;
  takeLines(rows, tickets::kTicketColumnCount, lines);
  return tickets::ticketOf(rows[0]);
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

void moveTicketTotal(storage::Connection& db, std::int64_t ticketId, std::int64_t lines, std::int64_t cents) {
  db.send("UPDATE tickets SET line_count = line_count + ?, total_cents = total_cents + ? WHERE ticket_id = ?",
          {lines, cents, ticketId});
}

std::optional<std::string> deleteLine(QueryContext& context, const tickets::Ticket& ticket, const LineFacts& facts) {
  const Line& stored = *facts.stored;
  if (!facts.purchase) return kPurchaserGone;
  const LineMove change{stored.qty, 0, facts.others, facts.session ? facts.session->tranMax : 0};
  if (auto problem = lineMoveProblem(kDeleting, stored, *facts.purchase, change)) return problem;
  setBought(context.db, stored, facts.purchase->bought - stored.qty);
  context.db.send("DELETE FROM ticket_lines WHERE ticket_id = ? AND line = ?", {ticket.id, stored.number});
  moveTicketTotal(context.db, ticket.id, -1, -stored.qty * stored.cents);
  tickets::audit(context, ticket.receipt, stored.number, "delete", stored.values(), "");
  return std::nullopt;
}

std::optional<std::string> voidLines(QueryContext& context, const tickets::Ticket& ticket,
                                     const std::vector<LineWithTerms>& lines) {
  if (lines.empty()) return std::nullopt;
  if (!ticket.open) return "This ticket has already ended: its lines can no longer be deleted.";
  // Every purchaser is judged before any is moved, so a refusal changes nothing.
  std::vector<std::pair<Line, std::int64_t>> boughtAfter;
  for (const auto& [net, purchase] : netPerPurchaser(lines)) {
    if (!purchase) return kPurchaserGone;
    const std::int64_t after = purchase->bought - net.qty;
    if (auto problem = boughtWithinNeed(kVoiding, net, *purchase, after)) return problem;
    if (auto problem = boughtNotBelowZero(kVoiding, after)) return problem;
    boughtAfter.emplace_back(net, after);
  }
  for (const auto& [net, after] : boughtAfter) setBought(context.db, net, after);
  context.db.send("DELETE FROM ticket_lines WHERE ticket_id = ?", {ticket.id});
  context.db.send("UPDATE tickets SET line_count = 0, total_cents = 0 WHERE ticket_id = ?", {ticket.id});
  for (const LineWithTerms& line : lines)
    tickets::audit(context, ticket.receipt, line.first.number, "void", line.first.values(), "");
  return std::nullopt;
}

}  // namespace storeserver::queries::ledger
