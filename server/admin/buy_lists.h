#pragma once
// A purchaser's buy list brought into a buying session from a CSV file, and
// one row of a session changed by hand, under the import's rules: what a list
// would do is shown before it is done. A row a handheld has bought against
// keeps its bought count whatever a list says.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "server/import/importer.h"
#include "server/storage/storage.h"

namespace storeserver::admin {

// The terms a purchaser buys a book on, as the back office sets them.
struct BuyTerms {
  std::int64_t qty = 0;  // or kNoLimit
  std::int64_t priceCents = 0;
  std::string status;
  std::string condition;

  bool operator==(const BuyTerms&) const = default;
};
// "5 at 12.50", "no limit at 3.00"
std::string termsText(const BuyTerms& terms);

// Merge: the list's rows are added or changed, the purchaser's others stay.
// Replace: the purchaser's rows become the list's; of the others, those
// bought against are kept but buy no more, the rest are removed.
enum class ListMerge { Merge, Replace };

struct PlannedRow {
  int line = 0;
  std::string isbn;
  std::string itemId;
  std::string title;
  std::int64_t otherBooks = 0;  // of the same ISBN, which the row does not go to
  BuyTerms terms;
  std::optional<BuyTerms> before;  // nullopt: a new row
};

struct ListPlan {
  std::vector<PlannedRow> rows;           // in the file's order
  std::vector<std::string> keptItems;     // Replace: left out of the list, but bought against
  std::vector<std::string> removedItems;  // Replace: left out of the list, never bought against

  // "3 new rows, 2 changed, 1 as it was; 1 row bought against buys no more, 4 removed"
  std::string summary() const;
};

// What storing the file would do. Throws Refusal naming every wrong line
// when the file cannot be stored whole.
ListPlan planBuyList(storage::Connection& db, std::int64_t session, const std::string& purchaser, std::string_view file,
                     ListMerge merge);
// The same for lines checked already, each of an ISBN among the store's books.
ListPlan planBuyLines(storage::Connection& db, std::int64_t session, const std::string& purchaser,
                      const std::vector<BuyListLine>& lines, ListMerge merge);
// In the caller's write transaction, planned after lockPurchaserRows.
void storeBuyList(storage::Connection& db, std::int64_t session, const std::string& purchaser, const ListPlan& plan);

// On PostgreSQL, locks the rows in the order a handheld's void locks them, so
// a handheld's purchase waits for the change and then sees it, or the change
// waits for the purchase and then counts it. An empty purchaser: every row of
// the session.
void lockPurchaserRows(storage::Connection& db, std::int64_t session, const std::string& purchaser = {});

// A form's value checked as the import checks that column of that kind;
// throws Refusal naming it by label.
storage::Value formValue(std::string_view kind, std::string_view column, const std::string& label,
                         const std::string& text);

struct BuyRow {
  std::string isbn;
  std::string title;
  BuyTerms terms;
  std::int64_t bought = 0;
};
std::optional<BuyRow> findBuyRow(storage::Connection& db, std::int64_t session, const std::string& itemId,
                                 const std::string& purchaser);
// Terms as a form gives them (quantity, price, status), each under the
// import's rule; throws Refusal with the first one wrong.
BuyTerms termsFromForm(const std::string& quantity, const std::string& price, const std::string& status,
                       const std::string& condition);
// Changes the row's terms; its bought count stays.
void setBuyTerms(storage::Connection& db, std::int64_t session, const std::string& itemId, const std::string& purchaser,
                 const BuyTerms& terms);

}  // namespace storeserver::admin
