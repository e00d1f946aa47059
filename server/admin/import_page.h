#pragma once
#include "server/admin/page.h"

namespace storeserver::admin {

// A CSV file of any kind the command line imports, chosen and uploaded.
View showImport(PageContext& page);
// The whole file or nothing of it, with its line-numbered reasons when refused.
std::string importFile(PageContext& page, Audit& audit);

}  // namespace storeserver::admin
