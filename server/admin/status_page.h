#pragma once
#include "server/admin/page.h"

namespace storeserver::admin {

// The server as it runs: version, database, connections, exchanges, last problems.
View showStatus(PageContext& page);

}  // namespace storeserver::admin
