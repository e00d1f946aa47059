#pragma once
#include <chrono>
#include <memory>
#include <string>

#include "server/storage/storage.h"

namespace storeserver::storage {

// How long a statement waits for a lock another connection holds before it
// fails with Busy.
inline constexpr std::chrono::milliseconds kSqliteBusyTimeout{5000};

// Opens (creating when missing) an SQLite database file read-write, in WAL mode,
// with a busy timeout and foreign keys on. Returns nullptr and a sentence in
// error when the file cannot be opened, created or written.
std::unique_ptr<Connection> openSqlite(const std::string& path, std::string& error,
                                       std::chrono::milliseconds busyTimeout = kSqliteBusyTimeout);

}  // namespace storeserver::storage
