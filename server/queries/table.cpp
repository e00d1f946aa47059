#include "server/queries/query.h"
#include "wire/requests.h"

namespace storeserver::queries {

std::span<const QueryKind> queryKinds() {
  static const QueryKind kinds[] = {
      {wire::requests::kSessions, wire::kPacketQuery, &sessions},
      {wire::requests::kAidAccounts, wire::kPacketQuery, &aidAccounts},
  };
  return kinds;
}

}  // namespace storeserver::queries
