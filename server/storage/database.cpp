#include "server/storage/database.h"

#include "server/storage/postgres_storage.h"
#include "server/storage/sqlite_storage.h"

namespace storeserver::storage {

std::unique_ptr<Connection> openDatabase(const std::string& database, std::string& error) {
  return isPostgresUri(database) ? openPostgres(database, error) : openSqlite(database, error);
}

std::string describeDatabase(const std::string& database) {
  return isPostgresUri(database) ? describePostgres(database) : database;
}

}  // namespace storeserver::storage
