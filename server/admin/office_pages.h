#pragma once
// The pages of a store's buying: its buying sessions and what they bought,
// its tickets and the cash of a day, and its receipts.
#include <optional>
#include <string>

#include "server/admin/page.h"

namespace storeserver::admin {

// A store's sessions; with session=ID its books and purchasers, filtered by
// purchaser and status. With shipping=PURCHASER the purchaser's shipping list.
View showSessions(PageContext& page);
std::optional<Download> shippingListFile(PageContext& page);

// A day's tickets (day=YYYY-MM-DD, today by default) and each buyer's cash;
// with receipt=R one ticket's lines and audit trail, and its form.
View showTickets(PageContext& page);
// Ends or voids a ticket left open (closing=end or void, with a reason).
std::string closeTicket(PageContext& page, Audit& audit);
// The day a page is about: named as YYYY-MM-DD, or today when named is empty.
std::string chosenDay(const PageContext& page, const std::string& named);

// A receipt as printed (receipt=R), and the store's printers.
View showReceipts(PageContext& page);
// Sends it to the printer the form names.
std::string printReceipt(PageContext& page, Audit& audit);

}  // namespace storeserver::admin
