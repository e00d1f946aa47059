#include "server/admin/office_pages.h"
#include "server/admin/receipt_printers.h"
#include "server/log.h"
#include "server/queries/tickets.h"
#include "wire/requests.h"

namespace storeserver::admin {

namespace {

// The receipt of the page's store the URL or form names; nullopt when none is named.
std::optional<queries::tickets::Ticket> chosenReceipt(const PageContext& page) {
  const std::string& receipt = page.form.has("receipt") ? page.form["receipt"] : page.query["receipt"];
  if (receipt.empty()) return std::nullopt;
  auto ticket =
      receipt.size() <= wire::requests::kMaxReceiptLength ? queries::tickets::find(page.db, receipt) : std::nullopt;
  if (!ticket || ticket->store != page.store)
    throw Refusal("Store " + std::to_string(page.store) + " has no receipt " +
                  printable(receipt, wire::requests::kMaxReceiptLength) + ".");
  return ticket;
}

}  // namespace

View showReceipts(PageContext& page) {
  View view;
  ViewList printers;
  for (const ReceiptPrinter& p : page.site.printers)
    if (p.store == page.store) printers.push_back(View("name", p.name));
  view.set("noPrinters", printers.empty());
  view.set("printers", printers);
  const auto ticket = chosenReceipt(page);
  if (!ticket) return view;
  view.set("receipt", ticket->receipt);
  // As the handheld prints it again: headed as a copy.
  view.set("printout", queries::tickets::receiptPrintout(page.db, *ticket, true));
  return view;
}

std::string printReceipt(PageContext& page, Audit& audit) {
  const auto ticket = chosenReceipt(page);
  if (!ticket) throw Refusal("Type the number of the receipt to print.");
  const std::string& name = page.form["printer"];
  const ReceiptPrinter* printer = findPrinter(page.site.printers, page.store, name);
  if (!printer) throw Refusal("Store " + std::to_string(page.store) + " has no printer named " + printable(name) + ".");
  if (auto failed = sendToPrinter(*printer, queries::tickets::receiptPrintout(page.db, *ticket, true)))
    throw Refusal(*failed);
  audit.record("print receipt", ticket->receipt + " on " + printer->name);
  return "Receipt " + ticket->receipt + " was sent to " + printer->name + ".";
}

}  // namespace storeserver::admin
