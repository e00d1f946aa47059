#pragma once
// The two database-backed endpoints. Each runs on a database worker with that
// worker's own connection and answers a plain HTTP response.
#include <chrono>
#include <string_view>

#include "server/auth.h"
#include "server/http_types.h"
#include "server/log.h"
#include "server/storage/storage.h"

namespace storeserver {

struct ServiceContext {
  PasswordChecker passwords;
  std::chrono::milliseconds tokenLifetime;
  FailureLimit failures;
  Logger& log;
  int itemPageSize = 10;  // books per page of the item chooser
};

HttpResponse handleLogin(storage::Connection& db, std::string_view body, const ServiceContext& context);
HttpResponse handleExchange(storage::Connection& db, std::string_view body, const ServiceContext& context);

HttpResponse errorResponse(int status, std::string_view sentence);

}  // namespace storeserver
