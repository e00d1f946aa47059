#pragma once
// The pages of a store's buying: its buying sessions and what they bought,
// its tickets and the cash of a day, and its receipts.
#include <string>

#include "server/admin/buying_report.h"
#include "server/admin/page.h"

namespace storeserver::admin {

// A store's sessions; with session=ID its books and purchasers, filtered by
// purchaser and status, and with edit_item and edit_purchaser one row's form.
// A buy list sent with preview is shown as it would be stored.
View showSessions(PageContext& page);
// Adds a session; changes a session's description and rules, opens or
// closes it; brings in a purchaser's buy list; changes one of its rows.
std::string changeSessions(PageContext& page, Audit& audit);

// The session fields name (session=ID) when it is one of the page's store.
SessionRow sessionOfStore(const PageContext& page, const Fields& fields);
// Throws Refusal unless name may name a purchaser, as the import has it.
void checkPurchaserName(const std::string& name);

// A day's tickets (day=YYYY-MM-DD, today by default) and each buyer's cash;
// with receipt=R one ticket's lines and audit trail, and its form.
View showTickets(PageContext& page);
// file=csv with receipt=R: the ticket and its lines as a CSV file.
CsvFile ticketFile(PageContext& page);
// Ends or voids a ticket left open (closing=end or void, with a reason).
std::string closeTicket(PageContext& page, Audit& audit);
// The day a page is about: named as YYYY-MM-DD, or today when named is empty.
std::string chosenDay(const PageContext& page, const std::string& named);

// A receipt as printed (receipt=R), and the store's printers.
View showReceipts(PageContext& page);
// Sends it to the printer the form names.
std::string printReceipt(PageContext& page, Audit& audit);

}  // namespace storeserver::admin
