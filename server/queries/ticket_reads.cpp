// A ticket as the server stored it, for a handheld that lost track of it (an
// update whose answer never came, a restart) or continues it later.
//
// sl_lines {receipt, store}: the lines of one of the user's tickets, ended or
// open, in line order; per line a TLN record, the book's SLD record and the
// purchaser's SLP record with the terms as they stand without this line's own
// quantity, so an edit of the line is judged as its add was. A purchaser whose
// terms were removed since comes with its name and nothing to buy (buy, bought
// and need 0, no prices), so the handheld refuses an edit as the server will.
//
// sl_open_tickets {store}: the user's open tickets with lines at a store,
// newest first, one OTK record each.
//
// Both answer only a log-in that holds a buyer's rights at the store.
#include "server/queries/query.h"
#include "server/queries/sellin_records.h"
#include "server/queries/tickets.h"
#include "wire/framing.h"
#include "wire/json_reader.h"
#include "wire/requests.h"

namespace storeserver::queries {

using storage::integerAt;
using storage::textAt;

namespace {

// A stored line as selected: line, session_id, item_id, purchaser, qty, price_cents.
std::optional<std::string> lineRecord(const storage::Row& line, std::string& error) {
  wire::RecordWriter record(wire::layouts::ticketLine());
  record.integer(integerAt(line, 0))
      .integer(integerAt(line, 1))
      .text(textAt(line, 2))
      .text(textAt(line, 3))
      .integer(integerAt(line, 4))
      .money(integerAt(line, 5));
  auto text = record.finish();
  if (!text) error = record.error();
  return text;
}

std::optional<std::string> bookOf(storage::Connection& db, const storage::Row& line, std::int64_t store,
                                  std::string& error) {
  const storage::Rows rows =
      db.query("SELECT " + kBookRecordColumns + " FROM books b WHERE b.item_id = ?", {store, line[2]});
  if (rows.empty()) {
    error = "book " + textAt(line, 2) + " of a ticket line is not in the catalogue";
    return std::nullopt;
  }
  return bookRecord(rows[0], error);
}

std::optional<std::string> termsOf(storage::Connection& db, const storage::Row& line, std::string& error) {
  storage::Rows rows = db.query(std::string("SELECT ") + kPurchaserRecordColumns +
                                    " FROM book_purchasers WHERE session_id = ? AND item_id = ? AND purchaser = ?",
                                {line[1], line[2], line[3]});
  const std::int64_t qty = integerAt(line, 4);
  if (rows.empty()) {
    const storage::Value zero = std::int64_t(0);
    rows.push_back({line[3], zero, zero, zero, qty, zero, zero, zero, zero, "", "", zero});
  }
  return purchaserRecord(rows[0], qty, error);
}

}  // namespace

wire::Reply ticketLines(QueryContext& context, const nlohmann::json& arguments) {
  wire::JsonReader in(arguments, "sl_lines request");
  const auto receipt = in.text("receipt", wire::requests::kMaxReceiptLength);
  const auto store = in.integer("store", 1, wire::requests::kMaxStoreNumber);
  if (!in.ok()) return unreadableReply(context, in.error());
  std::string problem;
  const std::optional<tickets::Ticket> ticket = tickets::findOwnAt(context, *receipt, *store, problem);
  if (!ticket) return errorReply(problem);

  const storage::Rows lines = context.db.query(
      "SELECT line, session_id, item_id, purchaser, qty, price_cents FROM ticket_lines WHERE ticket_id = ?"
      " ORDER BY line",
      {ticket->id});
  std::string records;
  for (const storage::Row& line : lines) {
    std::string error;
    for (const auto& record :
         {lineRecord(line, error), bookOf(context.db, line, *store, error), termsOf(context.db, line, error)}) {
      if (!record)
        return unsendableReply(context, "Line " + std::to_string(integerAt(line, 0)) + " of this ticket", error);
      records += *record;
    }
  }
  return recordsReply(std::move(records));
}

wire::Reply openTickets(QueryContext& context, const nlohmann::json& arguments) {
  wire::JsonReader in(arguments, "sl_open_tickets request");
  const auto store = in.integer("store", 1, wire::requests::kMaxStoreNumber);
  if (!in.ok()) return unreadableReply(context, in.error());
  std::string problem;
  if (!tickets::buyerAt(context, *store, problem)) return errorReply(problem);

  const storage::Rows rows = context.db.query(
      "SELECT t.receipt, t.student_id, t.opened_on, COUNT(*), CAST(SUM(l.qty * l.price_cents) AS BIGINT)"
      " FROM tickets t JOIN ticket_lines l ON l.ticket_id = t.ticket_id"
      " WHERE t.user_id = ? AND t.store_num = ? AND t.is_open = 1"
      " GROUP BY t.ticket_id, t.receipt, t.student_id, t.opened_on ORDER BY t.ticket_id DESC",
      {context.user.id, *store});
  std::string records;
  for (const storage::Row& r : rows) {
    wire::RecordWriter record(wire::layouts::openTicket());
    record.text(textAt(r, 0)).text(textAt(r, 1)).text(textAt(r, 2)).integer(integerAt(r, 3)).money(integerAt(r, 4));
    const auto text = record.finish();
    if (!text) return unsendableReply(context, "Ticket " + textAt(r, 0), record.error());
    records += *text;
  }
  return recordsReply(std::move(records));
}

}  // namespace storeserver::queries
