#pragma once
#include "server/storage/storage.h"

namespace storeserver {

// Adds the demo store's course adoptions; runs inside the demo seeding's
// transaction, after the stores and students exist.
void seedDemoAdoptions(storage::Connection& db);

}  // namespace storeserver
