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
inline constexpr std::string_view kAdoptionsByStudent = "adoptra_student";
inline constexpr std::string_view kAdoptionsByItem = "adoptra_item";
inline constexpr std::string_view kAdoptionDetail = "adoptra_detail";
inline constexpr std::string_view kAdoptionPrint = "adoptra_print";

inline constexpr std::size_t kMaxStudentIdLength = 20;
inline constexpr std::int64_t kMaxStoreNumber = 9999;
inline constexpr std::size_t kMaxItemCodeLength = 20;

// Sellin's buying sessions of a store, for a buyer checked by user and password.
std::string sessions(std::string_view buyerUser, std::string_view buyerPassword, std::int64_t storeNumber);
// A student's aid charge accounts.
std::string aidAccounts(std::string_view studentId);
// Course sections that adopted books, with the problem reports of those books:
// those a student is enrolled in, or those that adopted an item (SKU or ISBN).
// restrict: only the logged-in user's own store may be asked.
std::string adoptionsByStudent(std::string_view studentId, std::int64_t storeNumber, bool restrict);
std::string adoptionsByItem(std::string_view itemCode, std::int64_t storeNumber, bool restrict);
// The books adopted for one course section, with a store's prices and stock.
std::string adoptionDetail(std::string_view term, std::string_view department, std::string_view course,
                           std::string_view section, std::int64_t storeNumber);
// The receipt printout of a student's or an item's adoptions.
std::string adoptionPrint(std::string_view code, std::int64_t storeNumber, bool student);

struct Request {
  std::string kind;
  nlohmann::json arguments;  // the whole object, "request" included
};

// Reads a request text; nullopt and a sentence in error when it is not a JSON
// object with a text member "request".
std::optional<Request> parse(std::string_view text, std::string& error);

}  // namespace wire::requests
