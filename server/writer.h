#pragma once
// Where update queries run. On SQLite one writer thread with a connection of
// its own takes every update waiting at that moment, runs each in a savepoint
// of one transaction and commits them together, so one durable commit (one
// fsync) serves many handhelds. On PostgreSQL each update runs in a
// serializable transaction of its own on the worker's connection, beside those
// of the other servers sharing the database, or in a transaction locking the
// rows it stands on first, and is run again when the database undoes it for a
// conflict with one of them.
#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "server/storage/storage.h"
#include "wire/exchange.h"

namespace storeserver {

// What an update gives back: its reply, and why it was refused, for the log.
struct WriteOutcome {
  wire::Reply reply;
  std::vector<std::string> problems;
};

// One update, run inside a transaction taken for writing. An error reply
// undoes whatever it wrote; it may throw storage::Error.
using WriteWork = std::function<WriteOutcome(storage::Connection& db)>;

// For tests: gathers a number of updates into the writer's next group, and
// tells how many its last group held.
struct WriteGroupProbe {
  std::atomic<std::size_t> gather{0};  // the next group waits for this many; set back to 0 when taken
  std::atomic<std::size_t> lastGroupSize{0};
};

class Writer {
 public:
  virtual ~Writer() = default;
  // Runs work and returns its outcome once it is committed or undone; callerDb
  // is the calling worker's own connection. rowLocked: work locks the rows its
  // checks stand on before it reads them, so it needs no serializable transaction.
  virtual WriteOutcome write(storage::Connection& callerDb, const WriteWork& work, bool rowLocked) = 0;
  // Answers what was handed over already; later writes are refused with a sentence.
  virtual void stop() {}
};

// Opens a connection to the server's database; nullptr and a sentence in error when it cannot.
using ConnectionOpener = std::function<std::unique_ptr<storage::Connection>(std::string& error)>;

// The writer for this database: a GroupWriter on a connection of its own for
// SQLite, each worker's own transaction for PostgreSQL. nullptr and a
// sentence in error when the writer's connection cannot be opened.
std::unique_ptr<Writer> openWriter(storage::Dialect dialect, const ConnectionOpener& open,
                                   std::shared_ptr<WriteGroupProbe> probe, std::string& error);

class GroupWriter final : public Writer {
 public:
  static constexpr std::size_t kMaxGroup = 64;  // so one commit cannot grow without bound

  GroupWriter(std::unique_ptr<storage::Connection> db, std::shared_ptr<WriteGroupProbe> probe);
  ~GroupWriter() override;  // stops

  using Done = std::function<void(WriteOutcome)>;

  // The outcome comes once the group holding the work is committed or undone.
  WriteOutcome write(storage::Connection& callerDb, const WriteWork& work, bool rowLocked) override;
  // Returns at once; done gets the outcome on the writer's thread once the
  // group holding the work is committed or undone (on the caller's thread
  // when the writer is stopping). done must be quick and must not throw: the
  // next group waits for it.
  void writeThen(WriteWork work, Done done);
  void stop() override;

 private:
  struct Pending {
    WriteWork work;
    Done done;
  };

  void run();
  std::vector<Pending> takeGroup();  // empty: stopped, nothing left
  void commitGroup(std::vector<Pending>& group);
  WriteOutcome applyInSavepoint(const WriteWork& work);

  std::unique_ptr<storage::Connection> db_;
  std::shared_ptr<WriteGroupProbe> probe_;
  std::mutex mutex_;
  std::condition_variable wake_;
  std::deque<Pending> queue_;
  bool stopping_ = false;
  std::thread thread_;
};

}  // namespace storeserver
