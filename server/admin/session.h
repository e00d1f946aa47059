#pragma once
// Who is signed in to the back office: sessions kept in the database by a
// hash of their token, so every server of a chain knows them, and ended by
// idleness, by age, or by log-out.
#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "server/storage/storage.h"
#include "server/user_rights.h"

namespace storeserver::admin {

struct Store {
  std::int64_t number = 0;
  std::string name;
};

// A signed-in manager and the stores it may see and change.
struct Manager {
  std::int64_t userId = 0;
  std::string name;
  std::int64_t homeStore = 0;
  bool chainWide = false;
  bool canBuy = false;
  std::vector<Store> stores;  // by number

  bool mayManage(std::int64_t store) const;
  // As the rule of who may change which user sees it.
  UserAccount account() const;
};

struct SessionLimits {
  std::chrono::milliseconds idle = std::chrono::minutes(30);
  std::chrono::milliseconds lifetime = std::chrono::hours(12);
};

// A new session of the user; the token goes to the browser, its hash to the database.
std::string startSession(storage::Connection& db, std::int64_t userId, std::int64_t nowMs);

enum class SessionState { SignedIn, None, Ended };
struct SessionCheck {
  SessionState state = SessionState::None;
  std::optional<Manager> manager;  // when signed in
};
// None: no token, or one not known. Ended: idle or old past the limits, or
// its user may no longer manage; the session is forgotten.
SessionCheck checkSession(storage::Connection& db, std::string_view token, std::int64_t nowMs,
                          const SessionLimits& limits);
void endSession(storage::Connection& db, std::string_view token);

// The token every form of a session carries: derived from the session's own
// token, so a page of another site cannot know it, and nothing more is kept.
std::string formToken(std::string_view sessionToken);
bool formTokenMatches(std::string_view sessionToken, std::string_view sent);

}  // namespace storeserver::admin
