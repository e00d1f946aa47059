#include <cctype>

#include "server/admin/key_pager.h"
#include "server/admin/office_pages.h"
#include "server/admin/ticket_office.h"
#include "server/log.h"
#include "server/queries/item_codes.h"
#include "server/queries/tickets.h"
#include "wire/money.h"
#include "wire/requests.h"

namespace storeserver::admin {

namespace {

bool isDay(const std::string& text) {
  static constexpr std::string_view kShape = "0000-00-00";
  if (text.size() != kShape.size()) return false;
  for (std::size_t i = 0; i < text.size(); ++i)
    if ((kShape[i] == '0') != (std::isdigit(static_cast<unsigned char>(text[i])) != 0)) return false;
  return true;
}

// The ticket a URL or form names, when it is one of the page's store.
TicketRow ticketOf(const PageContext& page, const std::string& receipt) {
  std::optional<TicketRow> ticket =
      receipt.size() <= wire::requests::kMaxReceiptLength ? findTicket(page.db, receipt) : std::nullopt;
  if (!ticket || ticket->store != page.store)
    throw Refusal("Store " + std::to_string(page.store) + " has no ticket " +
                  printable(receipt, wire::requests::kMaxReceiptLength) + ".");
  return *ticket;
}

View ticketView(const TicketRow& t) {
  View row;
  row.set("receipt", t.receipt);
  row.set("buyer", t.buyer);
  row.set("student", t.studentId);
  row.set("hasStudent", !t.studentId.empty());
  row.set("openedOn", t.openedOn);
  row.set("lines", wire::formatCount(t.lines));
  row.set("total", wire::formatMoney(t.totalCents));
  row.set("open", t.open);
  row.set("voided", t.voiding.has_value());
  row.set("state", t.open ? "open" : t.voiding ? queries::tickets::voidedWords(*t.voiding) : "ended");
  return row;
}

constexpr std::pair<std::string_view, TicketState> kStates[] = {
    {"open", TicketState::Open}, {"ended", TicketState::Ended}, {"voided", TicketState::Voided}};

std::string isbnOf(const std::string& typed) {
  const queries::ItemCode code = queries::readItemCode(typed);
  if (code.kind == queries::ItemCode::Kind::Isbn) return code.isbn13;
  if (code.kind == queries::ItemCode::Kind::Invalid && !code.problem.empty()) throw Refusal(code.problem);
  throw Refusal("Type the book's ISBN, 13 or 10 digits, such as 978-0-13-468599-1.");
}

// The search the URL asks for; without one, the day's tickets (day=, today unless named).
TicketSearch searchOf(const PageContext& page) {
  TicketSearch search;
  search.from = chosenDay(page, page.query.has("from") ? page.query["from"] : page.query["day"]);
  search.to = page.query["to"].empty() ? search.from : chosenDay(page, page.query["to"]);
  if (search.to < search.from)
    throw Refusal("The last day, " + search.to + ", comes before the first, " + search.from + ".");
  search.buyer = page.query["buyer"];
  search.studentId = page.query["student"];
  if (!page.query["isbn"].empty()) search.isbn13 = isbnOf(page.query["isbn"]);
  const std::string& state = page.query["state"];
  for (const auto& [name, value] : kStates)
    if (state == name) search.state = value;
  if (!state.empty() && !search.state) throw Refusal("Choose open, ended, voided or every state.");
  return search;
}

// The search's form as filled in, and its fields for the pages' links.
std::string describeSearch(const PageContext& page, const TicketSearch& search, View& view) {
  view.set("from", search.from);
  view.set("to", search.to);
  view.set("days", search.from == search.to ? "of " + search.from : "from " + search.from + " to " + search.to);
  std::string fields = "&from=" + search.from + "&to=" + search.to;
  for (const char* field : {"buyer", "student", "isbn", "state"}) {
    view.set(field, page.query[field]);
    if (!page.query[field].empty()) fields += "&" + std::string(field) + "=" + urlEncoded(page.query[field]);
  }
  ViewList states;
  for (const auto& [name, value] : kStates) {
    View option("name", std::string(name));
    option.set("chosen", search.state == value);
    states.push_back(option);
  }
  view.set("states", states);
  return fields;
}

void describeDays(PageContext& page, View& view) {
  const TicketSearch search = searchOf(page);
  const std::string fields = describeSearch(page, search, view);
  ViewList cash;
  for (const BuyerCash& c : cashPerBuyer(page.db, page.store, search.from, search.to)) {
    View row;
    row.set("buyer", c.buyer);
    row.set("ended", wire::formatCount(c.endedTickets));
    row.set("paid", wire::formatMoney(c.paidCents));
    row.set("open", wire::formatCount(c.openTickets));
    row.set("unpaid", wire::formatMoney(c.openCents));
    row.set("voided", wire::formatCount(c.voidedTickets));
    cash.push_back(row);
  }
  view.set("noCash", cash.empty());
  view.set("cash", cash);
  const std::string base = "/admin/tickets?store=" + std::to_string(page.store) + fields;
  ViewList tickets;
  for (const storage::Row& r : readPage(page.db, ticketsFound(page.store, search), page.query, view, base).rows)
    tickets.push_back(ticketView(ticketRowOf(r)));
  view.set("noTickets", tickets.empty());
  view.set("tickets", tickets);
}

void describeTicket(PageContext& page, const TicketRow& ticket, View& view) {
  view.set("ticket", ticketView(ticket));
  ViewList lines;
  for (const TicketLineRow& l : linesOf(page.db, ticket.id)) {
    View row;
    row.set("line", std::to_string(l.line));
    row.set("isbn", l.isbn);
    row.set("title", l.title);
    row.set("purchaser", l.purchaser);
    row.set("qty", wire::formatCount(l.qty));
    row.set("price", wire::formatMoney(l.priceCents));
    lines.push_back(row);
  }
  view.set("noLines", lines.empty());
  view.set("ticketLines", lines);
  const std::string base = "/admin/tickets?store=" + std::to_string(page.store) + "&receipt=" + ticket.receipt;
  ViewList trail;
  for (const storage::Row& r : readPage(page.db, auditOf(ticket.receipt), page.query, view, base).rows) {
    const AuditRow a = auditRowOf(r);
    View row;
    row.set("when", logTime(std::chrono::system_clock::time_point(std::chrono::milliseconds(a.changedAtMs))));
    row.set("who", a.userName);
    row.set("line", a.line == 0 ? std::string("ticket") : std::to_string(a.line));
    row.set("action", a.action);
    row.set("before", a.oldValues);
    row.set("after", a.newValues);
    trail.push_back(row);
  }
  view.set("trail", trail);
}

// One row per line, the ticket's own fields on each; a ticket without lines, such as a voided one, on one row.
std::string ticketCsv(const TicketRow& ticket, const std::vector<TicketLineRow>& lines) {
  using wire::formatCents;
  std::string csv =
      "Receipt,Student,Buyer,Opened,State,Voided at,Voided by,Void reason,Session,Line,ISBN,Title,Purchaser,Quantity,"
      "Price,Line total\r\n";
  const auto& v = ticket.voiding;
  const std::string ticketFields =
      csvField(ticket.receipt) + "," + csvField(ticket.studentId) + "," + csvField(ticket.buyer) + "," +
      csvField(ticket.openedOn) + "," +
      (ticket.open ? "open"
       : v         ? "voided"
                   : "ended") +
      "," + (v ? queries::tickets::minuteOf(v->atMs) + "," + csvField(v->by) + "," + csvField(v->reason) : ",,") + ",";
  for (const TicketLineRow& l : lines)
    csv += ticketFields + std::to_string(l.session) + "," + std::to_string(l.line) + "," + csvField(l.isbn) + "," +
           csvField(l.title) + "," + csvField(l.purchaser) + "," + std::to_string(l.qty) + "," +
           formatCents(l.priceCents) + "," + formatCents(l.qty * l.priceCents) + "\r\n";
  if (lines.empty()) csv += ticketFields + ",,,,,,,\r\n";
  return csv;
}

}  // namespace

CsvFile ticketFile(PageContext& page) {
  const TicketRow ticket = ticketOf(page, page.query["receipt"]);
  return {"ticket-" + ticket.receipt + ".csv", ticketCsv(ticket, linesOf(page.db, ticket.id))};
}

std::string chosenDay(const PageContext& page, const std::string& named) {
  if (named.empty()) return queries::tickets::dayOf(page.nowMs);
  if (!isDay(named)) throw Refusal("A day is written YYYY-MM-DD, such as 2026-05-04.");
  return named;
}

View showTickets(PageContext& page) {
  View view;
  const std::string& receipt = page.form.has("receipt") ? page.form["receipt"] : page.query["receipt"];
  if (receipt.empty()) describeDays(page, view);
  else describeTicket(page, ticketOf(page, receipt), view);
  return view;
}

std::string closeTicket(PageContext& page, Audit& audit) {
  const std::string& receipt = page.form["receipt"];
  const std::string& chosen = page.form["closing"];
  if (chosen != "end" && chosen != "void") throw Refusal("Choose End or Void for the ticket.");
  const Closing closing = chosen == "end" ? Closing::End : Closing::Void;
  const std::string& reason = page.form["reason"];

  User manager;
  manager.id = page.manager.userId;
  manager.name = page.manager.name;
  std::optional<storage::Transaction> noReadTransaction;
  queries::QueryContext context{page.db, manager, page.site.services, page.nowMs, noReadTransaction, {}};
  if (auto refused = closeLeftTicket(context, page.store, receipt, closing, reason)) throw Refusal(*refused);
  audit.record(closing == Closing::End ? "end ticket" : "void ticket", receipt + ": " + reason);
  return "Ticket " + receipt + (closing == Closing::End ? " ended." : " voided: its lines were taken back.");
}

}  // namespace storeserver::admin
