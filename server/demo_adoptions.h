#pragma once
#include "server/storage/storage.h"

namespace storeserver {

// Adds the demo store's course adoptions; runs inside the demo seeding's
// transaction, after the stores and students exist.
void seedDemoAdoptions(storage::Connection& db);

// Next term's adoptions at store 1 alone, for a demo store made before there was one.
void seedDemoNextTerm(storage::Connection& db);

}  // namespace storeserver
