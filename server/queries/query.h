#pragma once
// One handler per request kind, each in its own file, found by name in the
// table of queryKinds(). A handler checks every argument itself and answers
// an error reply with a sentence for anything wrong.
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include <nlohmann/json.hpp>

#include "server/services.h"
#include "wire/exchange.h"

namespace storeserver::queries {

struct QueryContext {
  storage::Connection& db;  // inside the exchange's read transaction
  const User& user;         // who sent the exchange
  const ServiceContext& services;
  std::int64_t nowMs;
  // Names whose password a query found wrong; recorded after the read
  // transaction ends, since a read cannot write.
  std::vector<std::string> failedLogins;
};

using Handler = wire::Reply (*)(QueryContext& context, const nlohmann::json& arguments);

struct QueryKind {
  std::string_view name;
  int packet;  // the packet type the kind must come with
  Handler run;
};

std::span<const QueryKind> queryKinds();

wire::Reply sessions(QueryContext& context, const nlohmann::json& arguments);
wire::Reply aidAccounts(QueryContext& context, const nlohmann::json& arguments);
wire::Reply adoptionsByStudent(QueryContext& context, const nlohmann::json& arguments);
wire::Reply adoptionsByItem(QueryContext& context, const nlohmann::json& arguments);
wire::Reply adoptionDetail(QueryContext& context, const nlohmann::json& arguments);
wire::Reply adoptionPrint(QueryContext& context, const nlohmann::json& arguments);

inline wire::Reply errorReply(std::string sentence) { return {true, std::move(sentence), 0, -1}; }
inline wire::Reply recordsReply(std::string records) { return {false, std::move(records), 0, -1}; }

}  // namespace storeserver::queries
