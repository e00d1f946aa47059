#include "server/update_start.h"

namespace storeserver {

namespace {

std::optional<StoredAnswer> storedAnswer(const storage::Row& row, std::size_t first) {
  if (std::holds_alternative<std::nullptr_t>(row.at(first))) return std::nullopt;
  return StoredAnswer{storage::integerAt(row, first), storage::textAt(row, first + 1), storage::textAt(row, first + 2)};
}

}  // namespace

UpdateStart startUpdate(storage::Connection& db, std::optional<std::string_view> token, int app, std::int64_t nowMs,
                        const std::string& updateId) {
  const storage::Value identity = updateId.empty() ? storage::Value(nullptr) : storage::Value(updateId);
  if (!token) {
    const storage::Rows rows =
        db.query("SELECT user_id, answer, digest FROM ticket_updates WHERE update_id = ?", {identity});
    return {std::nullopt, rows.empty() ? std::nullopt : storedAnswer(rows[0], 0)};
  }
  if (token->empty()) return {TokenCheck{TokenStatus::Missing, {}}, std::nullopt};
  std::string hash = tokenHash(*token);
  const storage::Rows rows =
      db.query("SELECT " + std::string(kTokenColumns) + ", x.user_id, x.answer, x.digest FROM " +
                   std::string(kTokenTables) + " LEFT JOIN ticket_updates x ON x.update_id = ? WHERE t.token_hash = ?",
               {identity, hash});
  if (rows.empty()) return {TokenCheck{TokenStatus::Unknown, {}}, std::nullopt};
  return {tokenCheckOf(rows[0], std::move(hash), app, nowMs), storedAnswer(rows[0], kTokenColumnCount)};
}

}  // namespace storeserver
