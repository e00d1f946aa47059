// POST /v1/login: checks a user name and password and issues a session token
// for one program. Adoptra's answer carries the locations the user may look up.
#include "server/services.h"
#include "wire/exchange.h"
#include "wire/framing.h"

namespace storeserver {

using storage::integerAt;
using storage::textAt;

namespace {

// The location records the user may look up: every store's, or the user's
// own store's when the back office restricts the user. nullopt and the
// reason when one cannot be sent whole.
std::optional<std::string> locationRecords(storage::Connection& db, const User& user, std::string& problem) {
  const storage::Rows rows =
      db.query("SELECT store_num, location_id, code, name FROM locations WHERE ? = 0 OR store_num = ?"
               " ORDER BY store_num, location_id",
               {std::int64_t(user.restrictLookup), user.store});
  std::string records;
  for (const storage::Row& r : rows) {
    wire::RecordWriter record(wire::layouts::location());
    record.integer(integerAt(r, 0)).integer(integerAt(r, 1)).text(textAt(r, 2)).text(textAt(r, 3));
    const auto text = record.finish();
    if (!text) {
      problem = "location " + std::to_string(integerAt(r, 1)) + ": " + record.error();
      return std::nullopt;
    }
    records += *text;
  }
  return records;
}

void logLogin(const ServiceContext& context, std::string_view who, int app, std::string_view outcome,
              const Stopwatch& watch, const std::string& problem = {}) {
  context.log.write(logTime(context.clock()) + " login user=" + quotedText(who) + " app=" + std::to_string(app) +
                    " outcome=" + std::string(outcome) + " ms=" + std::to_string(watch.milliseconds()) +
                    (problem.empty() ? "" : " problems=" + quotedText(problem, 512)));
}

HttpResponse tooManyTries(const TriesExceeded& exceeded, std::string_view name) {
  HttpResponse response = errorResponse(429, triesExceededSentence(exceeded, printable(name)));
  response.headers.emplace_back("Retry-After", std::to_string((exceeded.waitMs + 999) / 1000));
  return response;
}

}  // namespace

HttpResponse errorResponse(int status, std::string_view sentence) { return {status, wire::errorJson(sentence), {}}; }

std::optional<HttpResponse> refuseLoginAtOnce(std::string_view body, std::string_view clientAddress,
                                              const ServiceContext& context) {
  const Stopwatch watch;
  const auto exceeded = context.failures.refusesAddress(std::string(clientAddress), context.nowMs());
  if (!exceeded) return std::nullopt;
  std::string problem;
  const auto request = wire::parseLoginRequest(body, problem);
  if (!request) return std::nullopt;  // answered as any malformed log-in is
  logLogin(context, "-", request->app, "throttled", watch);
  return tooManyTries(*exceeded, request->user);
}

HttpResponse handleLogin(storage::Connection& db, std::string_view body, std::string_view clientAddress,
                         const ServiceContext& context) {
  const Stopwatch watch;
  std::string who = "-";
  int app = -1;
  std::string problem;
  auto finish = [&](HttpResponse response, std::string_view outcome) {
    logLogin(context, who, app, outcome, watch, problem);
    return response;
  };

  const auto request = wire::parseLoginRequest(body, problem);
  if (!request) return finish(errorResponse(400, kUnreadableRequest), "malformed");
  app = request->app;
  if (request->user.size() > wire::kMaxUserLength)
    return finish(errorResponse(400, tooLongSentence("user name", wire::kMaxUserLength)), "refused");
  if (request->password.size() > wire::kMaxPasswordLength)
    return finish(errorResponse(400, tooLongSentence("password", wire::kMaxPasswordLength)), "refused");

  // Run again on a fresh connection when a restart of the database closed the one it ran on.
  const auto attempt = [&]() -> HttpResponse {
    const std::int64_t now = context.nowMs();
    const PasswordCheck check =
        checkPassword(db, context.passwords, context.failures, request->user, request->password, clientAddress, now);
    // Never the name as typed: it may be a password typed in the wrong field.
    who = check.countedName;
    if (check.exceeded) return finish(tooManyTries(*check.exceeded, request->user), "throttled");
    // A disabled user's right password is answered as a wrong one.
    if (!check.user) return finish(errorResponse(401, "The user name or password is wrong."), "refused");
    const User& user = *check.user;

    // Tokens are rows of their own: writing one waits for no other server.
    storage::Transaction tx(db, storage::TxMode::Independent);
    wire::LoginReply reply{{}, user.name, "Logged in as " + user.name, {}};
    if (request->app == wire::kAppAdoptra) {
      // Adoptra can do nothing without a location, so an empty list is no success.
      auto records = locationRecords(db, user, problem);
      if (!records)
        return finish(errorResponse(500, "A location of store " + std::to_string(user.store) +
                                             " cannot be shown on a handheld; tell the back office."),
                      "record failed");
      if (records->empty())
        return finish(errorResponse(403, "Store " + std::to_string(user.store) +
                                             " has no locations yet; the back office must add one first."),
                      "no locations");
      reply.reply = std::move(*records);
    }
    reply.token = issueToken(db, user, request->app, now, context.tokenLifetime);
    tx.commit();
    return finish({200, wire::toJson(reply), {}}, "ok");
  };
  try {
    return storage::againIfConnectionLost(attempt);
  } catch (const storage::Unreachable& e) {
    // As for an exchange: the handheld may try again once a database takes writes.
    problem = e.what();
    return finish(errorResponse(503, kDatabaseFailed), "database unreachable");
  } catch (const storage::Error& e) {
    problem = e.what();
    return finish(errorResponse(500, kDatabaseFailed), "database error");
  }
}

}  // namespace storeserver
