#pragma once
#include "server/auth.h"
#include "server/storage/storage.h"

namespace storeserver {

// Seeds the demo store when the database holds no store yet; returns whether it
// did. The data is the same on every run; only the password hashes' salts differ.
bool seedDemoData(storage::Connection& db, PasswordCost cost);

}  // namespace storeserver
