#pragma once
// The two database-backed endpoints. A log-in, and an exchange that writes or
// checks a password, run on a database worker with that worker's own
// connection; an exchange that only reads, or (on SQLite) is one update,
// runs on the network thread that received it, with that thread's connection,
// the update itself on the writer. Each answers a plain HTTP response.
#include <chrono>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "server/auth.h"
#include "server/http_types.h"
#include "server/log.h"
#include "server/storage/storage.h"
#include "wire/exchange.h"
#include "wire/requests.h"

namespace storeserver {

class Writer;

// Where the server reads the time: token lifetimes, the failed log-in window,
// ticket dates, log lines. The system clock, except in tests that move time.
using Clock = std::function<std::chrono::system_clock::time_point()>;

struct ServiceContext {
  PasswordChecker passwords;
  std::chrono::milliseconds tokenLifetime;
  LoginTries& failures;  // failed log-ins, counted in this server's memory
  Logger& log;
  Writer& writer;         // runs the update queries
  int itemPageSize = 10;  // books per page of the item chooser
  Clock clock = std::chrono::system_clock::now;

  std::int64_t nowMs() const {
    return std::chrono::duration_cast<std::chrono::milliseconds>(clock().time_since_epoch()).count();
  }
};

// clientAddress: where the request came from, for the failed log-in limit.
HttpResponse handleLogin(storage::Connection& db, std::string_view body, std::string_view clientAddress,
                         const ServiceContext& context);
// On the network thread, before any password check: the refusal of a log-in
// from an address whose tries are used up, which needs no database.
std::optional<HttpResponse> refuseLoginAtOnce(std::string_view body, std::string_view clientAddress,
                                              const ServiceContext& context);

// An exchange's body read once: the envelope, then each query's text.
struct ExchangeInput {
  std::optional<wire::ExchangeRequest> request;  // nullopt: unreadable, see error
  std::string error;
  std::vector<std::optional<wire::requests::Request>> texts;  // one per query; nullopt: see textErrors
  std::vector<std::string> textErrors;
};
ExchangeInput readExchange(std::string_view body);
// What an exchange's queries wait for: nothing (they only read), the
// writer's commit, or a password hash (one checks a buyer's password).
enum class ExchangeNeeds { ReadsOnly, Commit, PasswordCheck };
ExchangeNeeds needs(const ExchangeInput& input);
HttpResponse handleExchange(storage::Connection& db, const ExchangeInput& input, const ServiceContext& context,
                            std::string_view clientAddress = {});

// Whether startUpdateExchange() takes this exchange: it is one update and
// the writer commits on a thread of its own. Otherwise a worker's
// handleExchange() answers it.
bool takesUpdateHere(const ExchangeInput& input, const ServiceContext& context);
// On the network thread that received an exchange that takesUpdateHere(),
// with that thread's db: takes input, hands the update to the writer and
// answers through respond (the reply made through backHere once the update
// is committed), with nobody waiting meanwhile.
void startUpdateExchange(storage::Connection& db, ExchangeInput& input, const ServiceContext& context,
                         std::string_view clientAddress, ThreadRunner backHere, Responder respond);

HttpResponse errorResponse(int status, std::string_view sentence);

// For the clerk who typed a text longer than the server takes: "A user name has at most 64 characters."
inline std::string tooLongSentence(std::string_view what, std::size_t maxCharacters) {
  return "A " + std::string(what) + " has at most " + std::to_string(maxCharacters) + " characters.";
}

// What a clerk reads when a program sent something the server cannot read: a
// program fault, never the clerk's, so the detail goes to the log only.
inline constexpr std::string_view kUnreadableRequest =
    "The store server cannot read this handheld's request; tell the back office.";
inline constexpr std::string_view kServerFailed = "The store server failed while answering; try again.";
inline constexpr std::string_view kDatabaseFailed =
    "The store database could not answer; try again, and tell the back office if it happens again.";

}  // namespace storeserver
