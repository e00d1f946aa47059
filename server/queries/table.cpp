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
      {wire::requests::kItemDetail, wire::kPacketQuery, &itemDetail},
      {wire::requests::kPurchasers, wire::kPacketQuery, &purchasers},
      {wire::requests::kStolenItems, wire::kPacketQuery, &stolenItems},
      {wire::requests::kProduct, wire::kPacketQuery, &product},
      {wire::requests::kInventory, wire::kPacketQuery, &inventory},
      {wire::requests::kTicket, wire::kPacketQuery, &ticket, Access::Write},
      {wire::requests::kReceiptPrint, wire::kPacketQuery, &receiptPrint},
      {wire::requests::kTicketItem, {wire::kPacketNewItem, wire::kPacketDelete, wire::kPacketChange}, &ticketItem,
       Access::ExactlyOnce},
      {wire::requests::kTicketTran, {wire::kPacketDelete, wire::kPacketChange}, &ticketTran, Access::ExactlyOnce},
      {wire::requests::kTicketLines, wire::kPacketQuery, &ticketLines},
      {wire::requests::kOpenTickets, wire::kPacketQuery, &openTickets},
  };
  return kinds;
}

}  // namespace storeserver::queries
