#pragma once
// Checks the book-finding queries share; each gives a sentence for the clerk,
// or nothing when all is well.
#include <cstdint>
#include <optional>
#include <string>

#include "server/storage/storage.h"

namespace storeserver::queries {

std::optional<std::string> storeProblem(storage::Connection& db, std::int64_t store);
std::optional<std::string> openSessionProblem(storage::Connection& db, std::int64_t session, std::int64_t store);
// The same judged on what a statement of its own read: whether the store is
// known, and whether the session is open when it is one of that store.
std::optional<std::string> openSessionProblem(bool storeKnown, std::optional<bool> sessionOpenAtStore);

// The SQL of a book's stolen flag at a store (one parameter: the store), for
// the select list of a query over books b.
inline constexpr const char* kStolenFlagSql =
    "CASE WHEN EXISTS (SELECT 1 FROM stolen_book_reports r WHERE r.store_num = ? AND r.sku = b.sku)"
    " THEN 1 ELSE 0 END";

}  // namespace storeserver::queries
