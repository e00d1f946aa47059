#pragma once
#include <memory>
#include <string>

#include "server/storage/storage.h"

namespace storeserver::storage {

// True for a libpq connection URI (postgresql://... or postgres://...).
bool isPostgresUri(const std::string& database);

// Connects to a PostgreSQL database by its URI. Returns nullptr and a sentence
// in error when it cannot be reached or logged in to.
std::unique_ptr<Connection> openPostgres(const std::string& uri, std::string& error);

// The URI with its password, wherever it is written, shown as ***.
std::string describePostgres(const std::string& uri);

// The statement with each '?' outside quotes replaced by $1, $2, ... in order.
std::string numberedPlaceholders(std::string_view sql);

}  // namespace storeserver::storage
