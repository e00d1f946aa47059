#pragma once
#include "server/storage/storage.h"

namespace storeserver::storage {

// The schema version this server writes and reads.
int currentSchemaVersion();

// Brings the database to the current schema in one write transaction. Throws
// Error when a step fails or the database is newer than this server.
void migrate(Connection& db);

}  // namespace storeserver::storage
