#include "server/copy.h"

#include <array>
#include <cstdio>

#include "server/auth.h"
#include "server/storage/migrations.h"

namespace storeserver {

namespace {

// One row as text that tells its values' kinds apart (7 from "7", "" from NULL).
std::string canonical(const storage::Row& row) {
  std::string text;
  for (const storage::Value& v : row) {
    if (const auto* n = std::get_if<std::int64_t>(&v)) text += "i" + std::to_string(*n);
    else if (const auto* s = std::get_if<std::string>(&v)) text += "s" + std::to_string(s->size()) + ":" + *s;
    else text += "n";
    text += '|';
  }
  return text;
}

// The sum, lane by lane, of every row's SHA-256: the same for the same rows in any order.
std::string digestOf(const storage::Rows& rows) {
  std::array<std::uint64_t, 4> lanes{};
  for (const storage::Row& row : rows) {
    const std::string hash = sha256Hex(canonical(row));
    for (std::size_t i = 0; i < lanes.size(); ++i) lanes[i] += std::stoull(hash.substr(i * 16, 16), nullptr, 16);
  }
  std::string out;
  for (std::uint64_t lane : lanes) {
    char part[17];
    std::snprintf(part, sizeof part, "%016llx", static_cast<unsigned long long>(lane));
    out += part;
  }
  return out;
}

void insertRows(storage::Connection& db, const std::string& table, const storage::Rows& rows) {
  if (rows.empty()) return;
  std::string marks;
  for (std::size_t i = 0; i < rows[0].size(); ++i) marks += i ? ", ?" : "?";
  const std::string sql = "INSERT INTO " + table + " VALUES (" + marks + ")";
  for (const storage::Row& row : rows) db.send(sql, row);
}

// PostgreSQL numbers identity columns from a sequence of its own, which the
// copied rows did not move: the next number must come after theirs.
void moveIdentitiesPast(storage::Connection& db) {
  if (db.dialect() != storage::Dialect::Postgres) return;
  for (const storage::Row& r : db.query("SELECT table_name, column_name FROM information_schema.columns"
                                        " WHERE table_schema = current_schema() AND is_identity = 'YES'")) {
    const std::string table = storage::textAt(r, 0), column = storage::textAt(r, 1);
    db.query("SELECT setval(pg_get_serial_sequence('" + table + "', '" + column + "'), COALESCE(MAX(" + column +
             "), 0) + 1, false) FROM " + table);
  }
}

}  // namespace

// Not login_name_key: each database hashes the names tried at log-in with a key of its own.
const std::vector<std::string>& storeTables() {
  static const std::vector<std::string> tables = {"stores",
                                                  "locations",
                                                  "users",
                                                  "session_tokens",
                                                  "buying_sessions",
                                                  "students",
                                                  "aid_agencies",
                                                  "aid_accounts",
                                                  "adoption_terms",
                                                  "adoption_sections",
                                                  "adoption_books",
                                                  "adoption_section_books",
                                                  "adoption_stock",
                                                  "adoption_enrollments",
                                                  "adoption_problems",
                                                  "books",
                                                  "book_title_words",
                                                  "book_purchasers",
                                                  "book_products",
                                                  "book_inventory",
                                                  "stolen_book_reports",
                                                  "tickets",
                                                  "ticket_lines",
                                                  "ticket_updates",
                                                  "ticket_audit",
                                                  "login_tries",
                                                  "admin_sessions",
                                                  "admin_audit",
                                                  "cash_drawers",
                                                  "cash_drawer_moves"};
  return tables;
}

std::vector<TableContents> readContents(storage::Connection& db) {
  storage::Transaction read(db, storage::TxMode::Read);
  std::vector<TableContents> contents;
  for (const std::string& table : storeTables()) {
    const storage::Rows rows = db.query("SELECT * FROM " + table);
    contents.push_back({table, std::int64_t(rows.size()), digestOf(rows)});
  }
  read.commit();
  return contents;
}

bool copyStore(storage::Connection& from, storage::Connection& to, std::vector<TableContents>& copied,
               std::string& error) {
  try {
    storage::migrate(from);
    storage::migrate(to);
    storage::Transaction write(to, storage::TxMode::Write);
    for (const std::string& table : storeTables())
      if (!to.query("SELECT 1 FROM " + table + " LIMIT 1").empty()) {
        error = "The database to copy into already holds a store (its table " + table +
                " has rows); copy only into a new, empty database.";
        return false;
      }
    storage::Transaction read(from, storage::TxMode::Read);
    copied.clear();
    for (const std::string& table : storeTables()) {
      const storage::Rows rows = from.query("SELECT * FROM " + table);
      insertRows(to, table, rows);
      copied.push_back({table, std::int64_t(rows.size()), digestOf(rows)});
    }
    read.commit();
    moveIdentitiesPast(to);
    for (const TableContents& source : copied) {
      const storage::Rows rows = to.query("SELECT * FROM " + source.table);
      if (std::int64_t(rows.size()) != source.rows || digestOf(rows) != source.digest) {
        error = "The copy of the table " + source.table + " does not read back as the original (" +
                std::to_string(rows.size()) + " rows of " + std::to_string(source.rows) + "); nothing was copied.";
        return false;
      }
    }
    write.commit();
    return true;
  } catch (const storage::Error& e) {
    error = "The copy stopped, nothing was copied: " + std::string(e.what()) + ".";
    return false;
  }
}

}  // namespace storeserver
