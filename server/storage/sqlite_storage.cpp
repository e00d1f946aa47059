#include "server/storage/sqlite_storage.h"

#include "server/storage/wal_batching_vfs.h"

#include <sqlite3.h>

#include <functional>
#include <string_view>
#include <unordered_map>

namespace storeserver::storage {

namespace {

class SqliteConnection final : public Connection {
 public:
  explicit SqliteConnection(sqlite3* db) : db_(db) {}

  ~SqliteConnection() override {
    for (auto& [sql, stmt] : statements_) sqlite3_finalize(stmt);
    sqlite3_close_v2(db_);
  }

  Dialect dialect() const noexcept override { return Dialect::Sqlite; }

  Rows query(std::string_view sql, const std::vector<Value>& params) override {
    sqlite3_stmt* stmt = prepare(sql);
    bind(stmt, params);
    Rows rows;
    try {
      for (;;) {
        const int rc = sqlite3_step(stmt);
        if (rc == SQLITE_DONE) break;
        if (rc != SQLITE_ROW) fail(stmt, "read");
        rows.push_back(readRow(stmt));
      }
    } catch (...) {
      sqlite3_reset(stmt);  // a statement left mid-step would keep its read open
      throw;
    }
    sqlite3_reset(stmt);
    return rows;
  }

  std::int64_t execute(std::string_view sql, const std::vector<Value>& params) override {
    sqlite3_stmt* stmt = prepare(sql);
    bind(stmt, params);
    const int rc = sqlite3_step(stmt);
    if (rc != SQLITE_DONE && rc != SQLITE_ROW) fail(stmt, "write");
    sqlite3_reset(stmt);
    return sqlite3_changes64(db_);
  }

  // IMMEDIATE takes the write lock up front, so a writer waits on the busy
  // timeout instead of failing when it upgrades a read in mid-transaction.
  void begin(TxMode mode) override {
    run(mode == TxMode::Read ? "BEGIN" : "BEGIN IMMEDIATE");
    mode_ = mode;
  }
  void commit() override {
    // SQLite ends a transaction by itself after some failures; for a read
    // there is nothing left to keep, for a write that loss must be reported.
    if (sqlite3_get_autocommit(db_)) {
      if (mode_ != TxMode::Read) throw Error("the database dropped the transaction before it was committed");
      return;
    }
    run("COMMIT");
  }
  void rollback() noexcept override {
    if (sqlite3_get_autocommit(db_)) return;
    sqlite3_step(rollback_);
    sqlite3_reset(rollback_);
  }

  // Connection setup: the only place for SQLite's own statements.
  void configure(std::chrono::milliseconds busyTimeout) {
    // Prepared here, as a rollback must not fail for want of memory.
    rollback_ = prepare("ROLLBACK");
    sqlite3_busy_timeout(db_, int(busyTimeout.count()));
    sqlite3_extended_result_codes(db_, 1);
    const Rows mode = query("PRAGMA journal_mode=WAL", {});
    if (mode.empty() || textAt(mode[0], 0) != "wal") throw Error("the database cannot be put in WAL mode");
    run("PRAGMA foreign_keys=ON");
    // A sale a handheld was told was saved must survive a power cut: in WAL
    // mode only FULL syncs the log at each commit (NORMAL leaves the last
    // commits to the next checkpoint). The group writer shares that sync.
    run("PRAGMA synchronous=FULL");
    // A checkpoint holds up the writer while it copies every page changed
    // since the last one. Every 10,000 log pages (about 40 MB of log) instead
    // of every 1,000, a page changed by many commits is copied once, and the
    // hold-ups behind the slowest updates come a tenth as often.
    run("PRAGMA wal_autocheckpoint=10000");
  }

 private:
  [[noreturn]] void fail(sqlite3_stmt* stmt, const char* doing) {
    std::string reason = sqlite3_errmsg(db_);
    const bool busy = (sqlite3_extended_errcode(db_) & 0xff) == SQLITE_BUSY;
    if (stmt) sqlite3_reset(stmt);
    reason = "the database could not " + std::string(doing) + ": " + reason;
    if (busy) throw Busy(reason);
    throw Error(reason);
  }

  // Transaction commands too are prepared once and kept: parsing them again
  // cost as much as a short query.
  void run(std::string_view sql) {
    sqlite3_stmt* stmt = prepare(sql);
    const int rc = sqlite3_step(stmt);
    if (rc != SQLITE_DONE && rc != SQLITE_ROW) fail(stmt, "run a command");
    sqlite3_reset(stmt);
  }

