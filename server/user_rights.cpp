#include "server/user_rights.h"

namespace storeserver {

using storage::integerAt;
using storage::textAt;

namespace {

constexpr const char* kAccountColumns =
    "SELECT user_id, user_name, store_num, can_buy, can_manage, manages_chain, active FROM users WHERE ";

std::optional<UserAccount> accountWhere(storage::Connection& db, const std::string& where, storage::Value key) {
  const storage::Rows rows = db.query(kAccountColumns + where, {std::move(key)});
  if (rows.empty()) return std::nullopt;
  const storage::Row& r = rows[0];
  const bool canManage = integerAt(r, 4) != 0;
  return UserAccount{integerAt(r, 0),
                     textAt(r, 1),
                     integerAt(r, 2),
                     {integerAt(r, 3) != 0, canManage, canManage && integerAt(r, 5) != 0},
                     integerAt(r, 6) != 0};
}

// Managing a store includes running its buying, so a manager need not buy
// itself to let a user buy.
bool holds(const UserRights& actor, const UserRights& target) {
  return (!target.canBuy || actor.canBuy || actor.canManage) && (!target.canManage || actor.canManage) &&
         (!target.managesChain || actor.managesChain);
}

std::optional<std::string> refusalToAct(const UserAccount& actor) {
  if (!actor.rights.canManage) return "Only a manager may change users.";
  return std::nullopt;
}

std::int64_t activeChainManagers(storage::Connection& db) {
  const storage::Rows rows =
      db.query("SELECT COUNT(*) FROM users WHERE manages_chain = 1 AND can_manage = 1 AND active = 1");
  return integerAt(rows.at(0), 0);
}

}  // namespace

std::string rolesText(const UserRights& r) {
  if (r.canManage)
    return std::string(r.canBuy ? "buyer, " : "") + (r.managesChain ? "manager of the chain" : "manager");
  return r.canBuy ? "buyer" : "clerk";
}

UserAccount commandLine() { return {0, "the command line", 0, {true, true, true}, true}; }

std::optional<UserAccount> findAccount(storage::Connection& db, std::int64_t id) {
  return accountWhere(db, "user_id = ?", id);
}

std::optional<UserAccount> findAccountNamed(storage::Connection& db, const std::string& name) {
  return accountWhere(db, "user_name = ?", name);
}

std::optional<std::string> refusalToChange(const UserAccount& actor, const UserAccount& target) {
  if (auto refusal = refusalToAct(actor)) return refusal;
  if (!actor.rights.managesChain && target.store != actor.store) return std::string(kNotYourStoresUser);
  if (!holds(actor.rights, target.rights))
    return "You may not change " + target.name + ", who is " + rolesText(target.rights) +
           ": a user is changed only by a manager who holds all of its rights.";
  return std::nullopt;
}

std::optional<std::string> refusalToGive(const UserAccount& actor, const UserRights& rights, std::int64_t store) {
  if (auto refusal = refusalToAct(actor)) return refusal;
  // A manager holds every right but the chain's.
  if (!holds(actor.rights, rights)) return "Only a manager of the whole chain may let another manage the whole chain.";
  if (!actor.rights.managesChain && store != actor.store)
    return "You may not give a user store " + std::to_string(store) + ".";
  return std::nullopt;
}

ChainManagerKept::ChainManagerKept(storage::Connection& db) : db_(db), before_(activeChainManagers(db)) {}

std::optional<std::string> ChainManagerKept::refusal() const {
  if (before_ == 0 || activeChainManagers(db_) > 0) return std::nullopt;
  return "That would leave the chain without an active manager of the whole chain; let another user manage the "
         "whole chain first.";
}

}  // namespace storeserver
