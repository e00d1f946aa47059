#include "server/admin/site.h"

#include <memory>

namespace storeserver::admin {

namespace {

constexpr std::string_view kCookie = "admin_session";
constexpr std::string_view kLoginPath = "/admin/login";
constexpr std::string_view kLogoutPath = "/admin/logout";
constexpr std::string_view kStylePath = "/admin/style.css";
constexpr std::size_t kMaxNameLength = 64;
constexpr std::size_t kMaxPasswordLength = 128;

constexpr std::string_view kWrongPassword = "The user name or password is wrong.";
constexpr std::string_view kNotAManager =
    "The back office is for store managers only; ask your manager if you need something changed here.";
constexpr std::string_view kFormRefused =
    "This form did not come from this back office, or its page is too old; nothing was changed. Open the page "
    "again and repeat the change.";
constexpr std::string_view kSessionEnded = "Your session has ended; log in again.";
constexpr std::string_view kLoggedOut = "You have logged out.";

HttpResponse withPageHeaders(HttpResponse response, std::string_view contentType) {
  response.headers.emplace_back("Content-Type", std::string(contentType));
  response.headers.emplace_back("Cache-Control", "no-store");
  response.headers.emplace_back("X-Content-Type-Options", "nosniff");
  response.headers.emplace_back("Referrer-Policy", "same-origin");
  response.headers.emplace_back(
      "Content-Security-Policy",
      "default-src 'none'; style-src 'self'; img-src 'self'; form-action 'self'; frame-ancestors 'none'");
  return response;
}

HttpResponse htmlResponse(int status, std::string body) {
  return withPageHeaders({status, std::move(body), {}}, "text/html; charset=utf-8");
}

HttpResponse download(const CsvFile& file) {
  HttpResponse response = withPageHeaders({200, file.body, {}}, "text/csv; charset=utf-8");
  response.headers.emplace_back("Content-Disposition", "attachment; filename=\"" + file.fileName + "\"");
  return response;
}

HttpResponse redirect(std::string location) {
  HttpResponse response = withPageHeaders({303, {}, {}}, "text/plain");
  response.headers.emplace_back("Location", std::move(location));
  return response;
}

std::string sizeText(std::size_t bytes) {
  constexpr std::size_t kKilo = 1024, kMega = 1024 * 1024;
  return bytes >= kMega ? std::to_string(bytes / kMega) + " MB" : std::to_string(bytes / kKilo) + " KB";
}

std::string_view pathOf(std::string_view target) { return target.substr(0, target.find('?')); }

// A form sent from a page of another site is refused, whatever it carries,
// and so is one from a page without an origin of its own ("null": a
// sandboxed frame, a data: address), which may be anyone's. Browsers send
// Origin with every POST; Referer stands in where they do not.
bool fromThisSite(const HttpRequest& request) {
  const std::string_view from = request.origin.empty() ? request.referer : request.origin;
  if (from.empty()) return true;
  const std::string_view host = hostOfUrl(from);
  return !host.empty() && host == request.host;
}

std::string retryAfterSeconds(std::int64_t waitMs) { return std::to_string((waitMs + 999) / 1000); }

std::string sessionCookie(std::string_view value, bool tls, bool clear) {
  return std::string(kCookie) + "=" + std::string(value) + "; Path=/admin/; HttpOnly; SameSite=Strict" +
         (tls ? "; Secure" : "") + (clear ? "; Max-Age=0" : "");
}

const Page* pageAt(std::string_view path) {
  if (!path.starts_with("/admin/")) return nullptr;
  const std::string_view name = path.substr(7);
  for (const Page& page : pages())
    if (page.path == name) return &page;
  return nullptr;
}

View navigation(std::string_view current, std::int64_t store) {
  ViewList items;
  for (const Page& page : pages()) {
    View item;
    item.set("href", "/admin/" + std::string(page.path) + "?store=" + std::to_string(store));
    item.set("label", std::string(page.title));
    item.set("current", page.path == current);
    items.push_back(item);
  }
  return items;
}

// The layout's parts that tell who is signed in, for which store, and where to go.
void describeSession(View& view, const Manager& manager, std::int64_t store, std::string_view current,
                     std::string_view token) {
  view.set("signedIn", true);
  view.set("manager", manager.name);
  view.set("store", std::to_string(store));
  ViewList stores;
  for (const Store& s : manager.stores) {
    View option;
    option.set("number", std::to_string(s.number));
    option.set("name", s.name);
    option.set("selected", s.number == store);
    stores.push_back(option);
    if (s.number == store) view.set("storeName", s.name);
  }
  view.set("stores", stores);
  view.set("storeChoice", manager.stores.size() > 1);
  view.set("nav", navigation(current, store));
  view.set("csrf", formToken(token));
}

// A page inside the layout: the page's template is the layout's {{>page}}.
std::string inLayout(std::string_view templateName, View view, std::string_view title) {
  view.set("title", std::string(title));
  return render("layout.html", view, templateName);
}

}  // namespace

bool isAdminPath(std::string_view path) { return path == kPrefix || path.starts_with("/admin/"); }

HttpResponse refusalPage(int status, std::string_view sentence) {
  View view;
  view.set("problem", std::string(sentence));
  const char* title = status == 413 ? "Too large" : status == 503 ? "Busy" : status >= 500 ? "Not done" : "Refused";
  return htmlResponse(status, inLayout("message", view, title));
}

// One request of the back office, answered on the thread of the pool it was given to.
class Answer {
 public:
  Answer(storage::Connection& db, const SiteEnvironment& site, const HttpRequest& request)
      : db_(db), site_(site), request_(request), nowMs_(site.services.nowMs()) {}

