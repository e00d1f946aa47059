#pragma once
// Database faults on demand, for tests: connections opened through
// StorageFaults::wrap() behave as the real ones until a fault is armed; then a
// chosen statement or commit of a write transaction fails, is undone as a
// conflict, or loses its connection. Only statements inside write
// transactions count, so a test can aim at an update and not at the reads
// and token checks around it. The storeserver program never links this.
#include <functional>
#include <memory>
#include <mutex>
#include <optional>

#include "server/storage/storage.h"

namespace storeserver::storage {

enum class Fault {
  Fail,      // an Error, as for a full disk or a broken constraint
  Conflict,  // a Conflict, as PostgreSQL's serialization failure
  // The connection is lost: on PostgreSQL the database server really ends
  // it (the connection may then open itself again, as it does after a
  // restart); on SQLite it is closed and every later call fails.
  Drop,
};

class StorageFaults : public std::enable_shared_from_this<StorageFaults> {
 public:
  // Every connection of one server goes through this, so one armed fault hits
  // whichever of them writes next. Held by a shared_ptr: the connections keep it.
  std::unique_ptr<Connection> wrap(std::unique_ptr<Connection> inner);

  // The nth statement run inside a write transaction from now on (1: the next one).
  void armStatement(int nth, Fault fault);
  // The next `times` commits of write transactions; times 0: every one until disarm().
  void armCommit(Fault fault, int times = 1);
  // The next `times` write transactions fail to begin with Busy, as when
  // another connection keeps SQLite's write lock past the busy timeout.
  void armBusy(int times);
  void disarm();

  // Statements run inside write transactions so far, and faults met so far.
  int writeStatements() const;
  int faultsMet() const;

  // What the faulty connections ask before a statement or commit of a write transaction.
  std::optional<Fault> onStatement();
  std::optional<Fault> onCommit();
  bool onBegin();  // true: busy

 private:
  mutable std::mutex mutex_;
  int statements_ = 0;
  int met_ = 0;
  int statementsLeft_ = 0;  // 0: no statement armed
  Fault statementFault_ = Fault::Fail;
  int commitsLeft_ = -1;  // -1: no commit armed; 0: every commit
  Fault commitFault_ = Fault::Fail;
  int busyLeft_ = 0;
};

}  // namespace storeserver::storage
