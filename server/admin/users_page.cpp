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

struct Rights {
  bool canBuy = false;
  bool canManage = false;
  bool managesChain = false;
};

std::string rolesOf(const Rights& r) {
  if (r.canManage) return std::string(r.canBuy ? "buyer, " : "") + (r.managesChain ? "manager of the chain" : "manager");
  return r.canBuy ? "buyer" : "clerk";
}

Rights rightsFrom(const PageContext& page) {
  Rights r{page.form.has("can_buy"), page.form.has("can_manage"), page.form.has("manages_chain")};
  if (r.managesChain && !page.manager.chainWide)
    throw Refusal("Only a manager of the whole chain may let another manage the whole chain.");
  r.managesChain = r.managesChain && r.canManage;
  return r;
}

std::int64_t storeFrom(const PageContext& page) {
  const auto store = page.form.number("user_store");
  if (!store) return page.store;
  if (!page.manager.mayManage(*store)) throw Refusal("You may not give a user store " + std::to_string(*store) + ".");
  return *store;
}

struct Target {
  std::int64_t id;
  std::string name;
  std::int64_t store;
};

// The user a form names, when it belongs to a store the manager may change.
Target targetOf(const PageContext& page) {
  const auto id = page.form.number("user_id");
  const storage::Rows rows =
      id ? page.db.query("SELECT user_id, user_name, store_num FROM users WHERE user_id = ?", {*id}) : storage::Rows{};
  if (rows.empty() || !page.manager.mayManage(integerAt(rows[0], 2)))
    throw Refusal("That user is not one of your store's; open the Users page again.");
  return {integerAt(rows[0], 0), textAt(rows[0], 1), integerAt(rows[0], 2)};
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
  const Rights r = rightsFrom(page);
  const std::int64_t store = storeFrom(page);
  if (!page.db.query("SELECT user_id FROM users WHERE user_name = ?", {name}).empty())
    throw Refusal("A user named " + name + " exists already.");
  page.db.execute(
      "INSERT INTO users (user_id, user_name, password_hash, store_num, can_buy, active, can_manage, manages_chain)"
      " VALUES ((SELECT COALESCE(MAX(user_id), 0) + 1 FROM users), ?, ?, ?, ?, 1, ?, ?)",
      {name, page.newPasswordHash, store, std::int64_t(r.canBuy), std::int64_t(r.canManage),
       std::int64_t(r.managesChain)});
  audit.record(store, "add user", name + ": " + rolesOf(r) + ", store " + std::to_string(store));
  return "User " + name + " added.";
}

std::string setActive(PageContext& page, Audit& audit, bool active) {
  const Target user = targetOf(page);
  if (!active && user.id == page.manager.userId) throw Refusal("You cannot disable yourself.");
  page.db.execute("UPDATE users SET active = ? WHERE user_id = ?", {std::int64_t(active), user.id});
  // A disabled user's handheld and back-office sessions end with it.
  if (!active) page.db.execute("DELETE FROM admin_sessions WHERE user_id = ?", {user.id});
  audit.record(user.store, active ? "enable user" : "disable user", user.name);
  return "User " + user.name + (active ? " enabled." : " disabled.");
}

std::string setPassword(PageContext& page, Audit& audit) {
  const Target user = targetOf(page);
  checkPasswordTyped(page);
  page.db.execute("UPDATE users SET password_hash = ? WHERE user_id = ?", {page.newPasswordHash, user.id});
  page.db.execute("DELETE FROM admin_sessions WHERE user_id = ?", {user.id});
  audit.record(user.store, "reset password", user.name);
  return "The password of " + user.name + " is set.";
}

std::string setRights(PageContext& page, Audit& audit) {
  const Target user = targetOf(page);
  const Rights r = rightsFrom(page);
  const std::int64_t store = storeFrom(page);
  if (user.id == page.manager.userId && (!r.canManage || store != page.manager.homeStore ||
                                         r.managesChain != page.manager.chainWide))
    throw Refusal("You cannot change your own manager's right or store; ask another manager.");
  page.db.execute("UPDATE users SET can_buy = ?, can_manage = ?, manages_chain = ?, store_num = ? WHERE user_id = ?",
                  {std::int64_t(r.canBuy), std::int64_t(r.canManage), std::int64_t(r.managesChain), store, user.id});
  audit.record(user.store, "set roles", user.name + ": " + rolesOf(r) + ", store " + std::to_string(store));
  return "User " + user.name + " is now " + rolesOf(r) + " at store " + std::to_string(store) + ".";
}

// Read by name, the key of a page of users.
View userRow(const storage::Row& r, const PageContext& page) {
  const Rights rights{integerAt(r, 2) != 0, integerAt(r, 3) != 0, integerAt(r, 4) != 0};
  View row;
  row.set("id", std::to_string(integerAt(r, 1)));
  row.set("name", textAt(r, 0));
  row.set("roles", rolesOf(rights));
  row.set("canBuy", rights.canBuy);
  row.set("canManage", rights.canManage);
  row.set("managesChain", rights.managesChain);
  row.set("active", integerAt(r, 5) != 0);
  row.set("self", integerAt(r, 1) == page.manager.userId);
  return row;
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
  const std::string& action = page.form["action"];
  if (action == "add") return addUser(page, audit);
  if (action == "disable") return setActive(page, audit, false);
  if (action == "enable") return setActive(page, audit, true);
  if (action == "password") return setPassword(page, audit);
  if (action == "roles") return setRights(page, audit);
  throw Refusal("The form asked for nothing the Users page does; open the page again.");
}

}  // namespace storeserver::admin
