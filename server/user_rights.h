#pragma once
// Who may change which user: the one rule of the back office's Users page and
// of the users import. An actor changes a user only when the user's rights are
// among its own and, unless it manages the whole chain, the user is of its own
// store; it gives only rights it holds, in a store it manages; and a chain
// that has an active manager of the whole chain keeps one.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "server/storage/storage.h"

namespace storeserver {

struct UserRights {
  bool canBuy = false;
  bool canManage = false;
  bool managesChain = false;  // only with canManage
};

// "clerk", "buyer", "manager", "buyer, manager of the chain", ...
std::string rolesText(const UserRights& rights);

// A user as the rule sees it: the one who acts, or the one acted on.
struct UserAccount {
  std::int64_t id = 0;  // 0: the command line, which is no user
  std::string name;
  std::int64_t store = 0;
  UserRights rights;
  bool active = true;
};

// Whoever runs the command line holds the database itself, so every right.
UserAccount commandLine();

std::optional<UserAccount> findAccount(storage::Connection& db, std::int64_t id);
std::optional<UserAccount> findAccountNamed(storage::Connection& db, const std::string& name);

// Also for a user that does not exist, so a manager cannot find out who does.
inline constexpr std::string_view kNotYourStoresUser = "That user is not one of your store's.";

// The sentence refusing the change for the one who asked, or nullopt when actor
// may change target.
std::optional<std::string> refusalToChange(const UserAccount& actor, const UserAccount& target);
// ... when actor may give a user these rights at this store.
std::optional<std::string> refusalToGive(const UserAccount& actor, const UserRights& rights, std::int64_t store);

// Taken before a change of users, asked after it in the change's transaction:
// a change that leaves no active manager of the whole chain where there was
// one is refused, or nobody could manage the chain from the back office again.
class ChainManagerKept {
 public:
  explicit ChainManagerKept(storage::Connection& db);
  std::optional<std::string> refusal() const;

 private:
  storage::Connection& db_;
  std::int64_t before_;
};

}  // namespace storeserver
