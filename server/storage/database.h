#pragma once
#include <memory>
#include <string>

#include "server/storage/storage.h"

namespace storeserver::storage {

// Opens the database the --database option names: a PostgreSQL URI, else an
// SQLite file. Returns nullptr and a sentence in error when it cannot.
std::unique_ptr<Connection> openDatabase(const std::string& database, std::string& error);

// The database named for a message: a file path, or a PostgreSQL database
// and its server without the password the URI may hold.
std::string describeDatabase(const std::string& database);

}  // namespace storeserver::storage
