#include "server/admin/session.h"

#include <sodium.h>

#include <algorithm>

#include "server/auth.h"

namespace storeserver::admin {

using storage::integerAt;
using storage::textAt;

namespace {

// How often a session's last use is written: a page a second writes once a minute.
constexpr std::int64_t kTouchEveryMs = 60'000;

std::vector<Store> storesOf(storage::Connection& db, std::int64_t homeStore, bool chainWide) {
  const storage::Rows rows =
      db.query("SELECT store_num, name FROM stores WHERE ? = 1 OR store_num = ? ORDER BY store_num",
               {std::int64_t(chainWide), homeStore});
  std::vector<Store> stores;
  for (const storage::Row& r : rows) stores.push_back({integerAt(r, 0), textAt(r, 1)});
  return stores;
}

void forget(storage::Connection& db, const std::string& hash) {
  storage::Transaction tx(db, storage::TxMode::Independent);
  db.execute("DELETE FROM admin_sessions WHERE token_hash = ?", {hash});
  tx.commit();
}

}  // namespace

bool Manager::mayManage(std::int64_t store) const {
  return std::ranges::any_of(stores, [store](const Store& s) { return s.number == store; });
}

UserAccount Manager::account() const { return {userId, name, homeStore, {canBuy, true, chainWide}, true}; }

std::string startSession(storage::Connection& db, std::int64_t userId, std::int64_t nowMs) {
  unsigned char random[32];
  randombytes_buf(random, sizeof random);
  char text[2 * sizeof random + 1];
  sodium_bin2hex(text, sizeof text, random, sizeof random);
  const std::string token(text);
  storage::Transaction tx(db, storage::TxMode::Independent);
  // Sessions a day past any lifetime go, so the table holds only live ones.
  constexpr std::int64_t kDayMs = 24 * 60 * 60 * 1000;
  db.execute("DELETE FROM admin_sessions WHERE started_at <= ?", {nowMs - 2 * kDayMs});
  db.execute("INSERT INTO admin_sessions (token_hash, user_id, started_at, last_seen_at) VALUES (?, ?, ?, ?)",
             {tokenHash(token), userId, nowMs, nowMs});
  tx.commit();
  return token;
}

SessionCheck checkSession(storage::Connection& db, std::string_view token, std::int64_t nowMs,
                          const SessionLimits& limits) {
  if (token.empty()) return {};
  const std::string hash = tokenHash(token);
  const storage::Rows rows = db.query(
      "SELECT s.started_at, s.last_seen_at, u.user_id, u.user_name, u.store_num, u.manages_chain, u.active,"
      " u.can_manage, u.can_buy FROM admin_sessions s JOIN users u ON u.user_id = s.user_id WHERE s.token_hash = ?",
      {hash});
  if (rows.empty()) return {};
  const storage::Row& r = rows[0];
  const std::int64_t lastSeen = integerAt(r, 1);
  const bool stillManager = integerAt(r, 6) != 0 && integerAt(r, 7) != 0;
  if (!stillManager || nowMs - integerAt(r, 0) >= limits.lifetime.count() || nowMs - lastSeen >= limits.idle.count()) {
    forget(db, hash);
    return {SessionState::Ended, std::nullopt};
  }
  if (nowMs - lastSeen >= kTouchEveryMs) {
    storage::Transaction tx(db, storage::TxMode::Independent);
    db.execute("UPDATE admin_sessions SET last_seen_at = ? WHERE token_hash = ?", {nowMs, hash});
    tx.commit();
  }
  Manager manager{integerAt(r, 2), textAt(r, 3), integerAt(r, 4), integerAt(r, 5) != 0, integerAt(r, 8) != 0, {}};
  manager.stores = storesOf(db, manager.homeStore, manager.chainWide);
  return {SessionState::SignedIn, std::move(manager)};
}

void endSession(storage::Connection& db, std::string_view token) {
  if (!token.empty()) forget(db, tokenHash(token));
}

std::string formToken(std::string_view sessionToken) { return sha256Hex("form\n" + std::string(sessionToken)); }

bool formTokenMatches(std::string_view sessionToken, std::string_view sent) {
  const std::string expected = formToken(sessionToken);
  return !sessionToken.empty() && sent.size() == expected.size() &&
         sodium_memcmp(expected.data(), sent.data(), expected.size()) == 0;
}

}  // namespace storeserver::admin
