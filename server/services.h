#pragma once
// The two database-backed endpoints. Each runs on a database worker with that
// worker's own connection and answers a plain HTTP response.
#include <chrono>
#include <functional>
#include <string>
#include <string_view>

#include "server/auth.h"
#include "server/http_types.h"
#include "server/log.h"
#include "server/storage/storage.h"

namespace storeserver {

class Writer;

// Where the server reads the time: token lifetimes, the failed log-in window,
// ticket dates, log lines. The system clock, except in tests that move time.
using Clock = std::function<std::chrono::system_clock::time_point()>;

struct ServiceContext {
  PasswordChecker passwords;
  std::chrono::milliseconds tokenLifetime;
  FailureLimit failures;
  Logger& log;
  Writer& writer;  // runs the update queries
  int itemPageSize = 10;  // books per page of the item chooser
  Clock clock = std::chrono::system_clock::now;

  std::int64_t nowMs() const {
    return std::chrono::duration_cast<std::chrono::milliseconds>(clock().time_since_epoch()).count();
  }
};

// clientAddress: where the request came from, for the failed log-in limit.
HttpResponse handleLogin(storage::Connection& db, std::string_view body, std::string_view clientAddress,
                         const ServiceContext& context);
HttpResponse handleExchange(storage::Connection& db, std::string_view body, const ServiceContext& context,
                            std::string_view clientAddress = {});

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
