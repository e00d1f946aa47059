// sl_item {update_id, receipt, line, purchaser, session, item_id, qty, price}
// with packet type 0 (a new line), 1 (the line removed) or 2 (its quantity or
// price changed). The handheld has checked the line already; the server checks
// again what keeps the store's books right, and never takes the handheld's
// word for it. A line's quantity counts in its purchaser's bought_qty from the
// moment it is stored, so the last needed copy is sold once.
#include "server/log.h"
#include "server/queries/book_checks.h"
#include "server/queries/query.h"
#include "server/queries/tickets.h"
#include "wire/framing.h"
#include "wire/json_reader.h"
#include "wire/requests.h"
#include "wire/text.h"

namespace storeserver::queries {

using storage::integerAt;
using storage::textAt;

namespace {

constexpr std::int64_t kMinQty = -9999;
constexpr std::int64_t kMaxQty = 99999;
constexpr std::int64_t kMaxBought = 99999;
constexpr std::int64_t kMaxPriceCents = 9999999;

struct Line {
  std::int64_t number = 0;
  std::int64_t session = 0;
  std::string itemId;
  std::string purchaser;
  std::int64_t qty = 0;
  std::int64_t cents = 0;

  bool sameBookAs(const Line& other) const {
    return session == other.session && itemId == other.itemId && purchaser == other.purchaser;
  }
  std::string values() const {
    return "session=" + std::to_string(session) + " item=" + itemId + " purchaser=" + purchaser +
           " qty=" + std::to_string(qty) + " price=" + wire::formatCents(cents);
  }
};

struct Terms {
  bool noLimit = false;
  std::int64_t buyQty = 0;
  std::int64_t bought = 0;
  std::int64_t listedCents = 0;
};

std::optional<Line> storedLine(storage::Connection& db, std::int64_t ticketId, std::int64_t number) {
  const storage::Rows rows = db.query(
      "SELECT session_id, item_id, purchaser, qty, price_cents FROM ticket_lines WHERE ticket_id = ? AND line = ?",
      {ticketId, number});
  if (rows.empty()) return std::nullopt;
  const storage::Row& r = rows[0];
  return Line{number, integerAt(r, 0), textAt(r, 1), textAt(r, 2), integerAt(r, 3), integerAt(r, 4)};
}

std::optional<Terms> termsOf(storage::Connection& db, const Line& line) {
  const storage::Rows rows = db.query(
      "SELECT no_limit, buy_qty, bought_qty, listed_price_cents FROM book_purchasers"
      " WHERE session_id = ? AND item_id = ? AND purchaser = ?",
      {line.session, line.itemId, line.purchaser});
  if (rows.empty()) return std::nullopt;
  return Terms{integerAt(rows[0], 0) != 0, integerAt(rows[0], 1), integerAt(rows[0], 2), integerAt(rows[0], 3)};
}

// Moves the purchaser's bought quantity by delta; a sentence when it would leave its range.
std::optional<std::string> moveBought(storage::Connection& db, const Line& line, std::int64_t delta) {
  const std::optional<Terms> terms = termsOf(db, line);
  if (!terms) return "This purchaser no longer buys this book in this buying session; tell the back office.";
  const std::int64_t bought = terms->bought + delta;
  if (bought < 0) return "Copies of this line were already returned on another ticket, so it cannot be taken back.";
  if (bought > kMaxBought) return "Invalid Quantity.";
  db.execute("UPDATE book_purchasers SET bought_qty = ? WHERE session_id = ? AND item_id = ? AND purchaser = ?",
             {bought, line.session, line.itemId, line.purchaser});
  return std::nullopt;
}

std::int64_t otherLinesQty(storage::Connection& db, std::int64_t ticketId, const Line& line) {
  const storage::Rows rows = db.query(
      "SELECT COALESCE(SUM(qty), 0) FROM ticket_lines WHERE ticket_id = ? AND line <> ? AND lower(item_id) = lower(?)",
      {ticketId, line.number, line.itemId});
  return integerAt(rows[0], 0);
}

std::optional<std::string> sessionProblem(storage::Connection& db, const tickets::Ticket& ticket, const Line& line) {
  if (auto problem = openSessionProblem(db, line.session, ticket.store)) return problem;
  const storage::Rows rows =
      db.query("SELECT student_id_required FROM buying_sessions WHERE session_id = ?", {line.session});
  if (integerAt(rows[0], 0) != 0 && ticket.studentId.empty())
    return "This buying session needs a student ID: end this ticket and start one with the student's ID.";
  return std::nullopt;
}

std::optional<std::string> needProblem(const Terms& terms, std::int64_t boughtElsewhere, std::int64_t qty) {
  if (qty < 0 && boughtElsewhere + qty < 0) return "Cannot do negative sellin for more than the bought quantity.";
  if (qty <= 0 || terms.noLimit) return std::nullopt;
  const std::int64_t need = std::max<std::int64_t>(0, terms.buyQty - boughtElsewhere);
  if (need == 0) return "This purchaser needs no more copies of this book; only a return can be entered.";
  if (qty > need)
    return "This purchaser needs only " + std::to_string(need) + (need == 1 ? " more copy" : " more copies") +
           " of this book.";
  return std::nullopt;
}

// The checks of a line as it is to be stored; previousQty is what the line
// held before (0 for a new one), already counted in the purchaser's bought_qty.
std::optional<std::string> lineProblem(QueryContext& context, const tickets::Ticket& ticket, const Line& line,
                                       std::int64_t previousQty) {
  if (auto problem = sessionProblem(context.db, ticket, line)) return problem;
  const std::optional<Terms> terms = termsOf(context.db, line);
  if (!terms) return "This purchaser does not buy this book in this buying session: choose the purchaser again.";
  if (line.cents <= 0) return "Price must be greater than 0.00";
  if (terms->listedCents > 0 && line.cents > terms->listedCents)
    return "Temporary buy price must be less than the listed buy price.";
  if (line.qty == 0) return "Sellin quantity cannot be 0.";
  if (line.qty < kMinQty || line.qty > kMaxQty) return "Invalid Quantity.";
  if (auto problem = needProblem(*terms, terms->bought - previousQty, line.qty)) return problem;
  const storage::Rows limits =
      context.db.query("SELECT tran_max_qty FROM buying_sessions WHERE session_id = ?", {line.session});
  const std::int64_t max = integerAt(limits[0], 0);
  if (max > 0 && otherLinesQty(context.db, ticket.id, line) + line.qty > max)
    return "Sellin quantity exceeds the transaction maximum of " + std::to_string(max) + ".";
  return std::nullopt;
}

wire::Reply addLine(QueryContext& context, const tickets::Ticket& ticket, const Line& line) {
  if (storedLine(context.db, ticket.id, line.number))
    return errorReply("Line " + std::to_string(line.number) + " is already on this ticket: start the ticket again.");
  if (auto problem = lineProblem(context, ticket, line, 0)) return errorReply(*problem);
  if (auto problem = moveBought(context.db, line, line.qty)) return errorReply(*problem);
  context.db.execute(
      "INSERT INTO ticket_lines (ticket_id, line, session_id, item_id, purchaser, qty, price_cents)"
      " VALUES (?, ?, ?, ?, ?, ?, ?)",
      {ticket.id, line.number, line.session, line.itemId, line.purchaser, line.qty, line.cents});
  tickets::audit(context, ticket.receipt, line.number, "add", "", line.values());
  return doneReply();
}

wire::Reply changeLine(QueryContext& context, const tickets::Ticket& ticket, const Line& old, const Line& line) {
  if (auto problem = lineProblem(context, ticket, line, old.qty)) return errorReply(*problem);
  if (auto problem = moveBought(context.db, line, line.qty - old.qty)) return errorReply(*problem);
  context.db.execute("UPDATE ticket_lines SET qty = ?, price_cents = ? WHERE ticket_id = ? AND line = ?",
                     {line.qty, line.cents, ticket.id, line.number});
  tickets::audit(context, ticket.receipt, line.number, "change", old.values(), line.values());
  return doneReply();
}

}  // namespace

std::optional<std::string> tickets::removeLine(QueryContext& context, const Ticket& ticket, std::int64_t number,
                                               std::string_view action) {
  const std::optional<Line> old = storedLine(context.db, ticket.id, number);
  if (!old) return std::nullopt;
  if (auto problem = moveBought(context.db, *old, -old->qty)) return problem;
  context.db.execute("DELETE FROM ticket_lines WHERE ticket_id = ? AND line = ?", {ticket.id, number});
  tickets::audit(context, ticket.receipt, number, action, old->values(), "");
  return std::nullopt;
}

wire::Reply ticketItem(QueryContext& context, const nlohmann::json& arguments) {
  wire::JsonReader in(arguments, "sl_item request");
  const auto receipt = in.text("receipt", wire::requests::kMaxReceiptLength);
  const auto number = in.integer("line", 1, wire::requests::kMaxLineNumber);
  const auto purchaser = in.text("purchaser", wire::requests::kMaxPurchaserLength);
  const auto session = in.integer("session", 1, wire::requests::kMaxSessionId);
  const auto itemId = in.text("item_id", wire::requests::kMaxItemIdLength);
  const auto qty = in.integer("qty", INT32_MIN, INT32_MAX);
  const auto price = in.text("price", wire::requests::kMaxPriceLength);
  if (!in.ok()) return unreadableReply(context, in.error());
  const std::optional<std::int64_t> cents = wire::parseCents(*price);
  if (!cents || *cents > kMaxPriceCents)
    return errorReply("The price \"" + printable(*price, 16) + "\" is not a dollar amount: type it like 12.50.");

  std::string problem;
  const std::optional<tickets::Ticket> ticket = tickets::findOwn(context, *receipt, problem);
  if (!ticket) return errorReply(problem);
  if (!ticket->open) return errorReply("This ticket has already ended: start a new ticket.");

  const Line line{*number, *session, *itemId, *purchaser, *qty, *cents};
  const std::optional<Line> stored = storedLine(context.db, ticket->id, line.number);
  if (context.packet == wire::kPacketNewItem) return addLine(context, *ticket, line);
  // A line already taken off needs no second removal.
  if (!stored)
    return context.packet == wire::kPacketDelete
               ? doneReply()
               : errorReply("This line is no longer on the ticket: start the ticket again.");
  if (!stored->sameBookAs(line))
    return errorReply("Line " + std::to_string(line.number) +
                      " holds another book or purchaser on the store server: start the ticket again.");
  if (context.packet == wire::kPacketChange) return changeLine(context, *ticket, *stored, line);
  if (auto refused = tickets::removeLine(context, *ticket, line.number, "delete")) return errorReply(*refused);
  return doneReply();
}

}  // namespace storeserver::queries
