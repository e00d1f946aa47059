#pragma once
// What a store's buying sessions have bought: per book and purchaser the
// quantity it buys, what was bought and its price.
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "server/admin/keyset.h"
#include "server/storage/storage.h"

namespace storeserver::admin {

// What a session asks of its tickets, as the handhelds apply it.
struct SessionRules {
  bool studentIdRequired = false;
  bool conditionCheck = false;
  std::int64_t withinPercent = 0;  // of a purchaser's quantity, from which the buyer hears it is nearly met
  std::int64_t tranWarning = 0;    // copies of a book per ticket above which the buyer confirms; 0: none
  std::int64_t tranMax = 0;        // copies of a book per ticket never exceeded; 0: none

  bool operator==(const SessionRules&) const = default;
};
// "student ID required, condition check, nearly met at 10 %, warning above 5, at most 10 a ticket"
std::string rulesText(const SessionRules& rules);

struct SessionRow {
  std::int64_t id = 0;
  std::int64_t store = 0;
  std::string description;
  bool open = false;
  SessionRules rules;
};

// A store's sessions, open ones first.
std::vector<SessionRow> sessionsOf(storage::Connection& db, std::int64_t store);
std::optional<SessionRow> findSession(storage::Connection& db, std::int64_t session);

// Empty: any.
struct PurchaseFilter {
  std::string purchaser;
  std::string status;
};

struct PurchaseRow {
  std::string itemId;
  std::string purchaser;
  std::string isbn;
  std::string title;
  std::string status;
  bool noLimit = false;
  std::int64_t buyQty = 0;
  std::int64_t bought = 0;
  std::int64_t buyPriceCents = 0;

  std::string need() const;
};

// A session's books and purchasers in book order, keyed by item and purchaser.
KeyedList purchaseList(std::int64_t session, const PurchaseFilter& filter);
PurchaseRow purchaseOf(const storage::Row& row);

struct PurchaseTotals {
  std::int64_t rows = 0;
  std::int64_t buyQty = 0;  // of purchasers with a limit
  std::int64_t bought = 0;
  std::int64_t boughtCents = 0;  // bought times the buy price
};
PurchaseTotals totalsOf(storage::Connection& db, std::int64_t session, const PurchaseFilter& filter);

// What the filters offer: the session's purchasers and statuses, sorted.
std::vector<std::string> purchasersOf(storage::Connection& db, std::int64_t session);
std::vector<std::string> statusesOf(storage::Connection& db, std::int64_t session);

// One CSV field, quoted when it holds a comma, a quote or a line break. One
// a spreadsheet would run as a formula (starting with =, +, -, @, a tab or a
// carriage return) is written quoted after an apostrophe, so it shows as text.
std::string csvField(const std::string& text);

}  // namespace storeserver::admin
