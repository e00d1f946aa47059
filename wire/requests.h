#pragma once
// Request texts: what a query asks for, as a JSON object naming the request and
// its arguments. The programs build them; the server reads and checks them.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include <nlohmann/json.hpp>

namespace wire::requests {

inline constexpr std::string_view kSessions = "sl_sessions";
inline constexpr std::string_view kAidAccounts = "aid_accounts";

inline constexpr std::size_t kMaxStudentIdLength = 20;
inline constexpr std::int64_t kMaxStoreNumber = 9999;

// Sellin's buying sessions of a store, for a buyer checked by user and password.
std::string sessions(std::string_view buyerUser, std::string_view buyerPassword, std::int64_t storeNumber);
// A student's aid charge accounts.
std::string aidAccounts(std::string_view studentId);

struct Request {
  std::string kind;
  nlohmann::json arguments;  // the whole object, "request" included
};

// Reads a request text; nullopt and a sentence in error when it is not a JSON
// object with a text member "request".
std::optional<Request> parse(std::string_view text, std::string& error);

}  // namespace wire::requests
