// The back office's rules under the real server: who may enter, its cookie,
// form tokens, the stores a manager may see, escaping, and sessions' ends.
#include <regex>

#include "admin_fixture.h"
#include "tests/support/test_certificates.h"

namespace servertest {
namespace {

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
  for (const Case& c : {Case{"clerk", "clerk1", 403, notManager}, Case{"buyer", "buyer1", 403, notManager},
                        Case{"office", "wrong", 401, wrong}, Case{"gone", "office1", 401, wrong},
                        Case{"nobody", "x", 401, wrong}}) {
    AdminBrowser b = browser();
    const Answer a = b.logIn(c.name, c.password);
    EXPECT_EQ(a.status, c.status) << c.name;
    EXPECT_EQ(pageSentence(a.body), c.sentence) << c.name;
    EXPECT_EQ(a.header("Set-Cookie"), "") << c.name << " was given a session";
    EXPECT_EQ(b.get("/admin/status").header("Location"), "/admin/login") << c.name;
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

TEST(AdminTls, TheCookieIsSecureUnderTls) {
  TempDir dir;
  const testsupport::TestCertificates store(dir.path(), "store-ca");
  const testsupport::KeyPair files = store.issue("server", "IP:127.0.0.1");
  storeserver::ServerOptions o;
  o.port = 0;
  o.databasePath = (dir.path() / "store.db").string();
  o.seedDemo = true;
  o.ioThreads = o.workerThreads = o.authThreads = 1;
  o.passwordCost = storeserver::PasswordCost::minimum();
  o.tlsCertificate = files.certificate;
  o.tlsKey = files.key;
  o.logSink = [](std::string_view) {};
  std::string error;
  const auto server = storeserver::StoreServer::start(o, error);
  ASSERT_TRUE(server) << error;
  httplib::SSLClient c("127.0.0.1", server->port());
  c.set_ca_cert_path(store.authority().certificate);
  const auto a = c.Post("/admin/login", {{"Origin", "https://127.0.0.1:" + std::to_string(server->port())}},
                        httplib::Params{{"name", "office"}, {"password", "office1"}});
  ASSERT_TRUE(a) << httplib::to_string(a.error());
  EXPECT_EQ(a->status, 303);
  EXPECT_TRUE(a->get_header_value("Set-Cookie").ends_with("; HttpOnly; SameSite=Strict; Secure"))
      << a->get_header_value("Set-Cookie");
}

// Log-out is the change every page offers: without its token, with another's, or sent from another site it is
// refused and the session goes on; with it, the session ends.
TEST_P(Admin, AFormWithoutItsTokenChangesNothing) {
  AdminBrowser office = signedIn("office", "office1");
  const std::string refused =
      "This form did not come from this back office, or its page is too old; nothing was changed. Open the page "
      "again and repeat the change.";
  AdminBrowser other = signedIn("manager", "manager1");
  for (const auto& [fields, origin] : {std::pair{httplib::Params{{"csrf", ""}}, std::string()},
                                       {httplib::Params{{"csrf", other.csrf()}}, std::string()},
                                       {httplib::Params{}, std::string("http://elsewhere.example")}}) {
    const Answer a = office.post("/admin/logout", fields, origin);
    EXPECT_EQ(a.status, 403) << origin;
    EXPECT_EQ(pageSentence(a.body), refused);
    EXPECT_EQ(office.get("/admin/status").status, 200) << "the session ended without its form's token";
    httplib::Params add = fields;
    add.insert({{"action", "add"}, {"name", "intruder"}, {"password", "secret1"}, {"can_manage", "on"}});
    EXPECT_EQ(pageSentence(office.post("/admin/users", add, origin).body), refused);
  }
  EXPECT_TRUE(texts("SELECT user_name FROM users WHERE user_name = 'intruder'").empty());
  const Answer out = office.post("/admin/logout", {});
  EXPECT_EQ(out.header("Location"), "/admin/login?out=1");
  EXPECT_TRUE(out.header("Set-Cookie").find("Max-Age=0") != std::string::npos) << out.header("Set-Cookie");
  EXPECT_EQ(office.get("/admin/status").header("Location"), "/admin/login") << "a page served after log-out";
  EXPECT_EQ(texts("SELECT u.user_name FROM admin_sessions s JOIN users u ON u.user_id = s.user_id"),
            std::vector<std::string>{"manager"});
}

// By a page's address and by a form's fields alike.
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
  const std::string notYours = "That user is not one of your store's; open the Users page again.";
  struct Case {
    httplib::Params fields;
    std::string sentence;
  };
  for (const Case& c : {Case{{{"store", "1"}, {"action", "disable"}, {"user_id", "1"}},
                             "You may not see store 1 in the back office."},
                        Case{{{"store", "2"}, {"action", "disable"}, {"user_id", "1"}}, notYours},
                        Case{{{"store", "2"}, {"action", "password"}, {"user_id", "1"}, {"password", "taken1"}},
                             notYours},
                        Case{{{"store", "2"}, {"action", "roles"}, {"user_id", "3"}, {"can_manage", "on"},
                              {"user_store", "1"}},
                             "You may not give a user store 1."},
                        Case{{{"store", "2"}, {"action", "add"}, {"name", "mole"}, {"password", "secret1"},
                              {"user_store", "1"}},
                             "You may not give a user store 1."},
                        Case{{{"store", "2"}, {"action", "add"}, {"name", "mole"}, {"password", "secret1"},
                              {"can_manage", "on"}, {"manages_chain", "on"}},
                             "Only a manager of the whole chain may let another manage the whole chain."}})
    EXPECT_EQ(pageSentence(north.post("/admin/users", c.fields).body), c.sentence);
  EXPECT_EQ(texts("SELECT user_name || ' ' || store_num || ' ' || active FROM users WHERE user_id IN (1, 3) OR"
                  " user_name = 'mole' ORDER BY user_id"),
            (std::vector<std::string>{"buyer 1 1", "manager 2 1"}));
  EXPECT_EQ(browser().logIn("buyer", "taken1").status, 401) << "a password of store 1 set from store 2";

  sideConnection()->execute("UPDATE users SET manages_chain = 1 WHERE user_name = 'manager'");
  const Answer chain = north.get("/admin/status?store=1");
  EXPECT_EQ(chain.status, 200);
  EXPECT_NE(chain.body.find("Main Campus Bookstore (store 1)"), std::string::npos);
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
  const std::vector<Step> adds = {
      {{{"action", "add"}, {"name", "ann"}, {"password", "secret1"}, {"can_buy", "on"}}, "notice", "User ann added."},
      {{{"action", "add"}, {"name", "ann"}, {"password", "secret1"}}, "problem", "A user named ann exists already."},
      {{{"action", "add"}, {"name", "bob"}, {"password", "short"}}, "problem",
       "A password has from 6 to 128 characters."},
      {{{"action", "add"}, {"name", std::string(21, 'b')}, {"password", "secret1"}}, "problem",
       "A user name has at most 20 characters."},
      {{{"action", "add"}, {"name", "   "}, {"password", "secret1"}}, "problem", "Type the new user's name."},
      {{{"action", "add"}, {"name", "bo\u202Eb"}, {"password", "secret1"}}, "problem",
       "The user name holds the invisible direction mark U+202E."},
      {{{"action", "add"}, {"name", "bo\tb"}, {"password", "secret1"}}, "problem",
       "The user name holds a line break or another control character."},
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
// with a sentence; other pages keep the exchanges' limit.
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
  EXPECT_EQ(office.post("/admin/users", {{"action", "add"}, {"name", std::string(100 * 1024, 'n')}}).status, 413);
}

TEST_P(Admin, FailedLogInsAreLimitedAsOnTheHandhelds) {
  AdminBrowser b = browser();
  for (int i = 0; i < 5; ++i) ASSERT_EQ(b.logIn("office", "guess").status, 401);
  const Answer blocked = b.logIn("office", "office1");
  EXPECT_EQ(blocked.status, 429);
  EXPECT_EQ(pageSentence(blocked.body), "Too many failed log-ins for office; try again in 15 minutes.");
  EXPECT_EQ(blocked.header("Set-Cookie"), "");
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