  sqlite3_stmt* prepare(std::string_view sql) {
    if (auto it = statements_.find(sql); it != statements_.end()) return it->second;
    std::string key(sql);
    sqlite3_stmt* stmt = nullptr;
    const char* tail = nullptr;
    const int rc = sqlite3_prepare_v3(db_, key.c_str(), int(key.size()), SQLITE_PREPARE_PERSISTENT, &stmt, &tail);
    if (rc != SQLITE_OK || !stmt) {
      sqlite3_finalize(stmt);
      fail(nullptr, "prepare a statement");
    }
    if (tail && *tail) {
      sqlite3_finalize(stmt);
      throw Error("a statement holds more than one command");
    }
    statements_.emplace(std::move(key), stmt);
    return stmt;
  }

  void bind(sqlite3_stmt* stmt, const std::vector<Value>& params) {
    sqlite3_clear_bindings(stmt);
    if (sqlite3_bind_parameter_count(stmt) != int(params.size()))
      throw Error("a statement was given " + std::to_string(params.size()) + " values for " +
                  std::to_string(sqlite3_bind_parameter_count(stmt)) + " parameters");
    for (std::size_t i = 0; i < params.size(); ++i) {
      const int index = int(i) + 1;
      int rc = SQLITE_OK;
      if (const auto* n = std::get_if<std::int64_t>(&params[i])) rc = sqlite3_bind_int64(stmt, index, *n);
      else if (const auto* s = std::get_if<std::string>(&params[i]))
        // Not copied: the text outlives the statement's step, and the next use binds anew.
        rc = sqlite3_bind_text64(stmt, index, s->data(), s->size(), SQLITE_STATIC, SQLITE_UTF8);
      else rc = sqlite3_bind_null(stmt, index);
      if (rc != SQLITE_OK) fail(stmt, "take a value");
    }
  }

  static Row readRow(sqlite3_stmt* stmt) {
    const int n = sqlite3_column_count(stmt);
    Row row;
    row.reserve(n);
    for (int c = 0; c < n; ++c) {
      switch (sqlite3_column_type(stmt, c)) {
        case SQLITE_INTEGER: row.emplace_back(std::int64_t(sqlite3_column_int64(stmt, c))); break;
        case SQLITE_NULL: row.emplace_back(nullptr); break;
        case SQLITE_FLOAT: throw Error("column " + std::to_string(c + 1) + " holds a fraction");
        default: {
          const auto* p = reinterpret_cast<const char*>(sqlite3_column_text(stmt, c));
          if (!p) throw Error("the database ran out of memory reading a text");
          row.emplace_back(std::string(p, std::size_t(sqlite3_column_bytes(stmt, c))));
        }
      }
    }
    return row;
  }

  // Looked up by the caller's text without copying it.
  struct TextHash {
    using is_transparent = void;
    std::size_t operator()(std::string_view text) const noexcept { return std::hash<std::string_view>{}(text); }
  };

  sqlite3* db_;
  TxMode mode_ = TxMode::Read;
  std::unordered_map<std::string, sqlite3_stmt*, TextHash, std::equal_to<>> statements_;
  sqlite3_stmt* rollback_ = nullptr;
};

}  // namespace

std::unique_ptr<Connection> openSqlite(const std::string& path, std::string& error,
                                       std::chrono::milliseconds busyTimeout) {
  sqlite3* db = nullptr;
  const int flags = SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_NOMUTEX;
  if (sqlite3_open_v2(path.c_str(), &db, flags, walBatchingVfsName()) != SQLITE_OK) {
    error = "Cannot open the database file " + path + ": " + (db ? sqlite3_errmsg(db) : "out of memory") + ".";
    sqlite3_close_v2(db);
    return nullptr;
  }
  // SQLite quietly falls back to read-only when the file is write-protected.
  if (sqlite3_db_readonly(db, "main") == 1) {
    error = "Cannot write the database file " + path + ".";
    sqlite3_close_v2(db);
    return nullptr;
  }
  auto connection = std::make_unique<SqliteConnection>(db);
  try {
    connection->configure(busyTimeout);
  } catch (const Error& e) {
    error = "Cannot use the database file " + path + ": " + e.what() + ".";
    return nullptr;
  }
  return connection;
}

}  // namespace storeserver::storage
