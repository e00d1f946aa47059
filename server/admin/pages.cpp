// The back office's pages, in the navigation's order. A page is added here,
// with its handler and its template (templates/<path>.html), and nowhere else.
#include "server/admin/page.h"
#include "server/admin/drawers_page.h"
#include "server/admin/import_page.h"
#include "server/admin/office_pages.h"
#include "server/admin/shipping_page.h"
#include "server/admin/status_page.h"
#include "server/admin/users_page.h"

namespace storeserver::admin {

const std::vector<Page>& pages() {
  static const std::vector<Page> all = {
      {"sessions", "Buying sessions", showSessions, changeSessions},
      {"shipping", "Shipping", showShipping, nullptr, RunsOn::Workers, packingListFile},
      {"tickets", "Tickets", showTickets, closeTicket, RunsOn::Workers, ticketFile},
      {"drawers", "Cash drawers", showDrawers, changeDrawer, RunsOn::Workers, daySheetFile},
      {"receipts", "Receipts", showReceipts, printReceipt},
      {"users", "Users", showUsers, changeUser, RunsOn::PasswordChecks},
      {"import", "Import", showImport, importFile, RunsOn::PasswordChecks},
      {"status", "Status", showStatus},
  };
  return all;
}

}  // namespace storeserver::admin
