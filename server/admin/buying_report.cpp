#include "server/admin/buying_report.h"

#include "server/queries/sellin_records.h"

namespace storeserver::admin {

using storage::integerAt;
using storage::textAt;

namespace {

SessionRow sessionOf(const storage::Row& r) {
  return {integerAt(r, 0),
          integerAt(r, 1),
          textAt(r, 2),
          integerAt(r, 3) != 0,
          {integerAt(r, 4) != 0, integerAt(r, 5) != 0, integerAt(r, 6), integerAt(r, 7), integerAt(r, 8)}};
}

constexpr const char* kSessionColumns =
    "session_id, store_num, description, is_open, student_id_required, condition_check, within_percent,"
    " tran_warning_qty, tran_max_qty";

// " AND ..." for each filter given, its values appended to params.
std::string filterSql(const PurchaseFilter& filter, std::vector<storage::Value>& params) {
  std::string sql;
  if (!filter.purchaser.empty()) {
    sql += " AND p.purchaser = ?";
    params.emplace_back(filter.purchaser);
  }
  if (!filter.status.empty()) {
    sql += " AND p.status = ?";
    params.emplace_back(filter.status);
  }
  return sql;
}

std::vector<std::string> distinctTexts(storage::Connection& db, const std::string& column, std::int64_t session) {
  std::vector<std::string> out;
  for (const storage::Row& r : db.query("SELECT DISTINCT " + column +
                                            " FROM book_purchasers WHERE session_id = ?"
                                            " ORDER BY " +
                                            column,
                                        {session}))
    out.push_back(textAt(r, 0));
  return out;
}

}  // namespace

std::string rulesText(const SessionRules& rules) {
  std::string text = rules.studentIdRequired ? "student ID required" : "no student ID needed";
  text += rules.conditionCheck ? ", condition check" : ", no condition check";
  text += ", nearly met at " + std::to_string(rules.withinPercent) + " %";
  text += rules.tranWarning > 0 ? ", warning above " + std::to_string(rules.tranWarning) : ", no warning";
  text += rules.tranMax > 0 ? ", at most " + std::to_string(rules.tranMax) + " a ticket" : ", no maximum";
  return text;
}

std::vector<SessionRow> sessionsOf(storage::Connection& db, std::int64_t store) {
  std::vector<SessionRow> out;
  for (const storage::Row& r :
       db.query(std::string("SELECT ") + kSessionColumns +
                    " FROM buying_sessions WHERE store_num = ? ORDER BY is_open DESC, session_id",
                {store}))
    out.push_back(sessionOf(r));
  return out;
}

std::optional<SessionRow> findSession(storage::Connection& db, std::int64_t session) {
  const storage::Rows rows =
      db.query(std::string("SELECT ") + kSessionColumns + " FROM buying_sessions WHERE session_id = ?", {session});
  if (rows.empty()) return std::nullopt;
  return sessionOf(rows[0]);
}

std::string PurchaseRow::need() const { return queries::needText(noLimit, buyQty, bought); }

KeyedList purchaseList(std::int64_t session, const PurchaseFilter& filter) {
  KeyedList list;
  list.params = {session};
  list.select =
      "SELECT p.item_id, p.purchaser, b.isbn13, b.title, p.status, p.no_limit, p.buy_qty, p.bought_qty,"
      " p.buy_price_cents FROM book_purchasers p JOIN books b ON b.item_id = p.item_id WHERE p.session_id = ?" +
      filterSql(filter, list.params);
  list.keyColumns = {"p.item_id", "p.purchaser"};
  return list;
}

PurchaseRow purchaseOf(const storage::Row& r) {
  return {textAt(r, 0),         textAt(r, 1),    textAt(r, 2),    textAt(r, 3),   textAt(r, 4),
          integerAt(r, 5) != 0, integerAt(r, 6), integerAt(r, 7), integerAt(r, 8)};
}

PurchaseTotals totalsOf(storage::Connection& db, std::int64_t session, const PurchaseFilter& filter) {
  std::vector<storage::Value> params{session};
  const std::string where = filterSql(filter, params);
  const storage::Rows rows =
      db.query("SELECT COUNT(*), CAST(COALESCE(SUM(CASE WHEN p.no_limit = 0 THEN p.buy_qty ELSE 0 END), 0) AS BIGINT),"
               " CAST(COALESCE(SUM(p.bought_qty), 0) AS BIGINT),"
               " CAST(COALESCE(SUM(p.bought_qty * p.buy_price_cents), 0) AS BIGINT)"
               " FROM book_purchasers p WHERE p.session_id = ?" +
                   where,
               params);
  return {integerAt(rows[0], 0), integerAt(rows[0], 1), integerAt(rows[0], 2), integerAt(rows[0], 3)};
}

std::vector<std::string> purchasersOf(storage::Connection& db, std::int64_t session) {
  return distinctTexts(db, "purchaser", session);
}

std::vector<std::string> statusesOf(storage::Connection& db, std::int64_t session) {
  return distinctTexts(db, "status", session);
}

std::string csvField(const std::string& text) {
  const bool formula = !text.empty() && std::string_view("=+-@\t\r").find(text[0]) != std::string_view::npos;
  if (!formula && text.find_first_of(",\"\r\n") == std::string::npos) return text;
  std::string quoted = formula ? "\"'" : "\"";
  for (char c : text) quoted += c == '"' ? std::string("\"\"") : std::string(1, c);
  return quoted + "\"";
}

}  // namespace storeserver::admin
