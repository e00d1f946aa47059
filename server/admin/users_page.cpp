#include "server/admin/users_page.h"

#include "server/admin/key_pager.h"
#include "wire/text.h"

namespace storeserver::admin {

using storage::integerAt;
using storage::textAt;

namespace {

constexpr std::size_t kMaxNameCharacters = 20;  // as the users import takes them
constexpr std::size_t kMinPasswordBytes = 6;
constexpr std::size_t kMaxPasswordBytes = 128;

// The rights and store a form asks for, when the manager may give them.
struct Placement {
  UserRights rights;
  std::int64_t store;
};

Placement placementFrom(const PageContext& page, std::int64_t defaultStore) {
  const bool canManage = page.form.has("can_manage");
  const auto store = page.form.number("user_store");
  const Placement wanted{{page.form.has("can_buy"), canManage, canManage && page.form.has("manages_chain")},
                         store.value_or(defaultStore)};
  if (auto refusal = refusalToGive(page.manager.account(), wanted.rights, wanted.store)) throw Refusal(*refusal);
  return wanted;
}

// The user a form names, when the manager may change it.
UserAccount targetOf(const PageContext& page) {
  const auto id = page.form.number("user_id");
  const auto target = id ? findAccount(page.db, *id) : std::nullopt;
  if (!target) throw Refusal(std::string(kNotYourStoresUser));
  if (auto refusal = refusalToChange(page.manager.account(), *target)) throw Refusal(*refusal);
  return *target;
}

void checkName(const std::string& name) {
  if (wire::isBlank(name)) throw Refusal("Type the new user's name.");
  if (wire::toUtf16(name).size() > kMaxNameCharacters)
    throw Refusal("A user name has at most " + std::to_string(kMaxNameCharacters) + " characters.");
  if (auto problem = wire::hiddenCharacterProblem("The user name", name)) throw Refusal(*problem);
}

void checkPasswordTyped(const PageContext& page) {
  const std::string& password = page.form["password"];
  if (password.size() < kMinPasswordBytes || password.size() > kMaxPasswordBytes)
    throw Refusal("A password has from " + std::to_string(kMinPasswordBytes) + " to " +
                  std::to_string(kMaxPasswordBytes) + " characters.");
}

std::string addUser(PageContext& page, Audit& audit) {
  const std::string& name = page.form["name"];
  checkName(name);
  checkPasswordTyped(page);
  const Placement p = placementFrom(page, page.store);
  if (!page.db.query("SELECT user_id FROM users WHERE user_name = ?", {name}).empty())
    throw Refusal("A user named " + name + " exists already.");
  page.db.execute(
      "INSERT INTO users (user_id, user_name, password_hash, store_num, can_buy, active, can_manage, manages_chain)"
      " VALUES ((SELECT COALESCE(MAX(user_id), 0) + 1 FROM users), ?, ?, ?, ?, 1, ?, ?)",
      {name, page.newPasswordHash, p.store, std::int64_t(p.rights.canBuy), std::int64_t(p.rights.canManage),
       std::int64_t(p.rights.managesChain)});
  audit.record(p.store, "add user", name + ": " + rolesText(p.rights) + ", store " + std::to_string(p.store));
  return "User " + name + " added.";
}

std::string setActive(PageContext& page, Audit& audit, bool active) {
  const UserAccount user = targetOf(page);
  if (!active && user.id == page.manager.userId) throw Refusal("You cannot disable yourself.");
  page.db.execute("UPDATE users SET active = ? WHERE user_id = ?", {std::int64_t(active), user.id});
  // A disabled user's handheld and back-office sessions end with it.
  if (!active) page.db.execute("DELETE FROM admin_sessions WHERE user_id = ?", {user.id});
  audit.record(user.store, active ? "enable user" : "disable user", user.name);
  return "User " + user.name + (active ? " enabled." : " disabled.");
}

std::string setPassword(PageContext& page, Audit& audit) {
  const UserAccount user = targetOf(page);
  checkPasswordTyped(page);
  page.db.execute("UPDATE users SET password_hash = ? WHERE user_id = ?", {page.newPasswordHash, user.id});
  page.db.execute("DELETE FROM admin_sessions WHERE user_id = ?", {user.id});
  audit.record(user.store, "reset password", user.name);
  return "The password of " + user.name + " is set.";
}

std::string setRights(PageContext& page, Audit& audit) {
  const UserAccount user = targetOf(page);
  const Placement p = placementFrom(page, user.store);
  const UserRights& r = p.rights;
  if (user.id == page.manager.userId &&
      (!r.canManage || p.store != page.manager.homeStore || r.managesChain != page.manager.chainWide))
    throw Refusal("You cannot change your own manager's right or store; ask another manager.");
  page.db.execute("UPDATE users SET can_buy = ?, can_manage = ?, manages_chain = ?, store_num = ? WHERE user_id = ?",
                  {std::int64_t(r.canBuy), std::int64_t(r.canManage), std::int64_t(r.managesChain), p.store, user.id});
  audit.record(user.store, "set roles", user.name + ": " + rolesText(r) + ", store " + std::to_string(p.store));
  return "User " + user.name + " is now " + rolesText(r) + " at store " + std::to_string(p.store) + ".";
}

// Read by name, the key of a page of users.
View userRow(const storage::Row& r, const PageContext& page) {
  const UserAccount user{integerAt(r, 1),
                         textAt(r, 0),
                         page.store,
                         {integerAt(r, 2) != 0, integerAt(r, 3) != 0, integerAt(r, 4) != 0},
                         integerAt(r, 5) != 0};
  View row;
  row.set("id", std::to_string(user.id));
  row.set("name", user.name);
  row.set("roles", rolesText(user.rights));
  row.set("canBuy", user.rights.canBuy);
  row.set("canManage", user.rights.canManage);
  row.set("managesChain", user.rights.managesChain);
  row.set("active", user.active);
  row.set("self", user.id == page.manager.userId);
  // The forms a change would refuse are not offered; the page says why.
  const auto refusal = refusalToChange(page.manager.account(), user);
  row.set("mayChange", !refusal);
  row.set("whyNot", refusal.value_or(""));
  return row;
}

std::string runAction(PageContext& page, Audit& audit) {
  const std::string& action = page.form["action"];
  if (action == "add") return addUser(page, audit);
  if (action == "disable") return setActive(page, audit, false);
  if (action == "enable") return setActive(page, audit, true);
  if (action == "password") return setPassword(page, audit);
  if (action == "roles") return setRights(page, audit);
  throw Refusal("The form asked for nothing the Users page does; open the page again.");
}

}  // namespace

View showUsers(PageContext& page) {
  const KeyedList storeUsers{
      "SELECT user_name, user_id, can_buy, can_manage, manages_chain, active FROM users WHERE store_num = ?",
      {page.store},
      {"user_name"}};
  View view;
  ViewList users;
  for (const storage::Row& r :
       readPage(page.db, storeUsers, page.query, view, "/admin/users?store=" + std::to_string(page.store)).rows)
    users.push_back(userRow(r, page));
  view.set("noUsers", users.empty());
  view.set("users", users);
  view.set("mayGrantChain", page.manager.chainWide);
  return view;
}

std::string changeUser(PageContext& page, Audit& audit) {
  const ChainManagerKept kept(page.db);
  std::string done = runAction(page, audit);
  if (auto refusal = kept.refusal()) throw Refusal(*refusal);
  return done;
}

}  // namespace storeserver::admin
