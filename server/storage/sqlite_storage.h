#pragma once
#include <memory>
#include <string>

#include "server/storage/storage.h"

namespace storeserver::storage {

// Opens (creating when missing) an SQLite database file read-write, in WAL mode,
// with a busy timeout and foreign keys on. Returns nullptr and a sentence in
// error when the file cannot be opened, created or written.
std::unique_ptr<Connection> openSqlite(const std::string& path, std::string& error);

}  // namespace storeserver::storage
