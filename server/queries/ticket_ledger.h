#pragma once
// What every change of a ticket's lines keeps true, whichever way it comes
// (add, change, delete, void): a purchaser's bought quantity never goes below
// 0, an addition never takes it past what the purchaser buys, and a ticket
// holds no more of one book than its session's transaction maximum. A line's
// quantity counts in its purchaser's bought_qty from the moment it is stored,
// so the last needed copy is sold once.
//
// Undoing a line (its delete, or the ticket's void) puts back exactly what the
// line took or gave back, so it is never held to what the purchaser buys: a
// mistaken return can always be taken off again, even when the purchaser has
// bought up to its quantity since. Bought may then pass what it buys, by no
// more than the returns undone put back, and no addition is taken until it is
// below again.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "server/queries/query.h"
#include "server/queries/tickets.h"

namespace storeserver::queries::ledger {

// A ticket line, as a handheld asks for it or as it is stored.
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
  std::string values() const;  // for the audit trail
};

// A purchaser's terms for a line's book in its session, as stored.
struct Purchase {
  bool noLimit = false;
  std::int64_t buyQty = 0;
  std::int64_t bought = 0;
  std::int64_t buyPriceCents = 0;
  std::int64_t listedCents = 0;
  bool conditionCheck = false;
};

struct SessionTerms {
  std::int64_t store = 0;
  bool open = false;
  bool studentIdRequired = false;
  bool conditionCheck = false;
  std::int64_t withinPercent = 0;
  std::int64_t tranWarning = 0;
  std::int64_t tranMax = 0;
};

// A stored line with its purchaser's terms, when it still has them.
using LineWithTerms = std::pair<Line, std::optional<Purchase>>;

// What a change of one line is judged on.
struct LineFacts {
  std::optional<Line> stored;  // the line stored under its number
  bool storeKnown = false;     // the ticket's store
  std::optional<SessionTerms> session;
  std::optional<Purchase> purchase;  // the line's purchaser's terms for its book in its session
  std::int64_t others = 0;  // the ticket's quantity of the book (item_id, letter case ignored) on its other lines
};

// The ticket of a receipt, as tickets::findOwn gives it, read in one
// statement with the facts of the line the handheld names (the stored line
// is judged on them only when it is the same book).
// The row lockers of sl_item (its ticket, its purchaser) and sl_tran (its
// ticket and, for a void, the purchasers of its lines).
void lockItemRows(storage::Connection& db, const nlohmann::json& arguments, int packet);
void lockTranRows(storage::Connection& db, const nlohmann::json& arguments, int packet);

std::optional<tickets::Ticket> findOwnWithLine(QueryContext& context, const std::string& receipt, const Line& line,
                                               LineFacts& facts, std::string& problem);
// The same with every line of the ticket, in line order, each with its
// purchaser's terms when it still has them.
std::optional<tickets::Ticket> findOwnWithLines(QueryContext& context, const std::string& receipt,
                                                std::vector<LineWithTerms>& lines, std::string& problem);
// The same for any ticket, whoever opened it, as the back office reads it.
std::optional<tickets::Ticket> findWithLines(storage::Connection& db, const std::string& receipt,
                                             std::vector<LineWithTerms>& lines);

// A change of lines as its refusals name it.
struct Move {
  std::string_view what;     // "Deleting this line"
  bool wholeTicket = false;  // a void: the clerk's way out is to end the ticket
  bool undoes = false;       // takes lines off: not held to what the purchaser buys
};
inline constexpr Move kAdding{"This line"};
inline constexpr Move kChanging{"This change"};
inline constexpr Move kDeleting{"Deleting this line", false, true};
inline constexpr Move kVoiding{"Voiding this ticket", true, true};

// One line's quantity going from oldQty to newQty (0: no line there), with
// the same book's quantity on the ticket's other lines and the session's maximum.
struct LineMove {
  std::int64_t oldQty = 0;
  std::int64_t newQty = 0;
  std::int64_t others = 0;
  std::int64_t tranMax = 0;
};

// The first invariant the move would break, as the clerk's sentence. A move
// that only lowers bought or the ticket's quantity is never held to the need
// or the maximum, which an import may have lowered since the copies were bought.
std::optional<std::string> lineMoveProblem(const Move& move, const Line& line, const Purchase& purchase,
                                           const LineMove& change);

void setBought(storage::Connection& db, const Line& line, std::int64_t bought);
// Moves the count of lines and the total a ticket keeps beside its lines.
void moveTicketTotal(storage::Connection& db, std::int64_t ticketId, std::int64_t lines, std::int64_t cents);

// Takes the stored line of facts off the ticket and its quantity out of
// bought; the sentence when that would break an invariant, and then nothing changes.
std::optional<std::string> deleteLine(QueryContext& context, const tickets::Ticket& ticket, const LineFacts& facts);

// Takes every line (with its purchaser's terms) off an open ticket as a
// whole: each purchaser's bought moves by the net of its lines, whatever
// their order. Refused whole, changing nothing, when one purchaser's cannot,
// or the ticket has ended.
std::optional<std::string> voidLines(QueryContext& context, const tickets::Ticket& ticket,
                                     const std::vector<LineWithTerms>& lines);

}  // namespace storeserver::queries::ledger
