#pragma once
// What the ticket's handlers share: the ticket of a receipt, whose it is, and
// the audit trail every change of a ticket leaves.
#include <cstdint>
#include <optional>
#include <string>

#include "server/queries/query.h"

namespace storeserver::queries::tickets {

struct Ticket {
  std::int64_t id = 0;
  std::string receipt;
  std::int64_t store = 0;
  std::int64_t userId = 0;
  std::string buyer;
  std::string studentId;
  std::string openedOn;
  bool open = false;
};

std::optional<Ticket> find(storage::Connection& db, const std::string& receipt);

// A ticket's receipt as the handheld prints it, headed as a copy when printed again.
std::string receiptPrintout(storage::Connection& db, const Ticket& ticket, bool copy);

// A ticket's receipt number: its id, with leading zeros to eight digits.
std::string receiptOf(std::int64_t ticketId);

// The day a ticket opened at this time is dated: YYYY-MM-DD, in UTC.
std::string dayOf(std::int64_t nowMs);
// The minute of a time as a manager reads it: 2026-05-04 09:31 UTC.
std::string minuteOf(std::int64_t ms);

// How a ticket was voided: its lines taken back, then ended.
struct Voiding {
  std::int64_t atMs = 0;
  std::string by;
  std::string reason;
};
// What such a ticket reads wherever it is shown: "voided 2026-05-04 09:31 UTC by office: wrong student".
std::string voidedWords(const Voiding& voiding);
// The void of a ticket, when it was voided.
std::optional<Voiding> voidingOf(storage::Connection& db, std::int64_t ticketId);
// The reason a handheld's Delete of a ticket's data gives its void.
inline constexpr const char* kHandheldVoidReason = "deleted on the handheld";
// Ends an open ticket whose lines were all taken back as voided, now, by the context's user.
void endVoided(QueryContext& context, const Ticket& ticket, const std::string& reason);

// The columns of a Ticket over tickets t, read back by ticketOf.
extern const char* const kTicketColumns;
inline constexpr std::size_t kTicketColumnCount = 8;
Ticket ticketOf(const storage::Row& row);

// A ticket with what the handlers that change it read beside it in the same
// statement: kOwnTicketColumns from tickets t, with ownTicketValues() as the
// statement's first parameters; ownTicketOf() reads back the row's first
// kOwnTicketColumnCount columns.
extern const std::string kOwnTicketColumns;
inline constexpr std::size_t kOwnTicketColumnCount = 9;
std::vector<storage::Value> ownTicketValues(const QueryContext& context);
// The ticket when it is one its user opened and this log-in holds a buyer's
// rights at its store; otherwise the sentence for the clerk in problem.
std::optional<Ticket> ownTicketOf(QueryContext& context, const storage::Rows& rows, std::string& problem);

// The buyer whose rights this log-in proved at a store (see provenBuyer);
// otherwise the sentence for the clerk in problem.
std::optional<User> buyerAt(QueryContext& context, std::int64_t store, std::string& problem);

// The ticket a handheld names, when it is one its user opened and this log-in
// holds a buyer's rights at its store; otherwise the sentence for the clerk in
// problem.
std::optional<Ticket> findOwn(QueryContext& context, const std::string& receipt, std::string& problem);
// The same, when the ticket is also one of this store.
std::optional<Ticket> findOwnAt(QueryContext& context, const std::string& receipt, std::int64_t store,
                                std::string& problem);

// Records one change: line 0 stands for the whole ticket.
void audit(QueryContext& context, const std::string& receipt, std::int64_t line, std::string_view action,
           const std::string& oldValues, const std::string& newValues);

}  // namespace storeserver::queries::tickets
