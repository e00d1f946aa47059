#include "server/writer.h"

#include "server/services.h"

#include <algorithm>
#include <chrono>
#include <future>
#include <random>

namespace storeserver {

namespace {

constexpr std::string_view kStopping = "The store server is stopping; try again in a moment.";

WriteOutcome failed(std::string_view sentence, std::string problem) {
  return {{true, std::string(sentence), 0, -1}, {std::move(problem)}};
}

// The sentence for the clerk when an update threw.
WriteOutcome failedBy(const std::exception& e) {
  const bool database = dynamic_cast<const storage::Error*>(&e) != nullptr;
  return failed(database ? kDatabaseFailed : kServerFailed, std::string("update: ") + e.what());
}

// Runs work, turning a failure into a sentence: a writer thread must outlive
// any one update.
WriteOutcome attempt(storage::Connection& db, const WriteWork& work) {
  try {
    return work(db);
  } catch (const std::exception& e) {
    return failedBy(e);
  }
}

// Waits up to about 2^run ms, at random, so that the transactions that met
// in one conflict do not meet again at once.
void backOff(int run) {
  thread_local std::minstd_rand random{std::random_device{}()};
  std::uniform_int_distribution<int> microseconds(0, 1000 << std::min(run, 5));
  std::this_thread::sleep_for(std::chrono::microseconds(microseconds(random)));
}

// PostgreSQL: each update is a serializable transaction of its own, beside
// those of every other worker and server; one that loses to a concurrent one,
// or whose connection the database ended, is undone by the database and run
// again here from its start (its identity holds it once, should the lost
// answer have been a commit's).
class OwnTransactionWriter final : public Writer {
 public:
  static constexpr int kMaxRuns = 10;
  // Beside the others at first; after that many conflicts, alone, where it
  // cannot lose again to a concurrent update.
  static constexpr int kRunsBeside = 3;

  WriteOutcome write(storage::Connection& callerDb, const WriteWork& work, bool rowLocked) override {
    for (int run = 1;; ++run) {
      try {
        const storage::TxMode mode = rowLocked           ? storage::TxMode::RowLocked
                                     : run > kRunsBeside ? storage::TxMode::RetryableAlone
                                                         : storage::TxMode::Retryable;
        WriteOutcome outcome = runOnce(callerDb, work, mode);
        if (run > 1) outcome.problems.insert(outcome.problems.begin(), undoneBefore(run));
        return outcome;
      } catch (const storage::Conflict& e) {
        if (run == kMaxRuns)
          return failed(kDatabaseFailed,
                        "update given up after " + std::to_string(run) +
                            " runs, each undone by a conflict or a lost connection; the last: " + e.what());
        backOff(run);
      } catch (const storage::Unreachable&) {
        throw;  // its sender's to send again, once a database takes writes
      } catch (const std::exception& e) {
        return failedBy(e);
      }
    }
  }

 private:
  // For the log: how often the database undid an update before it held.
  static std::string undoneBefore(int run) {
    return "update undone by a conflict or a lost connection " + std::to_string(run - 1) +
           (run == 2 ? " time" : " times") + ", then run again";
  }

  static WriteOutcome runOnce(storage::Connection& db, const WriteWork& work, storage::TxMode mode) {
    storage::Transaction transaction(db, mode);
    WriteOutcome outcome = work(db);
    if (!outcome.reply.error) transaction.commit();
    return outcome;
  }
};

}  // namespace

std::unique_ptr<Writer> openWriter(storage::Dialect dialect, const ConnectionOpener& open,
                                   std::shared_ptr<WriteGroupProbe> probe, std::string& error) {
  if (dialect != storage::Dialect::Sqlite) return std::make_unique<OwnTransactionWriter>();
  auto db = open(error);
  if (!db) return nullptr;
  return std::make_unique<GroupWriter>(std::move(db), std::move(probe));
}

GroupWriter::GroupWriter(std::unique_ptr<storage::Connection> db, std::shared_ptr<WriteGroupProbe> probe)
    : db_(std::move(db)), probe_(std::move(probe)), thread_([this] { run(); }) {}

GroupWriter::~GroupWriter() { stop(); }

// One writer at a time needs no row locks.
WriteOutcome GroupWriter::write(storage::Connection&, const WriteWork& work, bool) {
  // Shared: the writer may still be inside set_value when this caller wakes.
  auto answer = std::make_shared<std::promise<WriteOutcome>>();
  std::future<WriteOutcome> outcome = answer->get_future();
  writeThen(work, [answer](WriteOutcome o) { answer->set_value(std::move(o)); });
  return outcome.get();
}

void GroupWriter::writeThen(WriteWork work, Done done) {
  {
    std::unique_lock lock(mutex_);
    if (stopping_) {
      lock.unlock();
      return done(failed(kStopping, "update refused: the server is stopping"));
    }
    queue_.push_back(Pending{std::move(work), std::move(done)});
  }
  wake_.notify_one();
}

void GroupWriter::stop() {
  {
    std::lock_guard lock(mutex_);
    stopping_ = true;
  }
  wake_.notify_one();
  if (thread_.joinable()) thread_.join();
}

void GroupWriter::run() {
  for (std::vector<Pending> group; !(group = takeGroup()).empty();) commitGroup(group);
}

std::vector<GroupWriter::Pending> GroupWriter::takeGroup() {
  std::unique_lock lock(mutex_);
  wake_.wait(lock, [this] {
    const std::size_t gather = probe_ && !stopping_ ? probe_->gather.load() : 0;
    return (stopping_ && queue_.empty()) || queue_.size() >= std::max<std::size_t>(gather, 1);
  });
  std::vector<Pending> group;
  while (!queue_.empty() && group.size() < kMaxGroup) {
    group.push_back(std::move(queue_.front()));
    queue_.pop_front();
  }
  if (probe_) {
    probe_->gather = 0;
    probe_->lastGroupSize = group.size();
  }
  return group;
}

// Nobody hears of their update before the commit that keeps it; when that
// commit fails, the whole group is undone and every one of them hears so.
void GroupWriter::commitGroup(std::vector<Pending>& group) {
  std::vector<WriteOutcome> outcomes;
  try {
    storage::Transaction transaction(*db_, storage::TxMode::Write);
    for (Pending& pending : group) outcomes.push_back(applyInSavepoint(pending.work));
    transaction.commit();
  } catch (const storage::Error& e) {
    for (Pending& pending : group)
      pending.done(failed(kDatabaseFailed, std::string("the group of updates failed: ") + e.what()));
    return;
  }
  for (std::size_t i = 0; i < group.size(); ++i) group[i].done(std::move(outcomes[i]));
}

// A refused or failed update is undone alone. Should the database have
// dropped the whole transaction instead, rolling back to the savepoint throws
// and the group fails as one.
WriteOutcome GroupWriter::applyInSavepoint(const WriteWork& work) {
  db_->execute("SAVEPOINT update_query");
  WriteOutcome outcome = attempt(*db_, work);
  if (outcome.reply.error) db_->execute("ROLLBACK TO update_query");
  db_->execute("RELEASE update_query");
  return outcome;
}

}  // namespace storeserver
