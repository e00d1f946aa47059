#pragma once
#include "server/auth.h"
#include "server/storage/storage.h"

namespace storeserver {

// Seeds the demo store when the database holds no store yet, and into a demo
// database made by an earlier version the parts it lacks; returns whether it
// seeded the store. The data is the same on every run; only the password hashes' salts differ.
bool seedDemoData(storage::Connection& db, PasswordCost cost);

}  // namespace storeserver
