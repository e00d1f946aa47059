#include "server/storage/storage.h"

namespace storeserver::storage {

namespace {
const Value& at(const Row& row, std::size_t column) {
  if (column >= row.size())
    throw Error("the database answered " + std::to_string(row.size()) + " columns where " + std::to_string(column + 1) +
                " were expected");
  return row[column];
}
}  // namespace

std::int64_t integerAt(const Row& row, std::size_t column) {
  const Value& v = at(row, column);
  if (const auto* n = std::get_if<std::int64_t>(&v)) return *n;
  throw Error("column " + std::to_string(column + 1) + " holds no whole number");
}

const std::string& textAt(const Row& row, std::size_t column) {
  const Value& v = at(row, column);
  if (const auto* s = std::get_if<std::string>(&v)) return *s;
  throw Error("column " + std::to_string(column + 1) + " holds no text");
}

void beginTransaction(Connection& db, TxMode mode) {
  const auto giveUp = std::chrono::steady_clock::now() + kBusyPatience;
  for (;;) {
    try {
      return db.begin(mode);
    } catch (const Busy&) {
      if (std::chrono::steady_clock::now() >= giveUp) throw;
    }
  }
}

}  // namespace storeserver::storage
