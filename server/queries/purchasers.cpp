// sl_purchasers {session, item_id, store}: who buys a book in a buying
// session, on what terms. The need is what is still wanted: "*" when the
// purchaser buys without limit, otherwise the buy quantity less what was
// bought, never below 0.
#include "server/queries/book_checks.h"
#include "server/queries/query.h"
#include "wire/framing.h"
#include "wire/json_reader.h"
#include "wire/requests.h"
#include "wire/text.h"

namespace storeserver::queries {

using storage::integerAt;
using storage::textAt;

namespace {

constexpr const char* kNoLimit = "*";

std::string needText(bool noLimit, std::int64_t buy, std::int64_t bought) {
  if (noLimit) return kNoLimit;
  return std::to_string(std::max<std::int64_t>(0, buy - bought));
}

}  // namespace

wire::Reply purchasers(QueryContext& context, const nlohmann::json& arguments) {
  wire::JsonReader in(arguments, "sl_purchasers request");
  const auto session = in.integer("session", 1, wire::requests::kMaxSessionId);
  const auto itemId = in.text("item_id", wire::requests::kMaxItemIdLength);
  const auto store = in.integer("store", 1, wire::requests::kMaxStoreNumber);
  if (!in.ok()) return unreadableReply(context, in.error());
  if (itemId->empty() || wire::hasControls(*itemId)) return errorReply("Choose the book again: its item key is not valid.");
  if (auto problem = openSessionProblem(context.db, *session, *store)) return errorReply(*problem);
  if (context.db.query("SELECT item_id FROM books WHERE item_id = ?", {*itemId}).empty())
    return errorReply("This book is no longer in the store's catalogue: scan it again.");

  const storage::Rows rows = context.db.query(
      "SELECT purchaser, ost_purchaser, no_limit, buy_qty, bought_qty, buy_price_cents, alt_price_cents,"
      " retail_price_cents, listed_price_cents, status, condition_text, condition_check"
      " FROM book_purchasers WHERE session_id = ? AND item_id = ? ORDER BY ost_purchaser DESC, purchaser",
      {*session, *itemId});
  if (rows.empty()) return errorReply("Nobody buys this book in this buying session.");

  std::string records;
  for (const storage::Row& r : rows) {
    const bool noLimit = integerAt(r, 2) != 0;
    wire::RecordWriter record(wire::layouts::slPurchase());
    record.text(textAt(r, 0))
        .integer(integerAt(r, 1) != 0 ? 1 : 0)
        .text(noLimit ? kNoLimit : std::to_string(integerAt(r, 3)))
        .integer(integerAt(r, 4))
        .text(needText(noLimit, integerAt(r, 3), integerAt(r, 4)))
        .money(integerAt(r, 5))
        .money(integerAt(r, 6))
        .money(integerAt(r, 7))
        .money(integerAt(r, 8))
        .text(textAt(r, 9))
        .text(textAt(r, 10))
        .integer(integerAt(r, 11) != 0 ? 1 : 0);
    const auto text = record.finish();
    if (!text) return unsendableReply(context, "A purchaser of this book", record.error());
    records += *text;
  }
  return recordsReply(std::move(records));
}

}  // namespace storeserver::queries
