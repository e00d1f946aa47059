#pragma once
// The exchange envelope between the programs and the store server.
//
//   POST /v1/login     {"app":2,"user":"clerk","password":"..."}
//     200 {"token":"...","user":"clerk","text":"Logged in as clerk","reply":"<records>"}
//   POST /v1/exchange  {"app":2,"token":"...","queries":[{"packet":3,"text":"{...}","page":-1}]}
//     200 {"replies":[{"error":false,"text":"<records>","page":0,"page_count":-1}]}
//
// Any refusal of a whole request is a non-200 status with {"error":"<sentence>"}:
// 400 malformed, 401 log-in refused or token missing, wrong or expired,
// 413 body too large, 429 too many failed log-ins, 503 busy.
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace wire {

inline constexpr std::string_view kLoginPath = "/v1/login";
inline constexpr std::string_view kExchangePath = "/v1/exchange";

// Limits both sides agree on; the server refuses anything larger. User names
// and passwords are checked by the server itself, not by parseLoginRequest.
inline constexpr std::size_t kMaxUserLength = 64;
inline constexpr std::size_t kMaxPasswordLength = 128;
inline constexpr std::size_t kMaxQueriesPerExchange = 16;
inline constexpr std::size_t kMaxQueryTextLength = 4096;

// Program identities (eAppType). 4 only names a profile section.
inline constexpr int kAppSellin = 0;
inline constexpr int kAppAdoptra = 1;
inline constexpr int kAppStipendo = 2;
inline constexpr int kAppStoreDefaults = 4;

// Packet types: 3 for queries; 0, 1, 2 for Sellin's updates.
inline constexpr int kPacketNewItem = 0;
inline constexpr int kPacketDelete = 1;
inline constexpr int kPacketChange = 2;
inline constexpr int kPacketQuery = 3;

struct LoginRequest {
  int app = 0;
  std::string user;
  std::string password;
};

struct LoginReply {
  std::string token;
  std::string user;
  std::string text;   // for the status line
  std::string reply;  // records for the program (Adoptra: its store's locations)
};

struct Query {
  int packet = kPacketQuery;
  std::string text;
  int page = -1;  // -1: first page, or not paged
};

struct ExchangeRequest {
  int app = 0;
  std::string token;
  std::vector<Query> queries;
};

struct Reply {
  bool error = false;
  std::string text;
  int page = 0;        // page of this reply, from 1; 0 when not paged
  int pageCount = -1;  // -1: not paged
};

struct ExchangeReply {
  std::vector<Reply> replies;
};

// Serialise to the JSON bodies above.
std::string toJson(const LoginRequest& request);
std::string toJson(const LoginReply& reply);
std::string toJson(const ExchangeRequest& request);
std::string toJson(const ExchangeReply& reply);
std::string errorJson(std::string_view sentence);

// Parse a body. Each returns nullopt and sets error to a sentence naming what
// is wrong when the body is not JSON, a member is missing or of the wrong type,
// or a value is out of range; unknown members are ignored.
std::optional<LoginRequest> parseLoginRequest(std::string_view body, std::string& error);
std::optional<LoginReply> parseLoginReply(std::string_view body, std::string& error);
std::optional<ExchangeRequest> parseExchangeRequest(std::string_view body, std::string& error);
std::optional<ExchangeReply> parseExchangeReply(std::string_view body, std::string& error);
// The sentence of an error body, or nullopt when the body is not one.
std::optional<std::string> parseErrorBody(std::string_view body);

bool isKnownApp(int app);

}  // namespace wire
