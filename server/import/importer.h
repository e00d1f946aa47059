#pragma once
// Loads a store's own data from CSV files its other systems export. Each file
// is one kind of row; the header names the kind's columns in any order. The
// whole file is checked before anything is written, then written in one
// transaction; rows are keyed, so importing a file again leaves the same data.
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "server/auth.h"
#include "server/storage/storage.h"
#include "server/user_rights.h"

namespace storeserver {

// The kinds and their columns, one line each, for the usage text; a column
// the header may leave out in brackets.
std::vector<std::string> importKinds();

// Own: the rows are written in a transaction of the import's own. Callers:
// in the caller's write transaction, which must roll back when the import fails.
enum class ImportTransaction { Own, Callers };

// True and "N rows of KIND imported." (or "1 row") in message; false and the reasons
// ("line N: ...", one a line) when anything is wrong, and nothing is stored.
// importer: who imports, held to the rule of who may change which user.
bool importCsv(storage::Connection& db, std::string_view kind, std::string_view text, PasswordCost cost,
               std::string& message, ImportTransaction transaction = ImportTransaction::Own,
               const UserAccount& importer = commandLine());

// The kinds' names, for a list to choose from.
std::vector<std::string> importKindNames();

// One value of a kind's column checked as a file's would be, for a form: the
// value to store, or the reason, naming the value by label ("The description
// is empty."). Kinds are those above and "buy-lists".
std::variant<storage::Value, std::string> checkedValue(std::string_view kind, std::string_view column,
                                                       const std::string& label, const std::string& text);

// A purchaser's buy list for a buying session, as the back office takes it
// (kind "buy-lists"): per line the ISBN of a book, the quantity bought
// (a number, or "no limit"), the price, and optionally status and condition.
inline constexpr std::int64_t kNoLimit = -1;  // the quantity of "no limit"
struct BuyListLine {
  int line = 0;
  std::string isbn;
  std::int64_t qty = 0;  // or kNoLimit
  std::int64_t priceCents = 0;
  std::optional<std::string> status;  // nullopt: the header has no such column
  std::optional<std::string> condition;
};
// The file's lines, checked as an import checks its rows; nullopt and the
// reasons in problems (as importCsv gives them) when any line is wrong.
std::optional<std::vector<BuyListLine>> readBuyList(storage::Connection& db, std::string_view text,
                                                    std::string& problems);

}  // namespace storeserver
