#include "server/queries/book_checks.h"

namespace storeserver::queries {

namespace {
// No number the clerk typed is echoed: the item lookup treats any text with
// "501" in it as "no inventory record".
constexpr const char* kUnknownStore =
    "This handheld is set to a store the server does not know: check its store number.";
}  // namespace

std::optional<std::string> storeProblem(storage::Connection& db, std::int64_t store) {
  if (db.query("SELECT store_num FROM stores WHERE store_num = ?", {store}).empty()) return kUnknownStore;
  return std::nullopt;
}

std::optional<std::string> openSessionProblem(storage::Connection& db, std::int64_t session, std::int64_t store) {
  if (auto problem = storeProblem(db, store)) return problem;
  const storage::Rows rows =
      db.query("SELECT is_open FROM buying_sessions WHERE session_id = ? AND store_num = ?", {session, store});
  return openSessionProblem(true, rows.empty() ? std::nullopt : std::optional(storage::integerAt(rows[0], 0) != 0));
}

std::optional<std::string> openSessionProblem(bool storeKnown, std::optional<bool> sessionOpenAtStore) {
  if (!storeKnown) return kUnknownStore;
  if (!sessionOpenAtStore) return "This buying session does not belong to this store: choose the session again.";
  if (!*sessionOpenAtStore) return "This buying session is closed: choose another session.";
  return std::nullopt;
}

}  // namespace storeserver::queries
