#pragma once
// The records of a book and of a purchaser's terms, written alike wherever
// Sellin reads them: in the item chooser and purchasers list, and in a
// ticket's stored lines, so a line read back shows what was shown when it was
// added.
#include <cstdint>
#include <optional>
#include <string>

#include "server/queries/book_checks.h"
#include "server/storage/storage.h"

namespace storeserver::queries {

// The select list of a book's record over books b; its one parameter is the
// store (the stolen flag).
inline const std::string kBookRecordColumns =
    std::string("b.item_id, b.sku, b.book_key, b.title, b.isbn13, b.imprint, b.edition, b.copyright, b.binding, ") +
    kStolenFlagSql + ", b.guide";

// The select list of a purchaser's record over book_purchasers.
inline constexpr const char* kPurchaserRecordColumns =
    "purchaser, ost_purchaser, no_limit, buy_qty, bought_qty, buy_price_cents, alt_price_cents,"
    " retail_price_cents, listed_price_cents, status, condition_text, condition_check";

// What is still wanted: the buy quantity less what was bought, never below
// 0; "*" for a purchaser without a limit.
std::string needText(bool noLimit, std::int64_t buy, std::int64_t bought);

// Each gives a row's record, or nullopt with why in error when a value does not fit it.
std::optional<std::string> bookRecord(const storage::Row& row, std::string& error);
// notCounted: copies left out of the bought quantity (and so of the need), as
// a ticket line's own quantity is when the line is read back.
std::optional<std::string> purchaserRecord(const storage::Row& row, std::int64_t notCounted, std::string& error);

}  // namespace storeserver::queries
