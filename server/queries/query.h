#pragma once
// One handler per request kind, each in its own file, found by name in the
// table of queryKinds(). A handler checks every argument itself and answers
// an error reply with a sentence for anything wrong.
#include <initializer_list>
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
  // Page the query asked for: -1 for the first page, or not paged.
  int page = -1;
};

using Handler = wire::Reply (*)(QueryContext& context, const nlohmann::json& arguments);

// The packet types a request kind may come with.
class PacketSet {
 public:
  constexpr PacketSet(int packet) : bits_(bit(packet)) {}  // NOLINT: one type reads as the set of it
  constexpr PacketSet(std::initializer_list<int> packets) {
    for (int p : packets) bits_ |= bit(p);
  }
  constexpr bool has(int packet) const { return (bits_ & bit(packet)) != 0; }
  // "3", "0, 1 or 2"
  std::string describe() const;

 private:
  static constexpr unsigned bit(int packet) { return packet >= 0 && packet < 32 ? 1u << packet : 0u; }
  unsigned bits_ = 0;
};

struct QueryKind {
  std::string_view name;
  PacketSet packets;
  Handler run;
};

std::span<const QueryKind> queryKinds();

wire::Reply sessions(QueryContext& context, const nlohmann::json& arguments);
wire::Reply aidAccounts(QueryContext& context, const nlohmann::json& arguments);
wire::Reply itemDetail(QueryContext& context, const nlohmann::json& arguments);
wire::Reply purchasers(QueryContext& context, const nlohmann::json& arguments);
wire::Reply stolenItems(QueryContext& context, const nlohmann::json& arguments);
wire::Reply product(QueryContext& context, const nlohmann::json& arguments);
wire::Reply inventory(QueryContext& context, const nlohmann::json& arguments);

inline wire::Reply errorReply(std::string sentence) { return {true, std::move(sentence), 0, -1}; }
inline wire::Reply recordsReply(std::string records) { return {false, std::move(records), 0, -1}; }

}  // namespace storeserver::queries
