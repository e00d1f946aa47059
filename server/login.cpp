// POST /v1/login: checks a user name and password and issues a session token
// for one program. Adoptra's answer carries its store's locations.
#include "server/services.h"
#include "wire/exchange.h"
#include "wire/framing.h"

namespace storeserver {

using storage::integerAt;
using storage::textAt;

namespace {

// The location records of a store, or nullopt and a sentence when one cannot be formatted.
std::optional<std::string> locationRecords(storage::Connection& db, std::int64_t store, std::string& error) {
  const storage::Rows rows =
      db.query("SELECT store_num, location_id, code, name FROM locations WHERE store_num = ? ORDER BY location_id",
               {store});
  std::string records;
  for (const storage::Row& r : rows) {
    wire::RecordWriter record(wire::layouts::location());
    record.integer(integerAt(r, 0)).integer(integerAt(r, 1)).text(textAt(r, 2)).text(textAt(r, 3));
    const auto text = record.finish();
    if (!text) {
      error = "Location " + std::to_string(integerAt(r, 1)) + " of store " + std::to_string(store) +
              " cannot be sent: " + record.error() + ".";
      return std::nullopt;
    }
    records += *text;
  }
  return records;
}

}  // namespace

HttpResponse errorResponse(int status, std::string_view sentence) { return {status, wire::errorJson(sentence), {}}; }

HttpResponse handleLogin(storage::Connection& db, std::string_view body, const ServiceContext& context) {
  const Stopwatch watch;
  std::string who = "-";
  int app = -1;
  auto finish = [&](HttpResponse response, std::string_view outcome) {
    context.log.write(logTime(std::chrono::system_clock::now()) + " login user=" + who + " app=" +
                      std::to_string(app) + " outcome=" + std::string(outcome) + " ms=" +
                      std::to_string(watch.milliseconds()));
    return response;
  };

  std::string error;
  const auto request = wire::parseLoginRequest(body, error);
  if (!request) return finish(errorResponse(400, error), "malformed");
  who = printable(request->user);
  app = request->app;

  try {
    const std::int64_t now = nowMilliseconds();
    std::optional<std::int64_t> blocked;
    std::optional<User> user;
    {
      storage::Transaction tx(db, storage::TxMode::Read);
      blocked = loginBlockedFor(db, request->user, context.failures, now);
      if (!blocked) user = findUser(db, request->user);
      tx.commit();
    }
    if (blocked) {
      HttpResponse response = errorResponse(429, tooManyFailuresSentence(who, *blocked));
      response.headers.emplace_back("Retry-After", std::to_string((*blocked + 999) / 1000));
      return finish(std::move(response), "throttled");
    }

    // The slow hash runs outside any transaction so it holds no lock.
    if (!context.passwords.matches(user, request->password)) {
      storage::Transaction tx(db, storage::TxMode::Write);
      recordLoginFailure(db, request->user, context.failures, now);
      tx.commit();
      return finish(errorResponse(401, "The user name or password is wrong."), "refused");
    }
    if (!user->active) return finish(errorResponse(401, "The user " + user->name + " is disabled."), "disabled");

    storage::Transaction tx(db, storage::TxMode::Write);
    wire::LoginReply reply{issueToken(db, *user, request->app, now, context.tokenLifetime), user->name,
                           "Logged in as " + user->name, {}};
    clearLoginFailures(db, request->user);
    if (request->app == wire::kAppAdoptra) {
      auto records = locationRecords(db, user->store, error);
      if (!records) return finish(errorResponse(500, error), "record failed");
      reply.reply = std::move(*records);
    }
    tx.commit();
    return finish({200, wire::toJson(reply), {}}, "ok");
  } catch (const storage::Error& e) {
    return finish(errorResponse(500, "The store database failed: " + std::string(e.what()) + "."), "database error");
  }
}

}  // namespace storeserver
