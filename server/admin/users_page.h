#pragma once
#include "server/admin/page.h"

namespace storeserver::admin {

// The store's users, a page at a time, with their rights; never a password or its hash.
View showUsers(PageContext& page);
// Adds a user, disables or enables one, sets a new password, or sets roles and store.
std::string changeUser(PageContext& page, Audit& audit);

}  // namespace storeserver::admin
