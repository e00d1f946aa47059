#include "wire/requests.h"

#include "wire/json_reader.h"

namespace wire::requests {

namespace {
std::string dump(const nlohmann::json& j) { return j.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace); }
constexpr std::size_t kMaxKindLength = 64;
}  // namespace

std::string sessions(std::string_view buyerUser, std::string_view buyerPassword, std::int64_t storeNumber) {
  return dump({{"request", kSessions}, {"user", buyerUser}, {"password", buyerPassword}, {"store", storeNumber}});
}

std::string aidAccounts(std::string_view studentId) {
  return dump({{"request", kAidAccounts}, {"student_id", studentId}});
}

std::string adoptionsByStudent(std::string_view studentId, std::int64_t storeNumber, bool restrict) {
  return dump(
      {{"request", kAdoptionsByStudent}, {"student_id", studentId}, {"store", storeNumber}, {"restrict", restrict}});
}

std::string adoptionsByItem(std::string_view itemCode, std::int64_t storeNumber, bool restrict) {
  return dump({{"request", kAdoptionsByItem}, {"code", itemCode}, {"store", storeNumber}, {"restrict", restrict}});
}

std::string adoptionDetail(std::string_view term, std::string_view department, std::string_view course,
                           std::string_view section, std::int64_t storeNumber) {
  return dump({{"request", kAdoptionDetail},
               {"term", term},
               {"department", department},
               {"course", course},
               {"section", section},
               {"store", storeNumber}});
}

std::string adoptionPrint(std::string_view code, std::int64_t storeNumber, bool student) {
  return dump({{"request", kAdoptionPrint}, {"code", code}, {"store", storeNumber}, {"student", student}});
}

std::string itemDetail(std::int64_t sessionId, std::string_view code, std::int64_t storeNumber) {
  return dump({{"request", kItemDetail}, {"session", sessionId}, {"code", code}, {"store", storeNumber}});
}

std::string purchasers(std::int64_t sessionId, std::string_view itemId, std::int64_t storeNumber) {
  return dump({{"request", kPurchasers}, {"session", sessionId}, {"item_id", itemId}, {"store", storeNumber}});
}

std::string stolenItems(std::int64_t sku, std::string_view studentId, std::int64_t storeNumber) {
  return dump({{"request", kStolenItems}, {"sku", sku}, {"student_id", studentId}, {"store", storeNumber}});
}

std::string product(std::string_view code, std::int64_t storeNumber) {
  return dump({{"request", kProduct}, {"code", code}, {"store", storeNumber}});
}

std::string inventory(std::string_view code, std::int64_t storeNumber) {
  return dump({{"request", kInventory}, {"code", code}, {"store", storeNumber}});
}

std::string ticket(std::string_view buyerUser, std::string_view studentId, std::int64_t storeNumber) {
  return dump({{"request", kTicket}, {"user", buyerUser}, {"student_id", studentId}, {"store", storeNumber}});
}

std::string receiptPrint(std::string_view receipt, std::int64_t storeNumber, bool copy) {
  return dump({{"request", kReceiptPrint}, {"receipt", receipt}, {"store", storeNumber}, {"copy", copy}});
}

std::string ticketLines(std::string_view receipt, std::int64_t storeNumber) {
  return dump({{"request", kTicketLines}, {"receipt", receipt}, {"store", storeNumber}});
}

std::string openTickets(std::int64_t storeNumber) { return dump({{"request", kOpenTickets}, {"store", storeNumber}}); }

std::string ticketItem(std::string_view updateId, std::string_view receipt, std::int64_t line,
                       std::string_view purchaser, std::int64_t sessionId, std::string_view itemId, std::int64_t qty,
                       std::string_view price) {
  return dump({{"request", kTicketItem},
               {"update_id", updateId},
               {"receipt", receipt},
               {"line", line},
               {"purchaser", purchaser},
               {"session", sessionId},
               {"item_id", itemId},
               {"qty", qty},
               {"price", price}});
}

std::string ticketTran(std::string_view updateId, std::string_view receipt) {
  return dump({{"request", kTicketTran}, {"update_id", updateId}, {"receipt", receipt}});
}

bool isCanonicalUpdateId(std::string_view text) {
  if (text.size() != kUpdateIdLength) return false;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    const bool dash = i == 8 || i == 13 || i == 18 || i == 23;
    if (dash ? c != '-' : !((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'))) return false;
  }
  return true;
}

std::optional<Request> parse(std::string_view text, std::string& error) {
  JsonReader in(text, "request text");
  auto kind = in.text("request", kMaxKindLength);
  if (!in.ok()) {
    error = in.error();
    return std::nullopt;
  }
  return Request{std::move(*kind), in.takeJson()};
}

}  // namespace wire::requests
