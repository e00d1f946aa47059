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
  const storage::Rows rows =
      db.query("SELECT user_id, user_name, password_hash, store_num, can_buy, active, restrict_lookup, can_manage,"
               " manages_chain FROM users WHERE " +
                   std::string(condition),
               {std::move(key)});
  if (rows.empty()) return std::nullopt;
  const storage::Row& r = rows[0];
  return User{integerAt(r, 0),      textAt(r, 1),         textAt(r, 2),
              integerAt(r, 3),      integerAt(r, 4) != 0, integerAt(r, 5) != 0,
              integerAt(r, 6) != 0, integerAt(r, 7) != 0, integerAt(r, 8) != 0};
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

std::string triesExceededSentence(const TriesExceeded& exceeded, std::string_view name, std::string_view network) {
  const std::int64_t minutes = (exceeded.waitMs + 59'999) / 60'000;
  const std::string whose = exceeded.byAddress ? "from " + std::string(network) : "for " + std::string(name);
  return "Too many failed log-ins " + whose + "; try again in " + std::to_string(minutes) +
         (minutes == 1 ? " minute." : " minutes.");
}

PasswordCheck checkPassword(storage::Connection& db, const PasswordChecker& passwords, LoginTries& tries,
                            std::string_view name, std::string_view password, std::string_view address,
                            std::int64_t nowMs) {
  const std::string client(address);
  if (auto exceeded = tries.refusesAddress(client, nowMs)) return {std::nullopt, exceeded, "-"};
  std::optional<User> user;
  std::string counted;
  std::optional<TriesExceeded> exceeded;
  {
    // Begun, so that a connection a database restart closed is opened again.
    storage::Transaction read(db, storage::TxMode::Read);
    user = findUser(db, name);
    counted = tries.countedName(db, name, user.has_value());
    exceeded = tries.count(db, counted, client, nowMs);
    read.commit();
  }
  if (exceeded) return {std::nullopt, exceeded, std::move(counted)};
  // The hash runs with no transaction open.
  if (!passwords.matches(user, password) || !user->active) return {std::nullopt, std::nullopt, std::move(counted)};
  tries.forget(counted, client);
  return {std::move(user), std::nullopt, std::move(counted)};
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
  db.execute("INSERT INTO session_tokens (token_hash, user_id, app, issued_at, expires_at) VALUES (?, ?, ?, ?, ?)",
             {tokenHash(token), user.id, std::int64_t(app), nowMs, nowMs + lifetime.count()});
  return token;
}

TokenCheck checkToken(storage::Connection& db, std::string_view token, int app, std::int64_t nowMs) {
  if (token.empty()) return {TokenStatus::Missing, {}};
  std::string hash = tokenHash(token);
  const storage::Rows rows = db.query(
      "SELECT " + std::string(kTokenColumns) + " FROM " + std::string(kTokenTables) + " WHERE t.token_hash = ?",
      {hash});
  if (rows.empty()) return {TokenStatus::Unknown, {}};
  return tokenCheckOf(rows[0], std::move(hash), app, nowMs);
}

TokenCheck tokenCheckOf(const storage::Row& r, std::string hash, int app, std::int64_t nowMs) {
  TokenCheck check{TokenStatus::Valid,
                   User{integerAt(r, 2),
                        textAt(r, 3),
                        {},
                        integerAt(r, 4),
                        integerAt(r, 5) != 0,
                        integerAt(r, 6) != 0,
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
