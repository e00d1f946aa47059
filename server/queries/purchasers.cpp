// sl_purchasers {session, item_id, store}: who buys a book in a buying
// session, on what terms. The need is what is still wanted: "*" when the
// purchaser buys without limit, otherwise the buy quantity less what was
// bought, never below 0.
#include "server/queries/book_checks.h"
#include "server/queries/query.h"
#include "server/queries/sellin_records.h"
#include "wire/framing.h"
#include "wire/json_reader.h"
#include "wire/requests.h"
#include "wire/text.h"

namespace storeserver::queries {

wire::Reply purchasers(QueryContext& context, const nlohmann::json& arguments) {
  wire::JsonReader in(arguments, "sl_purchasers request");
  const auto session = in.integer("session", 1, wire::requests::kMaxSessionId);
  const auto itemId = in.text("item_id", wire::requests::kMaxItemIdLength);
  const auto store = in.integer("store", 1, wire::requests::kMaxStoreNumber);
  if (!in.ok()) return unreadableReply(context, in.error());
  if (itemId->empty() || wire::hasControls(*itemId))
    return errorReply("Choose the book again: its item key is not valid.");
  if (auto problem = openSessionProblem(context.db, *session, *store)) return errorReply(*problem);
  if (context.db.query("SELECT item_id FROM books WHERE item_id = ?", {*itemId}).empty())
    return errorReply("This book is no longer in the store's catalogue: scan it again.");

  const storage::Rows rows = context.db.query(std::string("SELECT ") + kPurchaserRecordColumns +
                                                  " FROM book_purchasers WHERE session_id = ? AND item_id = ?"
                                                  " ORDER BY ost_purchaser DESC, purchaser",
                                              {*session, *itemId});
  if (rows.empty()) return errorReply("Nobody buys this book in this buying session.");

  std::string records;
  for (const storage::Row& r : rows) {
    std::string error;
    const auto text = purchaserRecord(r, 0, error);
    if (!text) return unsendableReply(context, "A purchaser of this book", error);
    records += *text;
  }
  return recordsReply(std::move(records));
}

}  // namespace storeserver::queries
