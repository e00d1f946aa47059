#pragma once
// The storage interface: one database connection, used by one thread at a time.
// SQL handed to it is portable (SQLite and PostgreSQL) and always parameterised,
// with '?' marking each parameter in order.
#include <chrono>
#include <cstdint>
#include <stdexcept>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

namespace storeserver::storage {

using Value = std::variant<std::nullptr_t, std::int64_t, std::string>;
using Row = std::vector<Value>;
using Rows = std::vector<Row>;

// Any failure of the database: opening, preparing, binding, stepping, or a
// value of an unexpected type. what() is a short reason, without SQL text.
class Error : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// The database undid a transaction that lost to a concurrent one (a
// serialization failure or a deadlock); run from its start again, it may pass.
class Conflict : public Error {
 public:
  using Error::Error;
};

// The database closed or ended the session under a transaction, as a
// restart, a crash or a failover does, or answered that it takes only reads:
// nothing of it was committed, or at its commit perhaps all of it (which an
// update's identity makes safe to send again). The next transaction begins on
// a fresh connection.
class ConnectionLost : public Conflict {
 public:
  using Conflict::Conflict;
};

// After a lost connection no database that takes writes could be reached for
// as long as a failover takes (or, after that, at once): nothing was begun.
// Whether an update interrupted before it was committed is unknown; sent again
// with its identity later, it holds once. Not run again here: the wait is over.
class Unreachable : public Error {
 public:
  using Error::Error;
};

// Another connection held the database's write lock for longer than this one
// waits at a time (SQLite's busy timeout): nothing was begun, and beginning
// again may pass. beginTransaction() does so.
class Busy : public Error {
 public:
  using Error::Error;
};

// Runs work, and once more when the database closed the connection under it.
template <class Work>
auto againIfConnectionLost(Work&& work) {
  try {
    return work();
  } catch (const ConnectionLost&) {
    return work();
  }
}

// Read: one snapshot for the whole transaction.
// Write: excludes every other Write transaction of every server.
// Retryable: writes beside other transactions; where their interleaving
// could give a result no one-at-a-time order gives, the database refuses one
// of them with Conflict, and its caller runs it again.
// RetryableAlone: a Retryable that waits until no other Retryable runs and
// keeps new ones waiting, for one that keeps losing.
// RowLocked: writes beside other transactions, each statement seeing what
// was committed before it; its first statements lock the rows its checks
// stand on, in one order for every such transaction. A deadlock, or a key a
// concurrent one inserted first, is refused with Conflict.
// Independent: writes no other transaction's checks stand on, each statement
// atomic by itself (a log-in's counted tries, its token), so it waits for no
// other server's writes.
// SQLite, with one writer at a time, runs all but Read as a Write.
enum class TxMode { Read, Write, Retryable, RetryableAlone, RowLocked, Independent };
// Where the few statements that cannot be written alike differ.
enum class Dialect { Sqlite, Postgres };

class Connection {
 public:
  virtual ~Connection() = default;

  virtual Dialect dialect() const noexcept = 0;

  // Runs one statement and returns every row it produced.
  virtual Rows query(std::string_view sql, const std::vector<Value>& params = {}) = 0;
  // Runs one statement that returns no rows; gives the number of rows changed.
  virtual std::int64_t execute(std::string_view sql, const std::vector<Value>& params = {}) = 0;
  // Runs one statement that returns no rows when it suits the database: on
  // PostgreSQL it travels with the next statement that waits for an answer
  // or with the commit, and fails there.
  virtual void send(std::string_view sql, const std::vector<Value>& params = {}) { execute(sql, params); }

  virtual void begin(TxMode mode) = 0;
  virtual void commit() = 0;
  virtual void rollback() noexcept = 0;

  // Times this connection has waited for the database's answer since it was
  // opened: what an update costs in latency where the database is across a
  // network. SQLite, in the server's own process, waits for none.
  virtual std::uint64_t roundTrips() const noexcept { return 0; }
};

// Begins a transaction, waiting out a database kept busy by another
// connection (an administrator's tool, a backup, another server on the same
// file) for up to kBusyPatience, so that a handheld or a manager is answered
// late rather than told the database is locked. Throws Busy past it.
inline constexpr std::chrono::seconds kBusyPatience{60};
void beginTransaction(Connection& db, TxMode mode);

// Rolls back unless committed.
class Transaction {
 public:
  Transaction(Connection& db, TxMode mode) : db_(db) { beginTransaction(db_, mode); }
  ~Transaction() {
    if (open_) db_.rollback();
  }
  Transaction(const Transaction&) = delete;
  Transaction& operator=(const Transaction&) = delete;

  // A failed commit can leave the transaction open (SQLite, at a deferred
  // constraint); the destructor then still rolls it back.
  void commit() {
    db_.commit();
    open_ = false;
  }

 private:
  Connection& db_;
  bool open_ = true;
};

// Typed reading of a column; a NULL or a value of another type is an Error,
// never a silent zero or empty text.
std::int64_t integerAt(const Row& row, std::size_t column);
const std::string& textAt(const Row& row, std::size_t column);

}  // namespace storeserver::storage
