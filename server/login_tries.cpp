#include "server/login_tries.h"

#include <algorithm>

#include "server/auth.h"
#include "server/log.h"
#include "server/writer.h"

namespace storeserver {

using storage::integerAt;
using storage::textAt;

namespace {

constexpr std::string_view kByName = "user";
constexpr std::string_view kByAddress = "address";

std::int64_t waitUntil(std::int64_t windowEnd, std::int64_t nowMs) {
  return std::max<std::int64_t>(1, windowEnd - nowMs);
}

// The row of one name or address as stored, nullopt when there is none in its window.
std::optional<LoginTries::Tries> storedTries(storage::Connection& db, const std::string& kind,
                                             const std::string& subject, std::int64_t passed) {
  const storage::Rows rows =
      db.query("SELECT tries, window_start FROM login_tries WHERE kind = ? AND subject = ?", {kind, subject});
  if (rows.empty() || integerAt(rows[0], 1) <= passed) return std::nullopt;
  return LoginTries::Tries{integerAt(rows[0], 0), integerAt(rows[0], 1)};
}

// Adds a change's tries to its row in one atomic statement, so that the
// writes of every server sharing the database add up; a window that has
// passed starts afresh with them. Gives the total.
LoginTries::Tries addTries(storage::Connection& db, const LoginTries::Change& change, std::int64_t passed) {
  const storage::Rows rows =
      db.query("INSERT INTO login_tries (kind, subject, window_start, tries) VALUES (?, ?, ?, ?)"
               " ON CONFLICT (kind, subject) DO UPDATE SET"
               " tries = CASE WHEN login_tries.window_start <= ? THEN excluded.tries"
               " WHEN login_tries.tries + ? < 0 THEN 0 ELSE login_tries.tries + ? END,"
               " window_start = CASE WHEN login_tries.window_start <= ? THEN excluded.window_start"
               " ELSE login_tries.window_start END"
               " RETURNING tries, window_start",
               {change.kind, change.subject, change.windowStart, std::max<std::int64_t>(change.tries, 0), passed,
                change.tries, change.tries, passed});
  return {integerAt(rows.at(0), 0), integerAt(rows.at(0), 1)};
}

}  // namespace

LoginTries::LoginTries(FailureLimit limit) : limit_(limit) {}

bool LoginTries::current(const Entry& entry, std::int64_t nowMs) const {
  return entry.tries.windowStart > nowMs - limit_.window.count();
}

std::optional<std::int64_t> LoginTries::usedUp(const Key& key, unsigned allowed, std::int64_t nowMs) const {
  const auto it = entries_.find(key);
  if (allowed == 0 || it == entries_.end() || !current(it->second, nowMs) ||
      it->second.tries.count < std::int64_t(allowed))
    return std::nullopt;
  return waitUntil(it->second.tries.windowStart + limit_.window.count(), nowMs);
}

std::optional<TriesExceeded> LoginTries::refusal(const Key& name, const Key& address, std::int64_t nowMs) const {
  if (const auto wait = usedUp(name, limit_.perName, nowMs)) return TriesExceeded{false, *wait};
  if (const auto wait = usedUp(address, limit_.perAddress, nowMs)) return TriesExceeded{true, *wait};
  return std::nullopt;
}

std::optional<TriesExceeded> LoginTries::refusesAddress(const std::string& address, std::int64_t nowMs) const {
  std::lock_guard lock(mutex_);
  if (const auto wait = usedUp({std::string(kByAddress), address}, limit_.perAddress, nowMs))
    return TriesExceeded{true, *wait};
  return std::nullopt;
}

void LoginTries::add(const Key& key, std::int64_t nowMs) {
  Entry& entry = entries_[key];
  if (!current(entry, nowMs)) {
    entry.tries = {0, nowMs};
    entry.unwritten = 0;  // tries of a window that has passed count no more
  }
  ++entry.tries.count;
  ++entry.unwritten;
}

std::optional<TriesExceeded> LoginTries::count(storage::Connection& db, const std::string& name,
                                               const std::string& address, std::int64_t nowMs) {
  const Key byName{std::string(kByName), name}, byAddress{std::string(kByAddress), address};
  const bool limitName = limit_.perName > 0, limitAddress = limit_.perAddress > 0;
  const auto unknown = [&](const Key& key) {
    const auto it = entries_.find(key);
    return it == entries_.end() || !current(it->second, nowMs);
  };
  bool readName = false, readAddress = false;
  {
    std::lock_guard lock(mutex_);
    if (auto refused = refusal(byName, byAddress, nowMs)) return refused;
    readName = limitName && unknown(byName);
    readAddress = limitAddress && unknown(byAddress);
  }
  // Read with no lock held: what the database knows of tries another server, or this one before a restart, counted.
  const std::int64_t passed = nowMs - limit_.window.count();
  std::optional<Tries> storedName, storedAddress;
  if (readName) storedName = storedTries(db, byName.kind, byName.subject, passed);
  if (readAddress) storedAddress = storedTries(db, byAddress.kind, byAddress.subject, passed);

  std::lock_guard lock(mutex_);
  // Another try may have counted meanwhile: what it counted stands.
  for (const auto& [key, stored] : {std::pair{&byName, &storedName}, {&byAddress, &storedAddress}})
    if (*stored && unknown(*key)) {
      Entry& entry = entries_[*key];
      entry.tries = **stored;
      entry.unwritten = 0;  // tries of a window that has passed count no more
      entry.stored = true;
    }
  if (auto refused = refusal(byName, byAddress, nowMs)) return refused;
  if (limitName) add(byName, nowMs);
  if (limitAddress) add(byAddress, nowMs);
  return std::nullopt;
}

void LoginTries::forget(const std::string& name, const std::string& address) {
  std::lock_guard lock(mutex_);
  if (limit_.perName > 0) {
    Entry& entry = entries_[{std::string(kByName), name}];
    entry.tries.count = 0;
    entry.unwritten = 0;
    // A name this server alone counted, unwritten yet, costs no write: a right first try writes nothing.
    entry.forgetFirst = entry.stored;
    ++entry.generation;
  }
  if (const auto it = entries_.find({std::string(kByAddress), address}); it != entries_.end()) {
    it->second.tries.count = std::max<std::int64_t>(0, it->second.tries.count - 1);
    --it->second.unwritten;
  }
}

std::string LoginTries::countedName(storage::Connection& db, std::string_view name, bool isUser) {
  if (isUser) return std::string(name);
  std::unique_lock lock(mutex_);
  if (!nameKey_) {
    lock.unlock();
    std::string key = textAt(db.query("SELECT name_key FROM login_name_key").at(0), 0);
    lock.lock();
    nameKey_ = std::move(key);
  }
  return "unknown:" + sha256Hex(*nameKey_ + '\n' + std::string(name)).substr(0, 16);
}

std::vector<LoginTries::Change> LoginTries::takeChanges() {
  std::lock_guard lock(mutex_);
  std::vector<Change> changes;
  for (auto& [key, entry] : entries_) {
    if (entry.unwritten == 0 && !entry.forgetFirst) continue;
    changes.push_back(
        {key.kind, key.subject, entry.tries.windowStart, entry.unwritten, entry.forgetFirst, entry.generation});
    entry.stored = entry.stored || entry.unwritten != 0;  // from now on, whatever becomes of the write
    entry.unwritten = 0;
    entry.forgetFirst = false;
  }
  return changes;
}

void LoginTries::settle(const std::vector<Change>& changes, const std::vector<std::optional<Tries>>& totals) {
  std::lock_guard lock(mutex_);
  for (std::size_t i = 0; i < changes.size(); ++i) {
    const auto it = entries_.find({changes[i].kind, changes[i].subject});
    // Forgotten since: what was stored before goes at the next write.
    if (it == entries_.end() || it->second.generation != changes[i].generation) continue;
    const Tries stored = totals.at(i).value_or(Tries{0, it->second.tries.windowStart});
    it->second.tries = {stored.count + it->second.unwritten, stored.windowStart};
    it->second.stored = totals[i].has_value();
  }
}

void LoginTries::restore(const std::vector<Change>& changes) {
  std::lock_guard lock(mutex_);
  for (const Change& change : changes) {
    const auto it = entries_.find({change.kind, change.subject});
    if (it == entries_.end() || it->second.generation != change.generation) continue;
    it->second.unwritten += change.tries;
    it->second.forgetFirst = it->second.forgetFirst || change.forgetFirst;
  }
}

void LoginTries::dropPassed(std::int64_t nowMs) {
  std::lock_guard lock(mutex_);
  std::erase_if(entries_, [&](const auto& item) {
    const Entry& entry = item.second;
    return !current(entry, nowMs) && entry.unwritten == 0 && !entry.forgetFirst;
  });
}

bool writeLoginTries(LoginTries& tries, Writer& writer, storage::Connection& db, std::int64_t nowMs,
                     std::string& problem) {
  tries.dropPassed(nowMs);
  const std::vector<LoginTries::Change> changes = tries.takeChanges();
  if (changes.empty()) return true;
  const std::int64_t passed = nowMs - tries.limit().window.count();
  std::vector<std::optional<LoginTries::Tries>> totals;
  const WriteOutcome outcome = writer.write(
      db,
      [&](storage::Connection& db) {
        totals.clear();  // a run undone by a conflict is run again from the start
        // Rows of passed windows go, or names tried once each would pile up.
        db.execute("DELETE FROM login_tries WHERE window_start <= ?", {passed});
        for (const LoginTries::Change& change : changes) {
          if (change.forgetFirst)
            db.execute("DELETE FROM login_tries WHERE kind = ? AND subject = ?", {change.kind, change.subject});
          totals.push_back(change.tries == 0 ? std::nullopt : std::optional(addTries(db, change, passed)));
        }
        return WriteOutcome{{false, {}, 0, -1}, {}};
      },
      true);
  if (outcome.reply.error) {
    tries.restore(changes);
    for (const std::string& p : outcome.problems) problem += (problem.empty() ? "" : "; ") + p;
    return false;
  }
  tries.settle(changes, totals);
  return true;
}

LoginTriesWriter::LoginTriesWriter(LoginTries& tries, Writer& writer, std::unique_ptr<storage::Connection> db,
                                   std::function<std::int64_t()> nowMs, Logger& log)
    : tries_(tries), writer_(writer), db_(std::move(db)), nowMs_(std::move(nowMs)), log_(log), thread_([this] {
        run();
      }) {}

LoginTriesWriter::~LoginTriesWriter() { stop(); }

void LoginTriesWriter::stop() {
  {
    std::lock_guard lock(mutex_);
    if (stopping_) return;
    stopping_ = true;
  }
  wake_.notify_one();
  thread_.join();
  write();
}

void LoginTriesWriter::run() {
  std::unique_lock lock(mutex_);
  while (!wake_.wait_for(lock, kPeriod, [this] { return stopping_; })) {
    lock.unlock();
    write();
    lock.lock();
  }
}

void LoginTriesWriter::write() {
  const std::int64_t now = nowMs_();
  std::string problem;
  if (!writeLoginTries(tries_, writer_, *db_, now, problem))
    log_.write(logTime(std::chrono::system_clock::time_point(std::chrono::milliseconds(now))) +
               " login tries not written problems=" + quotedText(problem, 512));
}

}  // namespace storeserver
