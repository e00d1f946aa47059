#pragma once
// One handler per request kind, each in its own file, found by name in the
// table of queryKinds(). A handler checks every argument itself and answers
// an error reply with a sentence for anything wrong.
#include <optional>
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
  storage::Connection& db;
  const User& user;  // who sent the exchange
  const ServiceContext& services;
  std::int64_t nowMs;
  // The exchange's read transaction, open while a read query runs; a writing
  // query runs in a write transaction of its own instead.
  std::optional<storage::Transaction>& readTx;
  // Why queries were refused, for the exchange's log line; never shown to a clerk.
  std::vector<std::string> problems;

  // Runs slow work (a password hash) with no transaction open, so it holds no
  // lock; the read transaction begins afresh afterwards.
  template <class Work>
  auto outsideTransaction(Work work) {
    if (readTx) readTx->commit();
    readTx.reset();
    auto result = work();
    readTx.emplace(db, storage::TxMode::Read);
    return result;
  }
  // Page the query asked for: -1 for the first page, or not paged.
  int page = -1;
  // The packet type the query came with (one of its kind's PacketSet).
  int packet = wire::kPacketQuery;
  // The log-in the exchange came with: its program and its token's hash.
  int app = -1;
  std::string tokenHash = {};
  std::string_view clientAddress = {};  // for the failed log-in limit
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

 private:
  static constexpr unsigned bit(int packet) { return packet >= 0 && packet < 32 ? 1u << packet : 0u; }
  unsigned bits_ = 0;
};

// How the exchange runs a request kind.
enum class Access {
  Read,         // inside the exchange's read transaction
  Write,        // alone in a write transaction, committed unless it answers an error
  ExactlyOnce,  // as Write, and its update_id is stored with the answer: a repeat gets that answer
};

// Sends the statements that lock the rows an update's checks stand on, run
// first in its transaction on PostgreSQL: its ticket, then purchasers in key
// order, one order for every update, so no two wait on each other in a ring.
// Arguments the update itself will refuse lock nothing.
using RowLocker = void (*)(storage::Connection& db, const nlohmann::json& arguments, int packet);

struct QueryKind {
  std::string_view name;
  int program;  // the one program (wire::kApp...) whose log-in may send it
  PacketSet packets;
  Handler run;
  Access access = Access::Read;
  RowLocker lockRows = nullptr;  // none: a serializable transaction orders it instead
};

std::span<const QueryKind> queryKinds();

wire::Reply sessions(QueryContext& context, const nlohmann::json& arguments);
wire::Reply aidAccounts(QueryContext& context, const nlohmann::json& arguments);
wire::Reply adoptionsByStudent(QueryContext& context, const nlohmann::json& arguments);
wire::Reply adoptionsByItem(QueryContext& context, const nlohmann::json& arguments);
wire::Reply adoptionDetail(QueryContext& context, const nlohmann::json& arguments);
wire::Reply adoptionPrint(QueryContext& context, const nlohmann::json& arguments);
wire::Reply itemDetail(QueryContext& context, const nlohmann::json& arguments);
wire::Reply purchasers(QueryContext& context, const nlohmann::json& arguments);
wire::Reply stolenItems(QueryContext& context, const nlohmann::json& arguments);
wire::Reply product(QueryContext& context, const nlohmann::json& arguments);
wire::Reply inventory(QueryContext& context, const nlohmann::json& arguments);
wire::Reply ticket(QueryContext& context, const nlohmann::json& arguments);
wire::Reply receiptPrint(QueryContext& context, const nlohmann::json& arguments);
wire::Reply ticketItem(QueryContext& context, const nlohmann::json& arguments);
wire::Reply ticketTran(QueryContext& context, const nlohmann::json& arguments);
wire::Reply ticketLines(QueryContext& context, const nlohmann::json& arguments);
wire::Reply openTickets(QueryContext& context, const nlohmann::json& arguments);

inline wire::Reply errorReply(std::string sentence) { return {true, std::move(sentence), 0, -1}; }
// A request no working program sends: the clerk gets a plain sentence, the log the detail.
inline wire::Reply unreadableReply(QueryContext& context, std::string detail) {
  context.problems.push_back(std::move(detail));
  return errorReply(std::string(kUnreadableRequest));
}
// A stored value the records cannot carry whole (see wire::RecordWriter).
struct Unsendable {
  std::string what;    // the thing, as a clerk would name it
  std::string detail;  // why, for the log
};
inline wire::Reply unsendableReply(QueryContext& context, const std::string& what, const std::string& detail) {
  context.problems.push_back(what + ": " + detail);
  return errorReply(what + " cannot be shown on a handheld; tell the back office.");
}
inline wire::Reply doneReply() { return {false, "", 0, -1}; }
inline wire::Reply recordsReply(std::string records) { return {false, std::move(records), 0, -1}; }

}  // namespace storeserver::queries