  HttpResponse logIn();
  HttpResponse logOut();
  HttpResponse page(const Page& page);

 private:
  HttpResponse loginPage(int status, std::string_view problem, std::string_view name);
  HttpResponse message(int status, std::string_view title, std::string_view sentence);
  void log(std::string_view what, std::string_view who, std::string_view outcome, const std::string& problem = {});

  storage::Connection& db_;
  const SiteEnvironment& site_;
  const HttpRequest& request_;
  const std::int64_t nowMs_;
  const Stopwatch watch_;
  std::string token_ = cookieValue(request_.cookie, kCookie);
  std::optional<Manager> manager_;
  std::int64_t store_ = 0;
};

void Answer::log(std::string_view what, std::string_view who, std::string_view outcome, const std::string& problem) {
  site_.services.log.write(logTime(site_.services.clock()) + " admin " + std::string(what) +
                           " user=" + quotedText(who) + " outcome=" + std::string(outcome) +
                           " ms=" + std::to_string(watch_.milliseconds()) +
                           (problem.empty() ? "" : " problems=" + quotedText(problem, 512)));
}

HttpResponse Answer::loginPage(int status, std::string_view problem, std::string_view name) {
  View view;
  view.set("problem", std::string(problem));
  view.set("name", std::string(name));
  return htmlResponse(status, inLayout("login", view, "Log in"));
}

HttpResponse Answer::message(int status, std::string_view title, std::string_view sentence) {
  View view;
  view.set("problem", std::string(sentence));
  if (manager_) describeSession(view, *manager_, store_, {}, token_);
  return htmlResponse(status, inLayout("message", view, title));
}

HttpResponse Answer::logIn() {
  if (!fromThisSite(request_)) return loginPage(403, kFormRefused, {});
  const auto form = parseForm(request_.contentType, request_.body);
  const std::string name = form ? (*form)["name"] : std::string();
  const std::string password = form ? (*form)["password"] : std::string();
  if (name.size() > kMaxNameLength) return loginPage(400, tooLongSentence("user name", kMaxNameLength), {});
  if (password.size() > kMaxPasswordLength)
    return loginPage(400, tooLongSentence("password", kMaxPasswordLength), name);
  const ServiceContext& services = site_.services;
  const PasswordCheck check = storage::againIfConnectionLost([&] {
    return checkPassword(db_, services.passwords, services.failures, name, password, request_.remoteAddress, nowMs_);
  });
  if (check.exceeded) {
    log("login", check.countedName, "throttled");
    HttpResponse refused =
        loginPage(429, triesExceededSentence(*check.exceeded, printable(name), "this network"), name);
    refused.headers.emplace_back("Retry-After", retryAfterSeconds(check.exceeded->waitMs));
    return refused;
  }
  if (!check.user) {
    log("login", check.countedName, "refused");
    return loginPage(401, kWrongPassword, name);
  }
  if (!check.user->canManage) {
    log("login", check.countedName, "not a manager");
    return loginPage(403, kNotAManager, name);
  }
  const std::string token = startSession(db_, check.user->id, nowMs_);
  log("login", check.countedName, "ok");
  HttpResponse response = redirect("/admin/");
  response.headers.emplace_back("Set-Cookie", sessionCookie(token, site_.tls, false));
  return response;
}

HttpResponse Answer::logOut() {
  const auto form = parseForm(request_.contentType, request_.body);
  if (!fromThisSite(request_) || !form || !formTokenMatches(token_, (*form)["csrf"]))
    return message(403, "Log out", kFormRefused);
  endSession(db_, token_);
  HttpResponse response = redirect("/admin/login?out=1");
  response.headers.emplace_back("Set-Cookie", sessionCookie("", site_.tls, true));
  return response;
}

HttpResponse Answer::page(const Page& page) {
  const SessionCheck session = checkSession(db_, token_, nowMs_, site_.sessions);
  if (session.state == SessionState::Ended) return redirect("/admin/login?ended=1");
  if (!session.manager) return redirect(std::string(kLoginPath));
  manager_ = session.manager;
  store_ = manager_->homeStore;

  const bool post = request_.method == "POST";
  const Fields query = queryOf(request_.target);
  Fields form;
  if (post) {
    auto sent = parseForm(request_.contentType, request_.body);
    if (!fromThisSite(request_) || !sent || !formTokenMatches(token_, (*sent)["csrf"])) {
      log(page.path, manager_->name, "form refused");
      return message(403, page.title, kFormRefused);
    }
    form = std::move(*sent);
  }
  const Fields& chosen = post ? form : query;
  if (chosen.has("store")) {
    const auto store = chosen.number("store");
    if (!store || !manager_->mayManage(*store))
      return message(403, page.title, "You may not see store " + printable(chosen["store"]) + " in the back office.");
    store_ = *store;
  }

  PageContext context{db_, site_, *manager_, store_, query, form, nowMs_};
  const std::string& password = form["password"];
  if (page.changesRunOn == RunsOn::PasswordChecks && !password.empty() && password.size() <= kMaxPasswordLength)
    context.newPasswordHash = hashPassword(password, site_.passwordCost);
  View view;
  if (!post && page.csv && query["file"] == "csv") {
    try {
      return download(page.csv(context));
    } catch (const Refusal& refusal) {
      return message(404, page.title, refusal.what());
    }
  }
  if (post) {
    if (!page.change) return message(405, page.title, "This page takes no form.");
    try {
      const bool preview = form.has(kPreviewField);
      if (!preview) view.set("notice", runChange(context, page.change));
      log(page.path, manager_->name, preview ? "previewed" : "ok");
    } catch (const Refusal& refusal) {
      view.set("problem", std::string(refusal.what()));
      log(page.path, manager_->name, "refused");
    }
  }
  try {
    View shown = page.show(context);
    // The page's own parts, then the layout's.
    for (const char* part : {"notice", "problem"})
      if (view.get(part)) shown.set(part, *view.get(part));
    view = std::move(shown);
  } catch (const Refusal& refusal) {
    return message(404, page.title, refusal.what());
  }
  describeSession(view, *manager_, store_, page.path, token_);
  return htmlResponse(view.get("problem") ? 400 : 200, inLayout(page.path, view, page.title));
}

std::string runChange(PageContext& page, const ChangePage& change) {
  storage::Transaction tx(page.db, storage::TxMode::Write);
  Audit audit(page.db, page);
  std::string done = change(page, audit);
  if (audit.recorded() == 0) throw std::logic_error("a back-office change recorded no audit");
  tx.commit();
  return done;
}

void Audit::record(std::string_view action, std::string_view details) { record(page_.store, action, details); }

void Audit::record(std::int64_t store, std::string_view action, std::string_view details) {
  db_.execute("INSERT INTO admin_audit (changed_at, user_name, store_num, action, details) VALUES (?, ?, ?, ?, ?)",
              {page_.nowMs, page_.manager.name, store, std::string(action), std::string(details)});
  ++recorded_;
}

Site::Site(SiteEnvironment environment, Runners runners)
    : environment_(std::move(environment)), runners_(std::move(runners)) {}

void Site::handle(HttpRequest&& request, Responder respond) {
  try {
    route(std::move(request), respond);
  } catch (const std::exception&) {
    respond(refusalPage(500, kServerFailed));
  }
}

void Site::route(HttpRequest&& request, const Responder& respond) {
  const auto shared = std::make_shared<HttpRequest>(std::move(request));
  const std::string_view path = pathOf(shared->target);
  const bool get = shared->method == "GET";
  const bool post = shared->method == "POST";
  const auto on = [&](const Runner& runner, auto answer) {
    runner(respond, [this, shared, answer](storage::Connection& db) {
      Answer a(db, environment_, *shared);
      return answer(a);
    });
  };

  if (shared->bodyTooLarge && (path == kUploadPath || path == kBuyListPath)) {
    View view;
    const bool import = path == kUploadPath;
    view.set("problem", "The file is larger than the " + sizeText(environment_.maxUploadBytes) +
                            (import ? " an import takes" : " a buy list takes") +
                            "; nothing was stored. Split it into smaller files and " +
                            (import ? "import each." : "bring in each."));
    return respond(htmlResponse(413, inLayout("message", view, import ? "Import" : "Buying sessions")));
  }
  if (shared->bodyTooLarge)
    return respond(refusalPage(413, "The form is larger than the " + sizeText(environment_.maxBodyBytes) +
                                        " a page takes; nothing was changed. Shorten what you typed and try again."));
  if (path == kStylePath && get)
    return respond(withPageHeaders({200, std::string(embeddedFile("style.css")), {}}, "text/css; charset=utf-8"));
  if ((path == kPrefix || path == "/admin/") && get)
    return respond(redirect("/admin/" + std::string(pages().front().path)));
  if (path == kLoginPath && get) {
    View view;
    const Fields query = queryOf(shared->target);
    if (query.has("ended")) view.set("problem", std::string(kSessionEnded));
    if (query.has("out")) view.set("notice", std::string(kLoggedOut));
    return respond(htmlResponse(200, inLayout("login", view, "Log in")));
  }
  if (path == kLoginPath && post) return on(runners_.passwordChecks, [](Answer& a) { return a.logIn(); });
  if (path == kLogoutPath && post) return on(runners_.workers, [](Answer& a) { return a.logOut(); });
  if (const Page* page = pageAt(path); page && (get || post)) {
    const Runner& runner =
        post && page->changesRunOn == RunsOn::PasswordChecks ? runners_.passwordChecks : runners_.workers;
    return on(runner, [page](Answer& a) { return a.page(*page); });
  }
  View view;
  view.set("problem", "The back office has no page at " + printable(path) + ".");
  respond(htmlResponse(404, inLayout("message", view, "Not found")));
}

}  // namespace storeserver::admin
