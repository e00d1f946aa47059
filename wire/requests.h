#pragma once
// Request texts: what a query asks for, as a JSON object naming the request and
// its arguments. The programs build them; the server reads and checks them.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include <nlohmann/json.hpp>

namespace wire::requests {

inline constexpr std::string_view kSessions = "sl_sessions";
inline constexpr std::string_view kAidAccounts = "aid_accounts";
inline constexpr std::string_view kAdoptionsByStudent = "adoptra_student";
inline constexpr std::string_view kAdoptionsByItem = "adoptra_item";
inline constexpr std::string_view kAdoptionDetail = "adoptra_detail";
inline constexpr std::string_view kAdoptionPrint = "adoptra_print";

inline constexpr std::string_view kItemDetail = "sl_item_detail";
inline constexpr std::string_view kPurchasers = "sl_purchasers";
inline constexpr std::string_view kStolenItems = "sl_stolen_items";
inline constexpr std::string_view kProduct = "product";
inline constexpr std::string_view kInventory = "inventory";

// Sellin's ticket. The two queries come with packet type 3; an item update
// with 0 (new line), 1 (line removed) or 2 (line changed); a transaction
// update with 1 (remove the ticket's lines) or 2 (end the ticket).
inline constexpr std::string_view kTicket = "sl_ticket";
inline constexpr std::string_view kReceiptPrint = "sl_print";
inline constexpr std::string_view kTicketItem = "sl_item";
inline constexpr std::string_view kTicketTran = "sl_tran";
inline constexpr std::string_view kTicketLines = "sl_lines";
inline constexpr std::string_view kOpenTickets = "sl_open_tickets";

inline constexpr std::size_t kMaxStudentIdLength = 20;
inline constexpr std::int64_t kMaxStoreNumber = 9999;
inline constexpr std::size_t kMaxItemCodeLength = 64;  // a code or title words as scanned or typed
inline constexpr std::size_t kMaxItemIdLength = 12;    // the width of item_id in its record
inline constexpr std::int64_t kMaxSessionId = 99999999;
inline constexpr std::int64_t kMaxSku = 99999999;
inline constexpr std::size_t kMaxReceiptLength = 10;    // the width of receipt in its record
inline constexpr std::size_t kMaxPurchaserLength = 30;  // the width of purchaser in its record
inline constexpr std::size_t kMaxPriceLength = 16;      // a price as typed, "12.50"
inline constexpr std::int64_t kMaxLineNumber = 99999;
inline constexpr std::size_t kUpdateIdLength = 36;  // a UUID in its text form

// Sellin's buying sessions of a store, for a buyer checked by user and password.
std::string sessions(std::string_view buyerUser, std::string_view buyerPassword, std::int64_t storeNumber);
// A student's aid charge accounts.
std::string aidAccounts(std::string_view studentId);
// Course sections that adopted books, with the problem reports of those books:
// those a student is enrolled in, or those that adopted an item (SKU or ISBN).
// restrict: only the logged-in user's own store may be asked.
std::string adoptionsByStudent(std::string_view studentId, std::int64_t storeNumber, bool restrict);
std::string adoptionsByItem(std::string_view itemCode, std::int64_t storeNumber, bool restrict);
// The books adopted for one course section, with a store's prices and stock.
std::string adoptionDetail(std::string_view term, std::string_view department, std::string_view course,
                           std::string_view section, std::int64_t storeNumber);
// The receipt printout of a student's or an item's adoptions.
std::string adoptionPrint(std::string_view code, std::int64_t storeNumber, bool student);
// Sellin: the books of a store matching a code or title words, paged.
std::string itemDetail(std::int64_t sessionId, std::string_view code, std::int64_t storeNumber);
// Sellin: the purchasers of a book in a session, with their terms.
std::string purchasers(std::int64_t sessionId, std::string_view itemId, std::int64_t storeNumber);
// Sellin: the stolen-book reports of a SKU at a store; the student is the ticket's.
std::string stolenItems(std::int64_t sku, std::string_view studentId, std::int64_t storeNumber);
// The item lookup: the product record and the store's inventory record of a SKU.
std::string product(std::string_view code, std::int64_t storeNumber);
std::string inventory(std::string_view code, std::int64_t storeNumber);

// Sellin's ticket: the open ticket of a buyer for a student (empty when the
// session takes none); its reply is one receipt record (layouts::receipt).
std::string ticket(std::string_view buyerUser, std::string_view studentId, std::int64_t storeNumber);
// The printable receipt of a ticket: text with CRLF line ends, for a 42-column printer.
// copy: a receipt printed again later, of any ticket of the store, headed as a copy;
// otherwise only the user's own ticket.
std::string receiptPrint(std::string_view receipt, std::int64_t storeNumber, bool copy = false);
// The lines of one of the user's tickets as the server stored them, in line
// order: for each line three records, layouts::ticketLine(), the book
// (layouts::slDetail()) and the purchaser's terms (layouts::slPurchase()) as
// they stand without this line's own quantity, as the purchasers list showed
// them when the line was added. An empty text: the ticket has no lines.
std::string ticketLines(std::string_view receipt, std::int64_t storeNumber);
// The user's open tickets with lines at a store, newest first: layouts::openTicket() records;
// an empty text when there are none.
std::string openTickets(std::int64_t storeNumber);

// Updates are applied exactly once. Each update text carries "update_id", an
// identity the handheld makes once per change (a fresh UUID, made by the
// builder), so the same text sent again after a lost answer names the same
// change. The server stores the identity, with a digest of the update and its
// answer, in the same transaction as the change, and answers a repeat with that
// first answer without applying it again; the same identity with other
// contents is refused.
//
// One ticket line: {update_id, receipt, line, purchaser, session, item_id,
// qty, price}; price is the text as typed ("12.50"), read by the server into
// exact cents. A successful reply is an empty text.
std::string ticketItem(std::string_view updateId, std::string_view receipt, std::int64_t line,
                       std::string_view purchaser, std::int64_t sessionId, std::string_view itemId, std::int64_t qty,
                       std::string_view price);
// The whole ticket: {update_id, receipt}; removes its lines or ends it, by packet type.
std::string ticketTran(std::string_view updateId, std::string_view receipt);

// True for a UUID in its canonical text: 36 characters, lower-case hex digits
// in groups of 8-4-4-4-12 joined by '-'.
bool isCanonicalUpdateId(std::string_view text);

struct Request {
  std::string kind;
  nlohmann::json arguments;  // the whole object, "request" included
};

// Reads a request text; nullopt and a sentence in error when it is not a JSON
// object with a text member "request".
std::optional<Request> parse(std::string_view text, std::string& error);

}  // namespace wire::requests
