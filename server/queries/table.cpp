#include "server/queries/query.h"
#include "wire/requests.h"

namespace storeserver::queries {

std::span<const QueryKind> queryKinds() {
  static const QueryKind kinds[] = {
      {wire::requests::kSessions, wire::kPacketQuery, &sessions},
      {wire::requests::kAidAccounts, wire::kPacketQuery, &aidAccounts},
      {wire::requests::kAdoptionsByStudent, wire::kPacketQuery, &adoptionsByStudent},
      {wire::requests::kAdoptionsByItem, wire::kPacketQuery, &adoptionsByItem},
      {wire::requests::kAdoptionDetail, wire::kPacketQuery, &adoptionDetail},
      {wire::requests::kAdoptionPrint, wire::kPacketQuery, &adoptionPrint},
  };
  return kinds;
}

}  // namespace storeserver::queries
