// The back office's rules under the real server: who may enter, its cookie,
// form tokens, the stores a manager may see, escaping, and sessions' ends.
#include <map>
#include <regex>

#include "admin_fixture.h"
#include "server/storage/faulty_connection.h"

namespace servertest {
namespace {

using storeserver::storage::textAt;
using Admin = AdminTest;
INSTANTIATE_TEST_SUITE_P(Backends, Admin, kBothBackends, backendName);

// A disabled manager is answered as a wrong password; only a manager gets a session cookie.
TEST_P(Admin, OnlyAManagerEntersAndItsCookieIsHttpOnlyAndStrict) {
  const std::string wrong = "The user name or password is wrong.";
  const std::string notManager =
      "The back office is for store managers only; ask your manager if you need something changed here.";
  sideConnection()->execute("INSERT INTO users (user_id, user_name, password_hash, store_num, can_manage, active)"
                            " SELECT 9, 'gone', password_hash, 1, 1, 0 FROM users WHERE user_name = 'office'");
  struct Case {
    const char* name;
    const char* password;
    int status;
    std::string sentence;
  };
  for (const Case& c :
       {Case{"clerk", "clerk1", 403, notManager}, Case{"buyer", "buyer1", 403, notManager},
        Case{"office", "wrong", 401, wrong}, Case{"gone", "office1", 401, wrong}, Case{"nobody", "x", 401, wrong}}) {
    AdminBrowser b = browser();
    const Answer a = b.logIn(c.name, c.password);
    EXPECT_EQ(a.status, c.status) << c.name;
    EXPECT_EQ(pageSentence(a.body), c.sentence) << c.name;
    EXPECT_EQ(a.header("Set-Cookie"), "") << c.name << " was given a session";
    const Answer change = b.post("/admin/users", {{"action", "add"}, {"name", "intruder"}, {"password", "secret1"}});
    EXPECT_EQ(change.header("Location"), "/admin/login") << c.name << " changed a user without a session";
  }

  AdminBrowser office = browser();
  const Answer in = office.logIn("office", "office1");
  EXPECT_EQ(in.status, 303);
  EXPECT_EQ(in.header("Location"), "/admin/");
  EXPECT_TRUE(std::regex_match(in.header("Set-Cookie"),
                               std::regex("admin_session=[0-9a-f]{64}; Path=/admin/; HttpOnly; SameSite=Strict")))
      << in.header("Set-Cookie");
  const Answer status = office.get("/admin/status");
  EXPECT_EQ(status.status, 200);
  EXPECT_NE(status.body.find("Signed in as <strong>office</strong>"), std::string::npos) << status.body;
  EXPECT_EQ(texts("SELECT token_hash FROM admin_sessions").at(0).find(office.cookie().substr(14)), std::string::npos)
      << "the session's token kept as it is";
}

// Log-out is the change every page offers: without its token, with another's, or sent from another site it is
// refused and the session goes on; with it, the session ends.
TEST_P(Admin, AFormWithoutItsTokenChangesNothing) {
  AdminBrowser office = signedIn("office", "office1");
  AdminBrowser other = signedIn("manager", "manager1");
  for (const auto& [fields, origin] : {std::pair{httplib::Params{{"csrf", ""}}, std::string()},
                                       {httplib::Params{{"csrf", other.csrf()}}, std::string()},
                                       {httplib::Params{}, std::string("http://elsewhere.example")}}) {
    const Answer a = office.post("/admin/logout", fields, origin);
    EXPECT_EQ(a.status, 403) << origin;
    EXPECT_EQ(pageSentence(a.body), kFormRefused);
    EXPECT_EQ(office.get("/admin/status").status, 200) << "the session ended without its form's token";
    httplib::Params add = fields;
    add.insert({{"action", "add"}, {"name", "intruder"}, {"password", "secret1"}, {"can_manage", "on"}});
    EXPECT_EQ(pageSentence(office.post("/admin/users", add, origin).body), kFormRefused);
  }
  EXPECT_TRUE(texts("SELECT user_name FROM users WHERE user_name = 'intruder'").empty());
  const Answer out = office.post("/admin/logout", {});
  EXPECT_EQ(out.header("Location"), "/admin/login?out=1");
  EXPECT_TRUE(out.header("Set-Cookie").find("Max-Age=0") != std::string::npos) << out.header("Set-Cookie");
  EXPECT_EQ(office.get("/admin/status").header("Location"), "/admin/login") << "a page served after log-out";
  EXPECT_EQ(texts("SELECT u.user_name FROM admin_sessions s JOIN users u ON u.user_id = s.user_id"),
            std::vector<std::string>{"manager"});
}

// By a page's address; a form's store and user are held to the same in the table of actors below.
TEST_P(Admin, AManagerSeesItsOwnStoreOnlyUnlessItManagesTheChain) {
  AdminBrowser north = signedIn("manager", "manager1");
  EXPECT_EQ(north.get("/admin/status?store=2").status, 200);
  for (const std::string page : {"status", "users"})
    for (const char* store : {"1", "3", "x", "2 OR 1=1"}) {
      const Answer a = north.get("/admin/" + page + "?store=" + store);
      EXPECT_EQ(a.status, 403) << page << " " << store;
      EXPECT_EQ(a.body.find("Main Campus"), std::string::npos) << page << " " << store;
    }
  EXPECT_EQ(north.get("/admin/users").body.find("clerk"), std::string::npos) << "a user of store 1 shown";

  sideConnection()->execute("UPDATE users SET manages_chain = 1 WHERE user_name = 'manager'");
  const Answer chain = north.get("/admin/status?store=1");
  EXPECT_EQ(chain.status, 200);
  EXPECT_NE(chain.body.find("Main Campus Bookstore (store 1)"), std::string::npos);
}

// A user of the rights table: its store, rights and password.
struct Person {
  std::string name;
  std::int64_t store;
  bool buy, manage, chain;
  std::string password;
};

// The form an action on the Users page sends about target: add (a newcomer with target's rights and store),
// disable, enable, password, roles (a step up: clerk to buyer, buyer to manager, manager to the chain's, and the
// chain's manager toggles buying) and store (to the other store).
httplib::Params usersForm(const std::string& action, const Person& target, const std::string& targetId,
                          std::int64_t pageStore) {
  httplib::Params form{{"store", std::to_string(pageStore)}, {"action", action == "store" ? "roles" : action}};
  const auto rights = [&form](bool buy, bool manage, bool chain) {
    for (const auto& [given, field] : {std::pair{buy, "can_buy"}, {manage, "can_manage"}, {chain, "manages_chain"}})
      if (given) form.emplace(field, "on");
  };
  std::int64_t store = target.store;
  if (action == "add") {
    form.insert({{"name", "newcomer"}, {"password", "secret1"}});
    rights(target.buy, target.manage, target.chain);
  } else {
    form.emplace("user_id", targetId);
  }
  if (action == "password") form.emplace("password", "newpass1");
  if (action == "roles" && target.chain) rights(!target.buy, true, true);
  else if (action == "roles") rights(true, target.buy || target.manage, target.manage);
  if (action == "store") {
    rights(target.buy, target.manage, target.chain);
    store = 3 - target.store;
  }
  if (action == "add" || action == "roles" || action == "store") form.emplace("user_store", std::to_string(store));
  return form;
}

// Each manager on every user with every change of the Users page. A done change changes the user; a refused one
// gives its sentence and leaves the user as it was. Store 2 holds a manager of the whole chain: the user through
// whom a store's manager once took the chain over, by setting its password.
TEST_P(Admin, EachActorChangesOnlyUsersWhoseRightsItHoldsInItsOwnStore) {
  const std::vector<Person> people = {
      {"clerk", 1, false, false, false, "clerk1"},   {"buyer", 1, true, false, false, "buyer1"},
      {"manager", 2, true, true, false, "manager1"}, {"office", 1, false, true, true, "office1"},
      {"clerk2", 2, false, false, false, "office1"}, {"buyer2", 2, true, false, false, "office1"},
      {"boss2", 2, true, true, false, "office1"},    {"boss1", 1, false, true, false, "office1"},
      {"chain2", 2, false, true, true, "office1"}};
  auto db = sideConnection();
  for (std::size_t i = 4; i < people.size(); ++i)
    db->execute("INSERT INTO users (user_id, user_name, password_hash, store_num, active) SELECT ?, ?, password_hash,"
                " 1, 1 FROM users WHERE user_name = 'office'",
                {std::int64_t(100 + i), people[i].name});
  std::map<std::string, std::string> hashes, ids;
  for (const auto& r : db->query("SELECT user_name, password_hash, '' || user_id FROM users")) {
    hashes[textAt(r, 0)] = textAt(r, 1);
    ids[textAt(r, 0)] = textAt(r, 2);
  }
  const auto restore = [&db, &hashes](const Person& p) {
    db->execute("DELETE FROM users WHERE user_name = 'newcomer'");
    db->execute("UPDATE users SET store_num = ?, can_buy = ?, can_manage = ?, manages_chain = ?, active = 1,"
                " password_hash = ? WHERE user_name = ?",
                {p.store, std::int64_t(p.buy), std::int64_t(p.manage), std::int64_t(p.chain), hashes[p.name], p.name});
  };
  const auto stored = [&db](const std::string& name) {
    const auto rows = db->query("SELECT '' || store_num || can_buy || can_manage || manages_chain || active ||"
                                " password_hash FROM users WHERE user_name = ? OR user_name = 'newcomer'",
                                {name});
    std::string all;
    for (const auto& r : rows) all += textAt(r, 0) + "\n";
    return all;
  };
  const auto find = [&people](const std::string& name) { return *std::ranges::find(people, name, &Person::name); };
  for (const Person& p : people) restore(p);

  // + done; - not a change; S not its store; R the user's rights pass its own; C gives the chain's right;
  // G gives another store; D disables itself; O changes its own store. (Clerks and buyers cannot sign in.)
  const std::map<char, std::string> refusals = {
      {'S', "That user is not one of your store's."},
      {'R', "You may not change chain2, who is manager of the chain: a user is changed only by a manager who holds "
            "all of its rights."},
      {'C', "Only a manager of the whole chain may let another manage the whole chain."},
      {'D', "You cannot disable yourself."},
      {'O', "You cannot change your own manager's right or store; ask another manager."}};
  const std::string actions[] = {"add", "disable", "enable", "password", "roles", "store"};
  const struct {
    std::string actor, target, cells;  // the cells in the order of actions
  } table[] = {
      {"manager", "clerk2", "+++++G"},  {"manager", "buyer2", "+++++G"}, {"manager", "boss2", "++++CG"},
      {"manager", "boss1", "GSSSSS"},   {"manager", "chain2", "CRRRRR"}, {"manager", "clerk", "GSSSSS"},
      {"manager", "manager", "-D-+CG"}, {"office", "clerk2", "++++++"},  {"office", "buyer2", "++++++"},
      {"office", "boss2", "++++++"},    {"office", "boss1", "++++++"},   {"office", "chain2", "++++++"},
      {"office", "clerk", "++++++"},    {"office", "office", "-D-++O"},
  };
  for (const auto& row : table) {
    const Person actor = find(row.actor), target = find(row.target);
    for (std::size_t a = 0; a < std::size(actions); ++a) {
      const char cell = row.cells[a];
      if (cell == '-') continue;
      SCOPED_TRACE(row.actor + " " + actions[a] + " " + row.target + ": " + cell);
      restore(target);
      if (actions[a] == "enable") db->execute("UPDATE users SET active = 0 WHERE user_name = ?", {target.name});
      const std::string before = stored(target.name);
      AdminBrowser b = browser();
      b.logIn(actor.name, actor.password);
      b.get("/admin/users");
      const httplib::Params form = usersForm(actions[a], target, ids[target.name], actor.store);
      const Answer answer = b.post("/admin/users", form);
      const bool changed = stored(target.name) != before;
      if (cell == '+') {
        EXPECT_EQ(answer.status, 200) << pageSentence(answer.body);
        EXPECT_NE(pageSentence(answer.body, "notice"), "");
        EXPECT_TRUE(changed);
        continue;
      }
      EXPECT_FALSE(changed);
      if (cell == 'G') {
        EXPECT_EQ(pageSentence(answer.body), "You may not give a user store " + form.find("user_store")->second + ".");
      } else {
        EXPECT_EQ(pageSentence(answer.body), refusals.at(cell));
      }
    }
  }

  // A user the manager may not change is shown without the forms that would change it.
  for (const Person& p : people) restore(p);
  const std::string page = signedIn("manager", "manager1").get("/admin/users").body;
  EXPECT_NE(page.find("You may not change chain2, who is manager of the chain"), std::string::npos) << page;
  EXPECT_EQ(page.find("id=\"password-" + ids["chain2"] + "\""), std::string::npos) << page;
  EXPECT_NE(page.find("id=\"password-" + ids["boss2"] + "\""), std::string::npos) << page;
}

// Names come from imports and other systems: whatever they hold shows as text.
TEST_P(Admin, TextFromTheDatabaseIsEscaped) {
  sideConnection()->execute("UPDATE stores SET name = '<script>alert(\"x\")</script> & Co''s' WHERE store_num = 1");
  sideConnection()->execute("UPDATE users SET user_name = '<b>office</b>' WHERE user_name = 'office'");
  AdminBrowser office = signedIn("<b>office</b>", "office1");
  const std::string body = office.get("/admin/status").body;
  EXPECT_EQ(body.find("<script>"), std::string::npos);
  EXPECT_EQ(body.find("<b>"), std::string::npos);
  EXPECT_NE(body.find("&lt;script&gt;alert(&quot;x&quot;)&lt;/script&gt; &amp; Co&apos;s (store 1)"),
            std::string::npos);
  EXPECT_NE(body.find("&lt;b&gt;office&lt;/b&gt;"), std::string::npos);
}

// Every change on the Users page is kept with the manager's name; the page never shows a password or its hash.
TEST_P(Admin, UsersAreAddedDisabledGivenPasswordsAndRolesEachChangeAudited) {
  AdminBrowser office = signedIn("office", "office1");
  const auto userId = [this](const char* name) {
    return std::to_string(storeserver::storage::integerAt(
        sideConnection()->query("SELECT user_id FROM users WHERE user_name = ?", {std::string(name)}).at(0), 0));
  };
  struct Step {
    httplib::Params fields;
    std::string kind;  // of the page's sentence: notice or problem
    std::string sentence;
  };
  const auto add = [](const std::string& name, const std::string& password) {
    return httplib::Params{{"action", "add"}, {"name", name}, {"password", password}};
  };
  httplib::Params buyer = add("ann", "secret1");
  buyer.emplace("can_buy", "on");
  const std::vector<Step> adds = {
      {buyer, "notice", "User ann added."},
      {add("ann", "secret1"), "problem", "A user named ann exists already."},
      {add("bob", "short"), "problem", "A password has from 6 to 128 characters."},
      {add(std::string(21, 'b'), "secret1"), "problem", "A user name has at most 20 characters."},
      {add("   ", "secret1"), "problem", "Type the new user's name."},
      {add("bo\u202Eb", "secret1"), "problem", "The user name holds the invisible direction mark U+202E."},
  };
  for (const Step& step : adds) {
    const Answer a = office.post("/admin/users", step.fields);
    EXPECT_EQ(pageSentence(a.body, step.kind), step.sentence) << a.status;
  }
  const std::string ann = userId("ann");
  const std::vector<Step> changes = {
      {{{"action", "roles"}, {"user_id", ann}, {"can_manage", "on"}}, "notice", "User ann is now manager at store 1."},
      {{{"action", "password"}, {"user_id", ann}, {"password", "newpass1"}}, "notice", "The password of ann is set."},
      {{{"action", "disable"}, {"user_id", ann}}, "notice", "User ann disabled."},
      {{{"action", "disable"}, {"user_id", userId("office")}}, "problem", "You cannot disable yourself."},
  };
  for (const Step& step : changes) {
    const Answer a = office.post("/admin/users", step.fields);
    EXPECT_EQ(pageSentence(a.body, step.kind), step.sentence) << a.status;
    for (const char* secret : {"$argon2", "secret1", "newpass1"})
      EXPECT_EQ(a.body.find(secret), std::string::npos) << secret << " shown";
  }
  EXPECT_EQ(texts("SELECT user_name || ' ' || action || ' ' || details FROM admin_audit ORDER BY audit_id"),
            (std::vector<std::string>{"office add user ann: buyer, store 1", "office set roles ann: manager, store 1",
                                      "office reset password ann", "office disable user ann"}));
  EXPECT_EQ(browser().logIn("ann", "newpass1").status, 401) << "a disabled user entered";
  office.post("/admin/users", {{"action", "enable"}, {"user_id", ann}});
  EXPECT_EQ(browser().logIn("ann", "newpass1").status, 303);

  for (int i = 0; i < 60; ++i)
    sideConnection()->execute("INSERT INTO users (user_id, user_name, password_hash, store_num) VALUES (?, ?, 'x', 1)",
                              {std::int64_t(100 + i), "zz" + std::to_string(10 + i)});
  const std::string first = office.get("/admin/users?store=1").body;
  const std::smatch next = [&] {
    std::smatch found;
    std::regex_search(first, found, std::regex("href=\"([^\"]*)\" rel=\"next\""));
    return found;
  }();
  ASSERT_FALSE(next.empty()) << first;
  const std::string second = office.get(std::regex_replace(next.str(1), std::regex("&amp;"), "&")).body;
  EXPECT_EQ(first.find("zz69"), std::string::npos);
  EXPECT_NE(second.find("zz69"), std::string::npos) << second;
  EXPECT_EQ(second.find(">zz10<"), std::string::npos) << "the second page repeats the first";
}

// The upload's own limit, above the exchanges': what passes it is imported (and audited), what does not is refused
// with a sentence.
TEST_P(Admin, AnImportIsAuditedAndItsFileHasALimitOfItsOwn) {
  storeserver::ServerOptions o = options();
  o.maxBodyBytes = 64 * 1024;
  o.maxUploadBytes = 256 * 1024;
  start(o);
  AdminBrowser office = signedIn("office", "office1");
  office.get("/admin/import");
  std::string students = "student_id,name\n";
  for (int i = 0; students.size() < 128 * 1024; ++i) students += "S7" + std::to_string(100000 + i) + ",A student\n";
  const Answer imported = office.upload("students", students);
  EXPECT_EQ(imported.status, 200) << pageSentence(imported.body);
  EXPECT_NE(pageSentence(imported.body, "notice").find(" rows of students imported."), std::string::npos);
  EXPECT_EQ(texts("SELECT user_name || ' ' || action FROM admin_audit"), std::vector<std::string>{"office import"});

  const Answer tooLarge = office.upload("students", std::string(300 * 1024, 'x'));
  EXPECT_EQ(tooLarge.status, 413);
  EXPECT_EQ(pageSentence(tooLarge.body),
            "The file is larger than the 256 KB an import takes; nothing was stored. Split it into smaller files and "
            "import each.");
}

// A page elsewhere, or one with no origin of its own (a sandboxed frame, a data: address), cannot sign the browser
// in as another manager, nor send a signed-in manager's forms; Referer stands in only when Origin is missing.
TEST_P(Admin, ALogInOrAFormFromAnotherOriginOrNoneIsRefused) {
  const std::string self = "http://127.0.0.1:" + std::to_string(port_);
  struct Case {
    std::string origin, referer;
    int status;
  };
  for (const Case& c : {Case{"null", "", 403}, Case{"null", self + "/admin/login", 403},
                        Case{"http://elsewhere.example", self + "/admin/login", 403},
                        Case{"http://127.0.0.1:1", "", 403}, Case{"", "http://elsewhere.example/page", 403},
                        Case{"", "null", 403}, Case{self, "", 303}, Case{"", self + "/admin/login", 303}}) {
    httplib::Headers h;
    if (!c.origin.empty()) h.emplace("Origin", c.origin);
    if (!c.referer.empty()) h.emplace("Referer", c.referer);
    const Answer a = toAnswer(
        localClient(port_).Post("/admin/login", h, httplib::Params{{"name", "office"}, {"password", "office1"}}));
    EXPECT_EQ(a.status, c.status) << c.origin << " " << c.referer;
    EXPECT_EQ(a.header("Set-Cookie").empty(), c.status != 303) << c.origin << " " << c.referer;
    if (c.status == 403) {
      EXPECT_EQ(pageSentence(a.body), kFormRefused) << c.origin << " " << c.referer;
    }
  }
}

// Database statements the test fails, and a small limit of a form's body.
class AdminRefusals : public AdminTest {
 protected:
  storeserver::ServerOptions options() const override {
    storeserver::ServerOptions o = AdminTest::options();
    o.maxBodyBytes = 64 * 1024;
    o.wrapConnection = [faults = faults_](auto connection) { return faults->wrap(std::move(connection)); };
    return o;
  }

