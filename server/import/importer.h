#pragma once
// Loads a store's own data from CSV files its other systems export. Each file
// is one kind of row; the header names the kind's columns in any order. The
// whole file is checked before anything is written, then written in one
// transaction; rows are keyed, so importing a file again leaves the same data.
#include <string>
#include <string_view>
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

}  // namespace storeserver
