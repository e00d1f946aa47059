#include "server/queries/query.h"
#include "server/queries/ticket_ledger.h"
#include "wire/requests.h"

namespace storeserver::queries {

std::span<const QueryKind> queryKinds() {
  static const QueryKind kinds[] = {
      {wire::requests::kSessions, wire::kAppSellin, wire::kPacketQuery, &sessions},
      {wire::requests::kAidAccounts, wire::kAppStipendo, wire::kPacketQuery, &aidAccounts},
      {wire::requests::kAdoptionsByStudent, wire::kAppAdoptra, wire::kPacketQuery, &adoptionsByStudent},
      {wire::requests::kAdoptionsByItem, wire::kAppAdoptra, wire::kPacketQuery, &adoptionsByItem},
      {wire::requests::kAdoptionDetail, wire::kAppAdoptra, wire::kPacketQuery, &adoptionDetail},
      {wire::requests::kAdoptionPrint, wire::kAppAdoptra, wire::kPacketQuery, &adoptionPrint},
      {wire::requests::kItemDetail, wire::kAppSellin, wire::kPacketQuery, &itemDetail},
      {wire::requests::kPurchasers, wire::kAppSellin, wire::kPacketQuery, &purchasers},
      {wire::requests::kStolenItems, wire::kAppSellin, wire::kPacketQuery, &stolenItems},
      {wire::requests::kProduct, wire::kAppSellin, wire::kPacketQuery, &product},
      {wire::requests::kInventory, wire::kAppSellin, wire::kPacketQuery, &inventory},
      {wire::requests::kTicket, wire::kAppSellin, wire::kPacketQuery, &ticket, Access::Write},
      {wire::requests::kReceiptPrint, wire::kAppSellin, wire::kPacketQuery, &receiptPrint},
      {wire::requests::kTicketItem,
       wire::kAppSellin,
       {wire::kPacketNewItem, wire::kPacketDelete, wire::kPacketChange},
       &ticketItem,
       Access::ExactlyOnce,
       &ledger::lockItemRows},
      {wire::requests::kTicketTran,
       wire::kAppSellin,
       {wire::kPacketDelete, wire::kPacketChange},
       &ticketTran,
       Access::ExactlyOnce,
       &ledger::lockTranRows},
      {wire::requests::kTicketLines, wire::kAppSellin, wire::kPacketQuery, &ticketLines},
      {wire::requests::kOpenTickets, wire::kAppSellin, wire::kPacketQuery, &openTickets},
  };
  return kinds;
}

}  // namespace storeserver::queries
