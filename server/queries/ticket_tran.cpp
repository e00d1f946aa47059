// sl_tran {update_id, receipt} with packet type 1 (void: take every line off
// the ticket as a whole, and end it as voided) or 2 (end the ticket). Ending
// an ended ticket, or voiding one without lines, succeeds without a change:
// an empty open ticket stays open, to be handed out again.
#include "server/queries/query.h"
#include "server/queries/ticket_ledger.h"
#include "server/queries/tickets.h"
#include "wire/json_reader.h"
#include "wire/requests.h"

namespace storeserver::queries {

namespace {

wire::Reply endTicket(QueryContext& context, const tickets::Ticket& ticket) {
  if (!ticket.open) return doneReply();
  context.db.send("UPDATE tickets SET is_open = 0 WHERE ticket_id = ?", {ticket.id});
  tickets::audit(context, ticket.receipt, 0, "end", "open", "ended");
  return doneReply();
}

wire::Reply voidTicket(QueryContext& context, const std::string& receipt) {
  std::string problem;
  std::vector<ledger::LineWithTerms> lines;
  const std::optional<tickets::Ticket> ticket = ledger::findOwnWithLines(context, receipt, lines, problem);
  if (!ticket) return errorReply(problem);
  if (lines.empty()) return doneReply();
  if (auto refused = ledger::voidLines(context, *ticket, lines)) return errorReply(*refused);
  tickets::endVoided(context, *ticket, tickets::kHandheldVoidReason);
  tickets::audit(context, ticket->receipt, 0, "void", "open", std::string("voided: ") + tickets::kHandheldVoidReason);
  return doneReply();
}

}  // namespace

wire::Reply ticketTran(QueryContext& context, const nlohmann::json& arguments) {
  wire::JsonReader in(arguments, "sl_tran request");
  const auto receipt = in.text("receipt", wire::requests::kMaxReceiptLength);
  if (!in.ok()) return unreadableReply(context, in.error());
  if (context.packet != wire::kPacketChange) return voidTicket(context, *receipt);
  std::string problem;
  const std::optional<tickets::Ticket> ticket = tickets::findOwn(context, *receipt, problem);
  return ticket ? endTicket(context, *ticket) : errorReply(problem);
}

}  // namespace storeserver::queries
