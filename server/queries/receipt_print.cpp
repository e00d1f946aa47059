// sl_print {receipt, store, copy}: a ticket's receipt, built from its stored
// lines, for a 42-column receipt printer. The total is summed in cents, so it
// is exactly the sum of quantity times price of the lines printed. The user's
// own ticket, or with copy any ticket of the store, printed again later and
// headed as a copy; a copy's receipt number may be typed without its leading
// zeros. A voided ticket's receipt says when, by whom and why in place of its
// lines, which were taken back.
#include <algorithm>

#include "server/log.h"
#include "server/queries/printout.h"
#include "server/queries/query.h"
#include "server/queries/tickets.h"
#include "wire/json_reader.h"
#include "wire/money.h"
#include "wire/requests.h"

namespace storeserver::queries {

using storage::integerAt;
using storage::textAt;

namespace {

constexpr std::size_t kIndent = 2;
constexpr const char* kCopyHeading = "*** COPY ***";

// A receipt number as a buyer types it, with or without its leading zeros
// ("1" is receipt 00000001); any other text is looked up as it is.
std::string fullReceipt(const std::string& typed) {
  const bool digits = !typed.empty() && typed.size() <= wire::requests::kMaxReceiptLength &&
                      std::all_of(typed.begin(), typed.end(), [](char c) { return c >= '0' && c <= '9'; });
  return digits ? tickets::receiptOf(std::stoll(typed)) : typed;
}

// A receipt printed again: any ticket of the store, whoever opened it.
std::optional<tickets::Ticket> storeTicket(QueryContext& context, const std::string& receipt, std::int64_t store,
                                           std::string& problem) {
  std::optional<tickets::Ticket> ticket = tickets::find(context.db, fullReceipt(receipt));
  const std::string shown = printable(receipt, wire::requests::kMaxReceiptLength);
  if (!ticket) problem = "There is no receipt " + shown + " at this store.";
  else if (ticket->store != store) problem = "Receipt " + shown + " is not a receipt of this store.";
  else return ticket;
  return std::nullopt;
}

std::string dollars(std::int64_t cents) {
  return (cents < 0 ? "-$" : "$") + wire::formatCents(cents < 0 ? -cents : cents);
}

void addHeader(Printout& out, storage::Connection& db, const tickets::Ticket& ticket, bool voided) {
  const storage::Rows stores = db.query("SELECT name FROM stores WHERE store_num = ?", {ticket.store});
  out.add(stores.empty() ? "Store " + std::to_string(ticket.store) : textAt(stores[0], 0));
  out.pair("Store " + std::to_string(ticket.store), "Receipt " + ticket.receipt);
  out.pair("Date " + ticket.openedOn, ticket.open ? "open" : voided ? "voided" : "ended");
  out.add("Buyer: " + ticket.buyer);
  if (!ticket.studentId.empty()) out.add("Student: " + ticket.studentId);
  out.rule('=');
}

// Adds the lines; gives their total in cents.
std::int64_t addLines(Printout& out, storage::Connection& db, const tickets::Ticket& ticket) {
  const storage::Rows lines = db.query(
      "SELECT b.isbn13, b.title, l.qty, l.price_cents FROM ticket_lines l JOIN books b ON b.item_id = l.item_id"
      " WHERE l.ticket_id = ? ORDER BY l.line",
      {ticket.id});
  std::int64_t total = 0;
  for (const storage::Row& r : lines) {
    const std::int64_t qty = integerAt(r, 2), cents = integerAt(r, 3);
    total += qty * cents;
    out.add("ISBN " + textAt(r, 0));
    out.add(textAt(r, 1), kIndent);
    out.pair("  " + std::to_string(qty) + " x " + dollars(cents), dollars(qty * cents));
  }
  if (lines.empty()) out.add("No books on this ticket.");
  out.rule('-');
  return total;
}

void addVoiding(Printout& out, const tickets::Voiding& voiding) {
  out.add("VOIDED " + tickets::minuteOf(voiding.atMs) + " by " + voiding.by);
  out.add("Reason: " + voiding.reason);
  out.add("Its books were taken back: nothing was paid on this ticket.");
  out.rule('-');
}

}  // namespace

std::string tickets::receiptPrintout(storage::Connection& db, const Ticket& ticket, bool copy) {
  Printout out;
  if (copy) out.add(kCopyHeading);
  const std::optional<Voiding> voiding = ticket.open ? std::nullopt : voidingOf(db, ticket.id);
  addHeader(out, db, ticket, voiding.has_value());
  std::int64_t total = 0;
  if (voiding) addVoiding(out, *voiding);
  else total = addLines(out, db, ticket);
  out.pair("Total", dollars(total));
  return out.take();
}

wire::Reply receiptPrint(QueryContext& context, const nlohmann::json& arguments) {
  wire::JsonReader in(arguments, "sl_print request");
  const auto receipt = in.text("receipt", wire::requests::kMaxReceiptLength);
  const auto store = in.integer("store", 1, wire::requests::kMaxStoreNumber);
  // Handhelds of the previous release send no copy flag.
  const bool copy = arguments.contains("copy") && in.flag("copy").value_or(false);
  if (!in.ok()) return unreadableReply(context, in.error());
  std::string problem;
  if (copy && !tickets::buyerAt(context, *store, problem)) return errorReply(problem);
  const std::optional<tickets::Ticket> ticket =
      copy ? storeTicket(context, *receipt, *store, problem) : tickets::findOwnAt(context, *receipt, *store, problem);
  if (!ticket) return errorReply(problem);
  return recordsReply(tickets::receiptPrintout(context.db, *ticket, copy));
}

}  // namespace storeserver::queries
