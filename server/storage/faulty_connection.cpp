#include "server/storage/faulty_connection.h"

namespace storeserver::storage {

namespace {

class FaultyConnection final : public Connection {
 public:
  FaultyConnection(std::unique_ptr<Connection> inner, std::shared_ptr<StorageFaults> faults)
      : inner_(std::move(inner)), faults_(std::move(faults)), dialect_(inner_->dialect()) {}

  Dialect dialect() const noexcept override { return dialect_; }

  Rows query(std::string_view sql, const std::vector<Value>& params) override {
    beforeStatement();
    return inner_->query(sql, params);
  }
  std::int64_t execute(std::string_view sql, const std::vector<Value>& params) override {
    beforeStatement();
    return inner_->execute(sql, params);
  }

  void begin(TxMode mode) override {
    if (mode != TxMode::Read && faults_->onBegin())
      throw Busy("the database could not begin: the database is locked (armed by a test)");
    live().begin(mode);
    writing_ = mode != TxMode::Read;
  }
  // A commit that meets a fault leaves the transaction open, as a failed
  // COMMIT can; the caller's rollback then undoes it.
  void commit() override {
    if (writing_) meet(faults_->onCommit());
    live().commit();
    writing_ = false;
  }
  void rollback() noexcept override {
    if (inner_) inner_->rollback();
    writing_ = false;
  }
  std::uint64_t roundTrips() const noexcept override { return inner_ ? inner_->roundTrips() : 0; }

 private:
  Connection& live() {
    if (!inner_) throw Error("the database connection was lost");
    return *inner_;
  }

  void beforeStatement() {
    live();
    if (writing_) meet(faults_->onStatement());
  }

  void meet(std::optional<Fault> fault) {
    if (!fault) return;
    switch (*fault) {
      case Fault::Fail: throw Error("the database could not run a statement: a fault armed by a test");
      case Fault::Conflict: throw Conflict("the database undid the transaction: a conflict armed by a test");
      case Fault::Drop: drop();
    }
  }

  // PostgreSQL: the database server ends this very session, so what follows
  // meets a really closed connection. SQLite has no server to lose: the
  // connection is closed, its transaction undone, and it stays closed.
  void drop() {
    if (dialect_ == Dialect::Postgres) {
      try {
        inner_->query("SELECT pg_terminate_backend(pg_backend_pid())", {});
      } catch (const Error&) {
        // the session ended under the statement, as it should
      }
      return;
    }
    inner_.reset();
    throw Error("the database connection was lost");
  }

  std::unique_ptr<Connection> inner_;
  std::shared_ptr<StorageFaults> faults_;
  const Dialect dialect_;
  bool writing_ = false;
};

}  // namespace

std::unique_ptr<Connection> StorageFaults::wrap(std::unique_ptr<Connection> inner) {
  return std::make_unique<FaultyConnection>(std::move(inner), shared_from_this());
}

void StorageFaults::armStatement(int nth, Fault fault) {
  std::lock_guard lock(mutex_);
  statementsLeft_ = nth;
  statementFault_ = fault;
}

void StorageFaults::armCommit(Fault fault, int times) {
  std::lock_guard lock(mutex_);
  commitsLeft_ = times;
  commitFault_ = fault;
}

void StorageFaults::armBusy(int times) {
  std::lock_guard lock(mutex_);
  busyLeft_ = times;
}

void StorageFaults::disarm() {
  std::lock_guard lock(mutex_);
  statementsLeft_ = 0;
  commitsLeft_ = -1;
  busyLeft_ = 0;
}

int StorageFaults::writeStatements() const {
  std::lock_guard lock(mutex_);
  return statements_;
}

int StorageFaults::faultsMet() const {
  std::lock_guard lock(mutex_);
  return met_;
}

std::optional<Fault> StorageFaults::onStatement() {
  std::lock_guard lock(mutex_);
  ++statements_;
  if (statementsLeft_ == 0 || --statementsLeft_ > 0) return std::nullopt;
  ++met_;
  return statementFault_;
}

std::optional<Fault> StorageFaults::onCommit() {
  std::lock_guard lock(mutex_);
  if (commitsLeft_ < 0) return std::nullopt;
  if (commitsLeft_ > 0 && --commitsLeft_ == 0) commitsLeft_ = -1;
  ++met_;
  return commitFault_;
}

bool StorageFaults::onBegin() {
  std::lock_guard lock(mutex_);
  if (busyLeft_ == 0) return false;
  --busyLeft_;
  ++met_;
  return true;
}

}  // namespace storeserver::storage
