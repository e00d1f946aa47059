#pragma once
// The first read of an update's own transaction: the answer stored under its
// identity and, for an exchange that is that one update, the exchange's
// session token, both in one statement, so the update waits for the database
// once before its query runs.
#include <optional>
#include <string>
#include <string_view>

#include "server/auth.h"

namespace storeserver {

// What an earlier run of an update with the same identity stored.
struct StoredAnswer {
  std::int64_t userId = 0;
  std::string answer;
  std::string digest;
};

struct UpdateStart {
  std::optional<TokenCheck> token;  // when asked for
  std::optional<StoredAnswer> earlier;
};

// token: nullopt when the exchange's token was checked already; updateId
// empty for an update without an identity.
UpdateStart startUpdate(storage::Connection& db, std::optional<std::string_view> token, int app, std::int64_t nowMs,
                        const std::string& updateId);

}  // namespace storeserver
