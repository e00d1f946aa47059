#include "server/queries/sellin_records.h"

#include <algorithm>

#include "wire/framing.h"
#include "wire/layouts.h"

namespace storeserver::queries {

using storage::integerAt;
using storage::textAt;

namespace {

constexpr const char* kNoLimit = "*";

std::optional<std::string> finish(wire::RecordWriter& record, std::string& error) {
  auto text = record.finish();
  if (!text) error = record.error();
  return text;
}

}  // namespace

std::string needText(bool noLimit, std::int64_t buy, std::int64_t bought) {
  if (noLimit) return kNoLimit;
  return std::to_string(std::max<std::int64_t>(0, buy - bought));
}

std::optional<std::string> bookRecord(const storage::Row& r, std::string& error) {
  wire::RecordWriter record(wire::layouts::slDetail());
  record.text(textAt(r, 0))
      .integer(integerAt(r, 1))
      .text(textAt(r, 2))
      .text(textAt(r, 3))
      .text(textAt(r, 4))
      .text(textAt(r, 5))
      .text(textAt(r, 6))
      .text(textAt(r, 7))
      .text(textAt(r, 8))
      .integer(integerAt(r, 9))
      .integer(integerAt(r, 10) != 0 ? 1 : 0);
  return finish(record, error);
}

std::optional<std::string> purchaserRecord(const storage::Row& r, std::int64_t notCounted, std::string& error) {
  const bool noLimit = integerAt(r, 2) != 0;
  const std::int64_t bought = integerAt(r, 4) - notCounted;
  wire::RecordWriter record(wire::layouts::slPurchase());
  record.text(textAt(r, 0))
      .integer(integerAt(r, 1) != 0 ? 1 : 0)
      .text(noLimit ? kNoLimit : std::to_string(integerAt(r, 3)))
      .integer(bought)
      .text(needText(noLimit, integerAt(r, 3), bought))
      .money(integerAt(r, 5))
      .money(integerAt(r, 6))
      .money(integerAt(r, 7))
      .money(integerAt(r, 8))
      .text(textAt(r, 9))
      .text(textAt(r, 10))
      .integer(integerAt(r, 11) != 0 ? 1 : 0);
  return finish(record, error);
}

}  // namespace storeserver::queries