  std::shared_ptr<storeserver::storage::StorageFaults> faults_ =
      std::make_shared<storeserver::storage::StorageFaults>();
};
INSTANTIATE_TEST_SUITE_P(Backends, AdminRefusals, kBothBackends, backendName);

// The browser reads every refusal as a page: a form too large (whole or sent in chunks), a failure on the server.
TEST_P(AdminRefusals, EveryRefusalReachesTheBrowserAsAPage) {
  const std::string page = "text/html; charset=utf-8";
  const std::string tooLarge =
      "The form is larger than the 64 KB a page takes; nothing was changed. Shorten what you typed and try again.";
  AdminBrowser office = signedIn("office", "office1");
  const Answer large = office.post("/admin/users", {{"action", "add"}, {"name", std::string(100 * 1024, 'n')}});
  EXPECT_EQ(std::tuple(large.status, large.header("Content-Type"), pageSentence(large.body)),
            std::tuple(413, page, tooLarge));
  RawConnection chunked(port_);
  const std::string chunk(32 * 1024, 'n');
  std::string request = "POST /admin/users HTTP/1.1\r\nHost: 127.0.0.1\r\nCookie: " + office.cookie() +
                        "\r\nContent-Type: application/x-www-form-urlencoded\r\nTransfer-Encoding: chunked\r\n\r\n";
  for (int i = 0; i < 3; ++i) request += "8000\r\n" + chunk + "\r\n";
  ASSERT_TRUE(chunked.send(request + "0\r\n\r\n"));
  const Answer inChunks = chunked.readResponse();
  EXPECT_EQ(std::tuple(inChunks.status, pageSentence(inChunks.body)), std::tuple(413, tooLarge));

  faults_->armStatement(1, storeserver::storage::Fault::Fail);
  const Answer failed = office.post("/admin/users", {{"action", "add"}, {"name", "ann"}, {"password", "secret1"}});
  faults_->disarm();
  EXPECT_EQ(std::tuple(failed.status, failed.header("Content-Type"), pageSentence(failed.body)),
            std::tuple(500, page, std::string("The store server failed while answering; try again.")));
  EXPECT_TRUE(texts("SELECT user_name FROM users WHERE user_name = 'ann'").empty());
}

TEST_P(Admin, AnIdleOrOldSessionIsSentToLogIn) {
  const std::int64_t minute = 60'000;
  for (const char* column : {"last_seen_at", "started_at"}) {
    AdminBrowser office = signedIn("office", "office1");
    const std::int64_t past = std::string_view(column) == "last_seen_at" ? 30 * minute : 12 * 60 * minute;
    sideConnection()->execute(std::string("UPDATE admin_sessions SET ") + column + " = " + column + " - ?", {past});
    const Answer a = office.get("/admin/status");
    EXPECT_EQ(a.status, 303) << column;
    EXPECT_EQ(a.header("Location"), "/admin/login?ended=1") << column;
    EXPECT_EQ(pageSentence(browser().get("/admin/login?ended=1").body), "Your session has ended; log in again.");
    EXPECT_EQ(office.get("/admin/status").header("Location"), "/admin/login") << "an ended session came back";
  }
}

}  // namespace
}  // namespace servertest
