#pragma once
// The failed log-in limit. Tries are counted in this server's memory, so a
// try costs no write and a refusal no database work at all; once a second
// what changed is written to login_tries beside the ticket updates (on SQLite
// in the group writer's next commit, on PostgreSQL in a short transaction of
// its own). There a restarted server, and the other servers of a chain
// sharing the database, find the counts: a name or address not seen here in
// its window is read once, and each write brings back the totals with the
// other servers' tries added. A chain's servers thus refuse together, up to
// the tries they take within the second before they hear of each other.
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "server/storage/storage.h"

namespace storeserver {

class Logger;
class Writer;

// Failed password tries allowed within a window, per user name as typed (so
// unknown names are limited too) and per client address. 0: no limit.
struct FailureLimit {
  unsigned perName = 5;
  unsigned perAddress = 20;
  std::chrono::milliseconds window = std::chrono::minutes(15);
};

// A try refused unchecked: whose tries reached the limit, and for how long.
struct TriesExceeded {
  bool byAddress = false;
  std::int64_t waitMs = 0;
};

class LoginTries {
 public:
  explicit LoginTries(FailureLimit limit);

  // Refuses a try when its name or its address has used up its tries in the
  // window; otherwise counts it against both before the hash runs, so tries
  // sent at once cannot pass the limit. A refused try counts against
  // neither: it checked no password. name: as counted (countedName()).
  std::optional<TriesExceeded> count(storage::Connection& db, const std::string& name, const std::string& address,
                                     std::int64_t nowMs);
  // Whether the address has used up its tries, known here without reading
  // anything: a flood from one address then costs no database work.
  std::optional<TriesExceeded> refusesAddress(const std::string& address, std::int64_t nowMs) const;
  // A right password was no failure: its name starts afresh, and its address
  // gets back the try it took.
  void forget(const std::string& name, const std::string& address);

  // The name as tries are counted and logged: a user's own name, or for a
  // name no user has (perhaps a password typed in the wrong field) a hash
  // keyed with the database's secret, so that no text of it can be read back.
  std::string countedName(storage::Connection& db, std::string_view name, bool isUser);

  // Tries of one name or address within its window.
  struct Tries {
    std::int64_t count = 0;
    std::int64_t windowStart = 0;
  };
  // What is to be written of one name or address: its tries since the last
  // write (fewer when an address got a try back), after deleting its row
  // when a right password forgot the name.
  struct Change {
    std::string kind;  // login_tries.kind
    std::string subject;
    std::int64_t windowStart = 0;
    std::int64_t tries = 0;
    bool forgetFirst = false;
    std::uint64_t generation = 0;  // which forget() of the name it follows
  };
  // Hands the changes over for writing; each then comes back either through
  // settle(), with the database's totals (nullopt for a row only deleted), or
  // through restore() when the write failed.
  std::vector<Change> takeChanges();
  void settle(const std::vector<Change>& changes, const std::vector<std::optional<Tries>>& totals);
  void restore(const std::vector<Change>& changes);
  // Forgets names and addresses whose window has passed, with nothing left to write.
  void dropPassed(std::int64_t nowMs);

  const FailureLimit& limit() const { return limit_; }

 private:
  struct Key {
    std::string kind;
    std::string subject;
    auto operator<=>(const Key&) const = default;
  };
  struct Entry {
    Tries tries;
    std::int64_t unwritten = 0;
    bool forgetFirst = false;
    std::uint64_t generation = 0;
    bool stored = false;  // the database may hold a row of it: forgetting it deletes the row
  };

  bool current(const Entry& entry, std::int64_t nowMs) const;
  // How long until the key may try again, when it has used up its tries here.
  std::optional<std::int64_t> usedUp(const Key& key, unsigned allowed, std::int64_t nowMs) const;
  // Of the entries known here; nullopt when neither has used up its tries.
  std::optional<TriesExceeded> refusal(const Key& name, const Key& address, std::int64_t nowMs) const;
  void add(const Key& key, std::int64_t nowMs);

  const FailureLimit limit_;
  mutable std::mutex mutex_;
  std::map<Key, Entry> entries_;  // in key order, so writes lock rows in one order on every server
  std::optional<std::string> nameKey_;
};

// Writes the changes of tries through the writer, with rows of passed
// windows removed, and settles them; db is the caller's connection, which
// the writer uses on PostgreSQL. False, with the reason in problem, when the
// write failed: the changes then wait for the next call.
bool writeLoginTries(LoginTries& tries, Writer& writer, storage::Connection& db, std::int64_t nowMs,
                     std::string& problem);

// Calls writeLoginTries() every second on a thread of its own, and once more
// when stopped.
class LoginTriesWriter {
 public:
  static constexpr std::chrono::seconds kPeriod{1};

  LoginTriesWriter(LoginTries& tries, Writer& writer, std::unique_ptr<storage::Connection> db,
                   std::function<std::int64_t()> nowMs, Logger& log);
  ~LoginTriesWriter();  // stops
  // Writes what is left; the writer must still run.
  void stop();

 private:
  void run();
  void write();

  LoginTries& tries_;
  Writer& writer_;
  std::unique_ptr<storage::Connection> db_;
  std::function<std::int64_t()> nowMs_;
  Logger& log_;
  std::mutex mutex_;
  std::condition_variable wake_;
  bool stopping_ = false;
  std::thread thread_;
};

}  // namespace storeserver
