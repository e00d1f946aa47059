#pragma once
// Moving a whole store between databases: from one server's SQLite file to
// the PostgreSQL database of a chain, or back.
#include <cstdint>
#include <string>
#include <vector>

#include "server/storage/storage.h"

namespace storeserver {

// The tables of a store, each after the tables it refers to.
const std::vector<std::string>& storeTables();

// What one table holds: its rows, and a digest of them that does not depend
// on their order or on the database they were read from.
struct TableContents {
  std::string table;
  std::int64_t rows = 0;
  std::string digest;
};

// Reads every table of the store as TableContents, inside one transaction.
std::vector<TableContents> readContents(storage::Connection& db);

// Copies every table of the store in `from` into `to` (brought to the current
// schema first), which must hold no store yet, in one transaction committed
// only when every table's row count and digest, read back, are those of the
// source. False and a sentence in error otherwise, with no row of `to` written.
bool copyStore(storage::Connection& from, storage::Connection& to, std::vector<TableContents>& copied,
               std::string& error);

}  // namespace storeserver
