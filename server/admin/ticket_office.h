#pragma once
// A store's tickets as its manager reviews them: a day's tickets, the cash
// each buyer paid out that day, one ticket's lines and every change made to
// it, and the way out for a ticket a buyer left open.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "server/admin/keyset.h"
#include "server/queries/query.h"
#include "server/queries/tickets.h"
#include "server/storage/storage.h"

namespace storeserver::admin {

struct TicketRow {
  std::int64_t id = 0;
  std::string receipt;
  std::int64_t store = 0;
  std::string buyer;
  std::string studentId;
  std::string openedOn;
  bool open = false;
  std::int64_t lines = 0;
  std::int64_t totalCents = 0;
  std::optional<queries::tickets::Voiding> voiding;
};

enum class TicketState { Open, Ended, Voided };

// What a manager looks for among a store's tickets; an empty field matches any.
struct TicketSearch {
  std::string from, to;  // the days they opened, YYYY-MM-DD, both included
  std::string buyer;
  std::string studentId;
  std::string isbn13;  // of a book on one of its lines
  std::optional<TicketState> state;
};
// The store's tickets the search finds, in the order they opened.
KeyedList ticketsFound(std::int64_t store, const TicketSearch& search);
TicketRow ticketRowOf(const storage::Row& row);
std::optional<TicketRow> findTicket(storage::Connection& db, const std::string& receipt);

// What one buyer's tickets of the days from and to (both included) came to:
// ended tickets are paid out, open ones not yet, voided ones paid nothing.
struct BuyerCash {
  std::string buyer;
  std::int64_t endedTickets = 0;
  std::int64_t paidCents = 0;
  std::int64_t openTickets = 0;
  std::int64_t openCents = 0;
  std::int64_t voidedTickets = 0;
};
std::vector<BuyerCash> cashPerBuyer(storage::Connection& db, std::int64_t store, const std::string& from,
                                    const std::string& to);

struct TicketLineRow {
  std::int64_t line = 0;
  std::int64_t session = 0;
  std::string isbn;
  std::string title;
  std::string purchaser;
  std::int64_t qty = 0;
  std::int64_t priceCents = 0;
};
std::vector<TicketLineRow> linesOf(storage::Connection& db, std::int64_t ticketId);

struct AuditRow {
  std::int64_t id = 0;
  std::int64_t changedAtMs = 0;
  std::string userName;
  std::int64_t line = 0;  // 0: the whole ticket
  std::string action;
  std::string oldValues;
  std::string newValues;
};
// Every change of a ticket, oldest first.
KeyedList auditOf(const std::string& receipt);
AuditRow auditRowOf(const storage::Row& row);

enum class Closing {
  End,   // as the buyer's End: what it holds is bought
  Void,  // as the buyer's Delete, taking back what its lines bought, then ended
};
inline constexpr std::size_t kMaxReasonLength = 200;
// What is wrong with a reason a manager gave, as a sentence: whenBlank when
// none was given.
std::optional<std::string> reasonProblem(const std::string& reason, std::string_view whenBlank);

// Ends or voids an open ticket of the store under the rules a handheld's
// change meets, written to its audit trail in the name of the context's user
// with the reason; inside the caller's write transaction. The sentence for the
// manager when refused; nothing changes then.
std::optional<std::string> closeLeftTicket(queries::QueryContext& context, std::int64_t store,
                                           const std::string& receipt, Closing closing, const std::string& reason);

}  // namespace storeserver::admin
