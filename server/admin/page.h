#pragma once
// What a back-office page is made of. A page is a handler that fills a view
// and a template of the same name that shows it (status.html), listed once
// in pages.cpp; the site signs the manager in, chooses the store, checks the
// form's token and keeps the change and its audit in one transaction.
//
//   View showStatus(PageContext& page);                     // GET
//   std::string addUser(PageContext& page, Audit& audit);   // POST; throws Refusal
//
// A form sent with a field named preview changes nothing: the page is shown
// with the form (PageContext::form), so that it can show what the change
// would do before the manager sends it without.
#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "server/admin/forms.h"
#include "server/admin/receipt_printers.h"
#include "server/admin/session.h"
#include "server/admin/templates.h"
#include "server/auth.h"
#include "server/log.h"
#include "server/services.h"
#include "server/storage/storage.h"

namespace storeserver::admin {

// What the server tells the pages beside the database.
struct SiteEnvironment {
  const ServiceContext& services;
  std::string databaseKind;  // "SQLite, file /var/lib/store.db"
  std::function<std::size_t()> openConnections;
  const ExchangeRate& exchanges;
  bool tls = false;
  PasswordCost passwordCost;  // of passwords set in the back office
  SessionLimits sessions;
  std::size_t maxUploadBytes = 0;          // of a file to import or a buy list
  std::size_t maxBodyBytes = 0;            // of any other form
  std::vector<ReceiptPrinter> printers{};  // for the receipts page
};

inline constexpr std::string_view kPreviewField = "preview";

// A sentence for the manager: the change is refused and nothing of it is kept.
class Refusal : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

struct PageContext {
  storage::Connection& db;
  const SiteEnvironment& site;
  const Manager& manager;
  std::int64_t store;   // the store the page is about; always one the manager may see
  const Fields& query;  // the URL's
  const Fields& form;   // a POST's; empty on GET
  std::int64_t nowMs;
  // The hash of the form's "password" field, made before the change's
  // transaction so no lock is held while it runs; on pages whose changes run
  // with the password checks, and empty when the form names none.
  std::string newPasswordHash = {};
};

// Writes what a change did to the audit table, in the change's own
// transaction, with the manager's name. A change that records nothing is
// refused as a fault, so none goes unrecorded.
class Audit {
 public:
  Audit(storage::Connection& db, const PageContext& page) : db_(db), page_(page) {}
  // store: the store the change is about, when not the page's.
  void record(std::string_view action, std::string_view details);
  void record(std::int64_t store, std::string_view action, std::string_view details);
  std::size_t recorded() const { return recorded_; }

 private:
  storage::Connection& db_;
  const PageContext& page_;
  std::size_t recorded_ = 0;
};

using ShowPage = std::function<View(PageContext&)>;
// Returns the sentence telling the manager what was done.
using ChangePage = std::function<std::string(PageContext&, Audit&)>;

// What a page gives as CSV instead of itself when its URL asks with file=csv.
struct CsvFile {
  std::string fileName;
  std::string body;
};
using CsvPage = std::function<CsvFile(PageContext&)>;

// Where a page's work runs: on the database workers, or with the password
// checks when its changes hash passwords (never on a network thread).
enum class RunsOn { Workers, PasswordChecks };

struct Page {
  std::string_view path;   // after /admin/: "status"
  std::string_view title;  // in the navigation and as the heading
  ShowPage show;
  ChangePage change = nullptr;  // null: the page takes no form
  RunsOn changesRunOn = RunsOn::Workers;
  CsvPage csv = nullptr;  // null: the page gives no CSV
  // The template is path + ".html" in templates/.
};

// Every page, in the navigation's order: the one place pages are added.
const std::vector<Page>& pages();

// The signed-in manager's change, on the page's form: runs change in one
// write transaction with its audit and commits both, or neither when it
// throws. The form's token has been checked by then.
std::string runChange(PageContext& page, const ChangePage& change);

}  // namespace storeserver::admin
