#pragma once
// The exchange envelope read through a whole JSON tree: slow, but built on a
// parser many others use, so the envelope's own reader is checked against it.
#include <climits>

#include "wire/exchange.h"
#include "wire/json_reader.h"

namespace testsupport {

inline std::optional<wire::ExchangeRequest> parseEnvelopeAsTree(std::string_view body, std::string& error) {
  wire::JsonReader in(body, "exchange request");
  const auto app = in.integer("app", 0, INT_MAX);
  auto token = in.text("token", 128);
  const nlohmann::json* queries = in.array("queries", wire::kMaxQueriesPerExchange);
  if (in.ok() && !wire::isKnownApp(int(*app))) in.fail("The exchange request names an unknown program.");
  if (in.ok() && queries->empty()) in.fail("The exchange request holds no query.");
  if (!in.ok()) {
    error = in.error();
    return std::nullopt;
  }
  wire::ExchangeRequest request{int(*app), std::move(*token), {}};
  for (const nlohmann::json& q : *queries) {
    wire::JsonReader item(q, "query");
    const auto packet = item.integer("packet", wire::kPacketNewItem, wire::kPacketQuery);
    auto text = item.text("text", wire::kMaxQueryTextLength);
    const auto page = item.integerOr("page", -1, -1, INT_MAX);
    if (!item.ok()) {
      error = item.error();
      return std::nullopt;
    }
    request.queries.push_back({int(*packet), std::move(*text), int(*page)});
  }
  return request;
}

// True when both readers accept the body with the same request, or refuse it
// with the same sentence; otherwise describes the difference in why.
inline bool envelopeReadersAgree(std::string_view body, std::string& why) {
  std::string fastError, treeError;
  const auto fast = wire::parseExchangeRequest(body, fastError);
  const auto tree = parseEnvelopeAsTree(body, treeError);
  if (bool(fast) != bool(tree) || fastError != treeError) {
    why = "envelope reader: " + (fast ? std::string("accepted") : fastError) +
          "; tree: " + (tree ? std::string("accepted") : treeError);
    return false;
  }
  if (!fast) return true;
  bool same = fast->app == tree->app && fast->token == tree->token && fast->queries.size() == tree->queries.size();
  for (std::size_t i = 0; same && i < fast->queries.size(); ++i)
    same = fast->queries[i].packet == tree->queries[i].packet && fast->queries[i].text == tree->queries[i].text &&
           fast->queries[i].page == tree->queries[i].page;
  if (!same) why = "both accepted, with different requests";
  return same;
}

}  // namespace testsupport
