#include "server/auth.h"

#include <sodium.h>

#include <algorithm>
#include <stdexcept>

namespace storeserver {

using storage::integerAt;
using storage::textAt;

PasswordCost PasswordCost::interactive() {
  return {crypto_pwhash_OPSLIMIT_INTERACTIVE, crypto_pwhash_MEMLIMIT_INTERACTIVE};
}

PasswordCost PasswordCost::minimum() { return {crypto_pwhash_OPSLIMIT_MIN, crypto_pwhash_MEMLIMIT_MIN}; }

bool initialiseCrypto() { return sodium_init() >= 0; }

std::string hashPassword(std::string_view password, PasswordCost cost) {
  char out[crypto_pwhash_STRBYTES];
  if (crypto_pwhash_str_alg(out, password.data(), password.size(), cost.opsLimit, cost.memLimit,
                            crypto_pwhash_ALG_ARGON2ID13) != 0)
    throw std::runtime_error("a password could not be hashed (out of memory)");
  return out;
}

bool verifyPassword(const std::string& hash, std::string_view password) {
  return crypto_pwhash_str_verify(hash.c_str(), password.data(), password.size()) == 0;
}

namespace {

std::optional<User> userWhere(storage::Connection& db, std::string_view condition, storage::Value key) {
  const storage::Rows rows = db.query(
      "SELECT user_id, user_name, password_hash, store_num, can_buy, active, restrict_lookup, can_manage,"
      " manages_chain FROM users WHERE " +
          std::string(condition),
      {std::move(key)});
  if (rows.empty()) return std::nullopt;
  const storage::Row& r = rows[0];
  return User{integerAt(r, 0),       textAt(r, 1),         textAt(r, 2),         integerAt(r, 3), integerAt(r, 4) != 0,
              integerAt(r, 5) != 0, integerAt(r, 6) != 0, integerAt(r, 7) != 0, integerAt(r, 8) != 0};
}

}  // namespace

std::optional<User> findUser(storage::Connection& db, std::string_view name) {
  return userWhere(db, "user_name = ?", std::string(name));
}

std::optional<User> findUserById(storage::Connection& db, std::int64_t id) { return userWhere(db, "user_id = ?", id); }

PasswordChecker::PasswordChecker(PasswordCost cost) : decoy_(hashPassword("no user has this password", cost)) {}

bool PasswordChecker::matches(const std::optional<User>& user, std::string_view password) const {
  if (!user) {
    verifyPassword(decoy_, password);
    return false;
  }
  return verifyPassword(user->passwordHash, password);
}

namespace {

constexpr std::string_view kByName = "user";
constexpr std::string_view kByAddress = "address";

// Tries of one name or address within its window, this one included.
struct Tries {
  std::int64_t count = 0;
  std::int64_t windowStart = 0;
};

// Counts a try in one atomic row update, so tries sent at once to any number
// of servers are each given their own count. A window that has passed starts
// afresh with this try.
Tries countTry(storage::Connection& db, std::string_view kind, std::string_view subject, const FailureLimit& limit,
               std::int64_t nowMs) {
  const std::int64_t passed = nowMs - limit.window.count();
  const storage::Rows rows = db.query(
      "INSERT INTO login_tries (kind, subject, window_start, tries) VALUES (?, ?, ?, 1)"
      " ON CONFLICT (kind, subject) DO UPDATE SET"
      " tries = CASE WHEN login_tries.window_start <= ? THEN 1 ELSE login_tries.tries + 1 END,"
      " window_start = CASE WHEN login_tries.window_start <= ? THEN excluded.window_start"
      " ELSE login_tries.window_start END"
      " RETURNING tries, window_start",
      {std::string(kind), std::string(subject), nowMs, passed, passed});
  return {integerAt(rows.at(0), 0), integerAt(rows.at(0), 1)};
}

std::optional<std::int64_t> waitAfter(const Tries& tries, unsigned allowed, const FailureLimit& limit,
                                      std::int64_t nowMs) {
  if (allowed == 0 || tries.count <= std::int64_t(allowed)) return std::nullopt;
  return std::max<std::int64_t>(1, tries.windowStart + limit.window.count() - nowMs);
}

// Counts the try by name, then by address: every log-in locks the two rows in
// that order, so concurrent ones cannot deadlock on PostgreSQL. A try its name
// refuses is not held against its address, so a clerk retrying a blocked name
// does not block the whole store.
std::optional<TriesExceeded> countBothTries(storage::Connection& db, const FailureLimit& limit, std::string_view name,
                                            std::string_view address, std::int64_t nowMs, bool& newWindow) {
  const Tries byName = countTry(db, kByName, name, limit, nowMs);
  newWindow = byName.count == 1;
  if (auto wait = waitAfter(byName, limit.perName, limit, nowMs)) return TriesExceeded{false, *wait};
  const Tries byAddress = countTry(db, kByAddress, address, limit, nowMs);
  if (auto wait = waitAfter(byAddress, limit.perAddress, limit, nowMs)) return TriesExceeded{true, *wait};
  return std::nullopt;
}

// A name no user has, as it may be kept: hashed with this database's key,
// so the same name counts as one and no text of it can be read back.
std::string hiddenName(storage::Connection& db, std::string_view name) {
  const std::string key = textAt(db.query("SELECT name_key FROM login_name_key").at(0), 0);
  return "unknown:" + sha256Hex(key + '\n' + std::string(name)).substr(0, 16);
}

// Rows of passed windows go, or names tried once each would pile up. Alone in
// its transaction: it may wait for rows other log-ins hold, never the reverse.
void forgetPassedWindows(storage::Connection& db, const FailureLimit& limit, std::int64_t nowMs) {
  storage::Transaction tx(db, storage::TxMode::Independent);
  db.execute("DELETE FROM login_tries WHERE window_start <= ?", {nowMs - limit.window.count()});
  tx.commit();
}

// A right password was no failure: its name starts afresh, and its address
// gives back the try it took.
void forgetTry(storage::Connection& db, std::string_view name, std::string_view address) {
  storage::Transaction tx(db, storage::TxMode::Independent);
  db.execute("DELETE FROM login_tries WHERE kind = ? AND subject = ?", {std::string(kByName), std::string(name)});
  db.execute("UPDATE login_tries SET tries = tries - 1 WHERE kind = ? AND subject = ? AND tries > 0",
             {std::string(kByAddress), std::string(address)});
  tx.commit();
}

}  // namespace

std::string triesExceededSentence(const TriesExceeded& exceeded, std::string_view name, std::string_view network) {
  const std::int64_t minutes = (exceeded.waitMs + 59'999) / 60'000;
  const std::string whose =
      exceeded.byAddress ? "from " + std::string(network) : "for " + std::string(name);
  return "Too many failed log-ins " + whose + "; try again in " + std::to_string(minutes) +
         (minutes == 1 ? " minute." : " minutes.");
}

PasswordCheck checkPassword(storage::Connection& db, const PasswordChecker& passwords, const FailureLimit& limit,
                            std::string_view name, std::string_view password, std::string_view address,
                            std::int64_t nowMs) {
  std::optional<TriesExceeded> exceeded;
  std::optional<User> user;
  std::string counted;
  bool newWindow = false;
  {
    storage::Transaction tx(db, storage::TxMode::Independent);
    user = findUser(db, name);
    counted = user ? std::string(name) : hiddenName(db, name);
    exceeded = countBothTries(db, limit, counted, address, nowMs, newWindow);
    tx.commit();
  }
  if (newWindow) forgetPassedWindows(db, limit, nowMs);
  if (exceeded) return {std::nullopt, exceeded, counted};

  // The hash runs with no transaction open, so it holds no lock.
  if (!passwords.matches(user, password) || !user->active) return {std::nullopt, std::nullopt, counted};
  forgetTry(db, name, address);
  return {std::move(user), std::nullopt, counted};
}

namespace {

std::string hex(const unsigned char* bytes, std::size_t size) {
  std::string out(size * 2 + 1, '\0');
  sodium_bin2hex(out.data(), out.size(), bytes, size);
  out.pop_back();
  return out;
}

}  // namespace

std::string tokenHash(std::string_view token) { return sha256Hex(token); }

std::string sha256Hex(std::string_view bytes) {
  unsigned char digest[crypto_hash_sha256_BYTES];
  crypto_hash_sha256(digest, reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size());
  return hex(digest, sizeof digest);
}

std::string issueToken(storage::Connection& db, const User& user, int app, std::int64_t nowMs,
                       std::chrono::milliseconds lifetime) {
  unsigned char random[32];
  randombytes_buf(random, sizeof random);
  std::string token = hex(random, sizeof random);
  // Expired tokens stay a day, so their holders are told "expired" rather than "not known".
  constexpr std::int64_t kKeepExpiredMs = 24 * 60 * 60 * 1000;
  db.execute("DELETE FROM session_tokens WHERE expires_at <= ?", {nowMs - kKeepExpiredMs});
  db.execute(
      "INSERT INTO session_tokens (token_hash, user_id, app, issued_at, expires_at) VALUES (?, ?, ?, ?, ?)",
      {tokenHash(token), user.id, std::int64_t(app), nowMs, nowMs + lifetime.count()});
  return token;
}

TokenCheck checkToken(storage::Connection& db, std::string_view token, int app, std::int64_t nowMs) {
  if (token.empty()) return {TokenStatus::Missing, {}};
  std::string hash = tokenHash(token);
  const storage::Rows rows = db.query(
      "SELECT " + std::string(kTokenColumns) + " FROM " + std::string(kTokenTables) + " WHERE t.token_hash = ?", {hash});
  if (rows.empty()) return {TokenStatus::Unknown, {}};
  return tokenCheckOf(rows[0], std::move(hash), app, nowMs);
}

TokenCheck tokenCheckOf(const storage::Row& r, std::string hash, int app, std::int64_t nowMs) {
  TokenCheck check{TokenStatus::Valid,
                   User{integerAt(r, 2), textAt(r, 3), {}, integerAt(r, 4), integerAt(r, 5) != 0, integerAt(r, 6) != 0,
                        integerAt(r, 7) != 0},
                   std::move(hash)};
  if (integerAt(r, 1) <= nowMs) check.status = TokenStatus::Expired;
  else if (integerAt(r, 0) != app) check.status = TokenStatus::OtherProgram;
  else if (!check.user.active) check.status = TokenStatus::UserDisabled;
  return check;
}

std::string tokenSentence(const TokenCheck& check) {
  switch (check.status) {
    case TokenStatus::Valid: return {};
    case TokenStatus::Missing: return "No session token was sent; log in first.";
    case TokenStatus::Unknown: return "The session is not known to the store server; log in again.";
    case TokenStatus::Expired: return "The session has expired; log in again.";
    case TokenStatus::OtherProgram: return "The session belongs to another program; log in again.";
    case TokenStatus::UserDisabled: return "The user " + check.user.name + " is disabled.";
  }
  return "The session is not valid; log in again.";
}

void recordCheckedBuyer(storage::Connection& db, const std::string& tokenHash, std::int64_t buyerUserId,
                        std::int64_t store) {
  db.execute("UPDATE session_tokens SET buyer_user_id = ?, buyer_store = ? WHERE token_hash = ?",
             {buyerUserId, store, tokenHash});
}

std::optional<User> provenBuyer(storage::Connection& db, const std::string& tokenHash, std::int64_t loggedInUserId,
                                std::int64_t store) {
  const auto buysAtStore = [store](const std::optional<User>& u) {
    return u && u->active && u->canBuy && u->store == store;
  };
  const storage::Rows checked =
      db.query("SELECT buyer_user_id FROM session_tokens WHERE token_hash = ? AND buyer_store = ?", {tokenHash, store});
  if (!checked.empty())
    if (std::optional<User> buyer = findUserById(db, integerAt(checked[0], 0)); buysAtStore(buyer)) return buyer;
  if (std::optional<User> self = findUserById(db, loggedInUserId); buysAtStore(self)) return self;
  return std::nullopt;
}

}  // namespace storeserver
