// sl_item {update_id, receipt, line, purchaser, session, item_id, qty, price}
// with packet type 0 (a new line), 1 (the line removed) or 2 (its quantity or
// price changed). The handheld has checked the line already; the server runs
// the same buying rules again on what it has stored, and never takes the
// handheld's word for it.
#include "server/log.h"
#include "server/queries/book_checks.h"
#include "server/queries/query.h"
#include "server/queries/ticket_ledger.h"
#include "server/queries/tickets.h"
#include "wire/item_rules.h"
#include "wire/json_reader.h"
#include "wire/money.h"
#include "wire/requests.h"
#include "wire/text.h"

namespace storeserver::queries {

using ledger::Line;

namespace {

std::optional<std::string> sessionProblem(const tickets::Ticket& ticket, const ledger::LineFacts& facts) {
  const std::optional<ledger::SessionTerms>& session = facts.session;
  const bool atStore = session && session->store == ticket.store;
  if (auto problem = openSessionProblem(facts.storeKnown, atStore ? std::optional(session->open) : std::nullopt))
    return problem;
  if (session->studentIdRequired && wire::isBlank(ticket.studentId))
    return "This buying session needs a student ID: end this ticket and start one with the student's ID.";
  return std::nullopt;
}

// The rules' view of a line that replaces one of change.oldQty (0 for a new
// line), whose quantity already counts in the purchaser's bought_qty.
wire::rules::LineFacts factsOf(const Line& line, const ledger::Purchase& purchase, const ledger::SessionTerms& session,
                               const ledger::LineMove& change) {
  const std::int64_t boughtElsewhere = purchase.bought - change.oldQty;
  wire::rules::LineFacts facts;
  facts.qty = line.qty;
  facts.priceCents = line.cents;
  facts.listedCents = purchase.listedCents;
  facts.buyPriceCents = purchase.buyPriceCents;
  facts.need =
      purchase.noLimit ? wire::rules::kUnlimitedNeed : std::max<std::int64_t>(0, purchase.buyQty - boughtElsewhere);
  facts.bought = boughtElsewhere;
  facts.buyQty = purchase.buyQty;
  facts.others = change.others;
  facts.withinPercent = session.withinPercent;
  facts.tranWarning = session.tranWarning;
  facts.tranMax = session.tranMax;
  facts.conditionCheck = session.conditionCheck && purchase.conditionCheck;
  // Taking copies back is never held to the need or the maximum: an import
  // may have lowered them since the copies were bought.
  if (change.newQty <= change.oldQty) {
    facts.need = wire::rules::kUnlimitedNeed;
    facts.tranMax = 0;
  }
  return facts;
}

// Checks the line as it is to be stored in place of one of previousQty (0
// for a new one) and moves its purchaser's bought quantity by the difference.
std::optional<std::string> countLine(QueryContext& context, const tickets::Ticket& ticket, const Line& line,
                                     const ledger::LineFacts& facts, const ledger::Move& move,
                                     std::int64_t previousQty) {
  if (auto problem = sessionProblem(ticket, facts)) return problem;
  const std::optional<ledger::Purchase>& purchase = facts.purchase;
  if (!purchase) return "This purchaser does not buy this book in this buying session: choose the purchaser again.";
  const ledger::LineMove change{previousQty, line.qty, facts.others, facts.session->tranMax};
  if (auto refused = wire::rules::refusal(factsOf(line, *purchase, *facts.session, change))) return refused;
  if (auto problem = ledger::lineMoveProblem(move, line, *purchase, change)) return problem;
  ledger::setBought(context.db, line, purchase->bought - previousQty + line.qty);
  return std::nullopt;
}

wire::Reply addLine(QueryContext& context, const tickets::Ticket& ticket, const Line& line,
                    const ledger::LineFacts& facts) {
  if (facts.stored)
    return errorReply("Line " + std::to_string(line.number) + " is already on this ticket: start the ticket again.");
  if (auto problem = countLine(context, ticket, line, facts, ledger::kAdding, 0)) return errorReply(*problem);
  context.db.send("INSERT INTO ticket_lines (ticket_id, line, session_id, item_id, purchaser, qty, price_cents)"
                  " VALUES (?, ?, ?, ?, ?, ?, ?)",
                  {ticket.id, line.number, line.session, line.itemId, line.purchaser, line.qty, line.cents});
  ledger::moveTicketTotal(context.db, ticket.id, 1, line.qty * line.cents);
  tickets::audit(context, ticket.receipt, line.number, "add", "", line.values());
  return doneReply();
}

wire::Reply changeLine(QueryContext& context, const tickets::Ticket& ticket, const ledger::LineFacts& facts,
                       const Line& line) {
  const Line& old = *facts.stored;
  if (auto problem = countLine(context, ticket, line, facts, ledger::kChanging, old.qty)) return errorReply(*problem);
  context.db.send("UPDATE ticket_lines SET qty = ?, price_cents = ? WHERE ticket_id = ? AND line = ?",
                  {line.qty, line.cents, ticket.id, line.number});
  ledger::moveTicketTotal(context.db, ticket.id, 0, line.qty * line.cents - old.qty * old.cents);
  tickets::audit(context, ticket.receipt, line.number, "change", old.values(), line.values());
  return doneReply();
}

}  // namespace

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
  if (!cents)
    return errorReply("The price \"" + printable(*price, 16) + "\" is not a dollar amount: type it like 12.50.");

  const Line line{*number, *session, *itemId, *purchaser, *qty, *cents};
  std::string problem;
  ledger::LineFacts facts;
  const std::optional<tickets::Ticket> ticket = ledger::findOwnWithLine(context, *receipt, line, facts, problem);
  if (!ticket) return errorReply(problem);
  if (!ticket->open) return errorReply("This ticket has already ended: start a new ticket.");

  if (context.packet == wire::kPacketNewItem) return addLine(context, *ticket, line, facts);
  const std::optional<Line>& stored = facts.stored;
  // A line already taken off needs no second removal.
  if (!stored)
    return context.packet == wire::kPacketDelete
               ? doneReply()
               : errorReply("This line is no longer on the ticket: start the ticket again.");
  if (!stored->sameBookAs(line))
    return errorReply("Line " + std::to_string(line.number) +
                      " holds another book or purchaser on the store server: start the ticket again.");
  if (context.packet == wire::kPacketChange) return changeLine(context, *ticket, facts, line);
  if (auto refused = ledger::deleteLine(context, *ticket, facts)) return errorReply(*refused);
  return doneReply();
}

}  // namespace storeserver::queries
