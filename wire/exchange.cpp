#include "wire/exchange.h"

#include <climits>

#include <nlohmann/json.hpp>

#include "wire/json_reader.h"

namespace wire {

using nlohmann::json;

namespace {
// JSON text that never throws on invalid UTF-8 coming from a peer.
std::string dump(const json& j) { return j.dump(-1, ' ', false, json::error_handler_t::replace); }

constexpr std::size_t kMaxTokenLength = 128;
constexpr std::size_t kMaxReplyLength = 64 * 1024 * 1024;
}  // namespace

bool isKnownApp(int app) {
  return app == kAppSellin || app == kAppAdoptra || app == kAppStipendo;
}

std::string toJson(const LoginRequest& r) {
  return dump({{"app", r.app}, {"user", r.user}, {"password", r.password}});
}

std::string toJson(const LoginReply& r) {
  return dump({{"token", r.token}, {"user", r.user}, {"text", r.text}, {"reply", r.reply}});
}

std::string toJson(const ExchangeRequest& r) {
  json queries = json::array();
  for (const Query& q : r.queries) queries.push_back({{"packet", q.packet}, {"text", q.text}, {"page", q.page}});
  return dump({{"app", r.app}, {"token", r.token}, {"queries", queries}});
}

std::string toJson(const ExchangeReply& r) {
  json replies = json::array();
  for (const Reply& p : r.replies)
    replies.push_back({{"error", p.error}, {"text", p.text}, {"page", p.page}, {"page_count", p.pageCount}});
  return dump({{"replies", replies}});
}

std::string errorJson(std::string_view sentence) { return dump({{"error", sentence}}); }

std::optional<LoginRequest> parseLoginRequest(std::string_view body, std::string& error) {
  JsonReader in(body, "log-in request");
  const auto app = in.integer("app", 0, INT_MAX);
  // Typed by a clerk: the server checks the lengths, with a sentence for the clerk.
  auto user = in.text("user", kMaxQueryTextLength);
  auto password = in.text("password", kMaxQueryTextLength);
  if (in.ok() && !isKnownApp(int(*app))) in.fail("The log-in request names an unknown program.");
  if (!in.ok()) { error = in.error(); return std::nullopt; }
  return LoginRequest{int(*app), std::move(*user), std::move(*password)};
}

std::optional<LoginReply> parseLoginReply(std::string_view body, std::string& error) {
  JsonReader in(body, "log-in reply");
  auto token = in.text("token", kMaxTokenLength);
  auto user = in.text("user", kMaxUserLength);
  auto text = in.text("text", kMaxQueryTextLength);
  auto reply = in.text("reply", kMaxReplyLength);
  if (!in.ok()) { error = in.error(); return std::nullopt; }
  return LoginReply{std::move(*token), std::move(*user), std::move(*text), std::move(*reply)};
}

std::optional<ExchangeRequest> parseExchangeRequest(std::string_view body, std::string& error) {
  JsonReader in(body, "exchange request");
  const auto app = in.integer("app", 0, INT_MAX);
  auto token = in.text("token", kMaxTokenLength);
  const json* queries = in.array("queries", kMaxQueriesPerExchange);
  if (in.ok() && !isKnownApp(int(*app))) in.fail("The exchange request names an unknown program.");
  if (in.ok() && queries->empty()) in.fail("The exchange request holds no query.");
  if (!in.ok()) { error = in.error(); return std::nullopt; }
  ExchangeRequest request{int(*app), std::move(*token), {}};
  for (const json& q : *queries) {
    JsonReader item(q, "query");
    const auto packet = item.integer("packet", kPacketNewItem, kPacketQuery);
    auto text = item.text("text", kMaxQueryTextLength);
    const auto page = item.integerOr("page", -1, -1, INT_MAX);
    if (!item.ok()) { error = item.error(); return std::nullopt; }
    request.queries.push_back({int(*packet), std::move(*text), int(*page)});
  }
  return request;
}

std::optional<ExchangeReply> parseExchangeReply(std::string_view body, std::string& error) {
  JsonReader in(body, "server's answer");
  const json* replies = in.array("replies", kMaxQueriesPerExchange);
  if (!in.ok()) { error = in.error(); return std::nullopt; }
  ExchangeReply reply;
  for (const json& r : *replies) {
    JsonReader item(r, "server's answer");
    const auto isError = item.flag("error");
    auto text = item.text("text", kMaxReplyLength);
    const auto page = item.integerOr("page", 0, 0, INT_MAX);
    const auto pageCount = item.integerOr("page_count", -1, -1, INT_MAX);
    if (!item.ok()) { error = item.error(); return std::nullopt; }
    reply.replies.push_back({*isError, std::move(*text), int(*page), int(*pageCount)});
  }
  return reply;
}

std::optional<std::string> parseErrorBody(std::string_view body) {
  JsonReader in(body, "error");
  auto sentence = in.text("error", kMaxQueryTextLength);
  if (!in.ok()) return std::nullopt;
  return sentence;
}

}  // namespace wire
