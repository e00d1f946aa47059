#include "server/queries/query.h"
#include "wire/requests.h"

namespace storeserver::queries {

std::span<const QueryKind> queryKinds() {
  static const QueryKind kinds[] = {
      {wire::requests::kSessions, wire::kPacketQuery, &sessions},
      {wire::requests::kAidAccounts, wire::kPacketQuery, &aidAccounts},
      {wire::requests::kItemDetail, wire::kPacketQuery, &itemDetail},
      {wire::requests::kPurchasers, wire::kPacketQuery, &purchasers},
      {wire::requests::kStolenItems, wire::kPacketQuery, &stolenItems},
      {wire::requests::kProduct, wire::kPacketQuery, &product},
      {wire::requests::kInventory, wire::kPacketQuery, &inventory},
  };
  return kinds;
}

std::string PacketSet::describe() const {
  std::vector<int> packets;
  for (int p = 0; p < 32; ++p)
    if (has(p)) packets.push_back(p);
  std::string text;
  for (std::size_t i = 0; i < packets.size(); ++i) {
    if (i > 0) text += i + 1 == packets.size() ? " or " : ", ";
    text += std::to_string(packets[i]);
  }
  return text;
}

}  // namespace storeserver::queries
