#include "server/backup.h"

#include <sqlite3.h>

#include <filesystem>
#include <memory>
#include "server/storage/postgres_storage.h"

namespace storeserver {

namespace {

namespace fs = std::filesystem;

constexpr int kBusyTimeoutMs = 10'000;
constexpr int kBusyRetries = 200;  // of kBusyPauseMs each, while a writer holds the file
constexpr int kBusyPauseMs = 50;

struct CloseDatabase {
  void operator()(sqlite3* db) const { sqlite3_close_v2(db); }
};
using Database = std::unique_ptr<sqlite3, CloseDatabase>;

Database open(const std::string& path, int flags, std::string& error) {
  sqlite3* db = nullptr;
  const int rc = sqlite3_open_v2(path.c_str(), &db, flags, nullptr);
  Database owned(db);
  if (rc != SQLITE_OK) {
    error = "Cannot open the database file " + path + ": " + (db ? sqlite3_errmsg(db) : sqlite3_errstr(rc)) + ".";
    return nullptr;
  }
  sqlite3_busy_timeout(db, kBusyTimeoutMs);
  return owned;
}

// The first column of the statement's first row, or an empty text.
std::string firstText(sqlite3* db, const char* sql) {
  sqlite3_stmt* statement = nullptr;
  if (sqlite3_prepare_v2(db, sql, -1, &statement, nullptr) != SQLITE_OK) return {};
  std::string text;
  if (sqlite3_step(statement) == SQLITE_ROW) {
    const auto* value = sqlite3_column_text(statement, 0);
    if (value) text = reinterpret_cast<const char*>(value);
  }
  sqlite3_finalize(statement);
  return text;
}

bool copyPages(sqlite3* from, sqlite3* to, std::string& error) {
  sqlite3_backup* backup = sqlite3_backup_init(to, "main", from, "main");
  if (!backup) {
    error = std::string("Cannot start the backup: ") + sqlite3_errmsg(to) + ".";
    return false;
  }
  // All pages in one step: one read transaction, so one consistent moment;
  // in WAL mode the server's writers carry on meanwhile.
  int rc = SQLITE_OK;
  for (int attempt = 0; attempt < kBusyRetries; ++attempt) {
    rc = sqlite3_backup_step(backup, -1);
    if (rc != SQLITE_BUSY && rc != SQLITE_LOCKED) break;
    sqlite3_sleep(kBusyPauseMs);
  }
  sqlite3_backup_finish(backup);
  if (rc != SQLITE_DONE) {
    error = std::string("The backup stopped: ") + sqlite3_errstr(rc) + ".";
    return false;
  }
  return true;
}

bool writeCopy(const std::string& source, const std::string& partial, std::string& error) {
  const Database from = open(source, SQLITE_OPEN_READWRITE, error);  // WAL readers need the -shm file
  if (!from) return false;
  const Database to = open(partial, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, error);
  if (!to || !copyPages(from.get(), to.get(), error)) return false;
  // A backup is one file to carry away, not a database with a WAL beside it.
  if (firstText(to.get(), "PRAGMA journal_mode=DELETE") != "delete") {
    error = "Cannot finish the copy " + partial + ": " + sqlite3_errmsg(to.get()) + ".";
    return false;
  }
  const std::string check = firstText(to.get(), "PRAGMA integrity_check");
  if (check != "ok") {
    error = "The copy failed its integrity check (" + (check.empty() ? sqlite3_errmsg(to.get()) : check) + ").";
    return false;
  }
  return true;
}

}  // namespace

bool backupDatabase(const std::string& source, const std::string& destination, std::string& error) {
  std::error_code ec;
  if (storage::isPostgresUri(source)) {
    error = "A PostgreSQL database is backed up with its own tools (pg_dump), not by the store server.";
    return false;
  }
  if (!fs::is_regular_file(source, ec)) {
    error = "There is no database file " + source + " to back up.";
    return false;
  }
  if (fs::exists(destination, ec) && fs::equivalent(source, destination, ec)) {
    error = "The backup must go to another file than the database " + source + " itself.";
    return false;
  }
  const std::string partial = destination + ".partial";
  fs::remove(partial, ec);
  if (!writeCopy(source, partial, error)) {
    fs::remove(partial, ec);
    return false;
  }
  fs::rename(partial, destination, ec);
  if (ec) {
    error = "Cannot put the copy in place as " + destination + ": " + ec.message() + ".";
    fs::remove(partial, ec);
    return false;
  }
  return true;
}

}  // namespace storeserver
