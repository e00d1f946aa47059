// sl_stolen_items {sku, student_id, store}: the stolen-book reports filed at a
// store against a SKU, newest first. The student ID is the ticket's; every
// report of the book is listed, whoever filed it.
#include "server/queries/book_checks.h"
#include "server/queries/query.h"
#include "wire/framing.h"
#include "wire/json_reader.h"
#include "wire/requests.h"
#include "wire/text.h"

namespace storeserver::queries {

using storage::integerAt;
using storage::textAt;

wire::Reply stolenItems(QueryContext& context, const nlohmann::json& arguments) {
  wire::JsonReader in(arguments, "sl_stolen_items request");
  const auto sku = in.integer("sku", 1, wire::requests::kMaxSku);
  const auto studentId = in.text("student_id", wire::requests::kMaxStudentIdLength);
  const auto store = in.integer("store", 1, wire::requests::kMaxStoreNumber);
  if (!in.ok()) return unreadableReply(context, in.error());
  if (auto problem = wire::hiddenCharacterProblem("The student ID", *studentId)) return errorReply(*problem);
  if (auto problem = storeProblem(context.db, *store)) return errorReply(*problem);

  const storage::Rows rows = context.db.query(
      "SELECT r.student_id, COALESCE(s.name, ''), r.stolen, r.comment_text, b.sku, b.book_key, b.title, b.isbn13,"
      " b.edition, b.copyright, b.binding"
      " FROM stolen_book_reports r JOIN books b ON b.sku = r.sku"
      " LEFT JOIN students s ON s.student_id = r.student_id"
      " WHERE r.store_num = ? AND r.sku = ? ORDER BY r.reported_on DESC, r.report_id",
      {*store, *sku});
  if (rows.empty()) return errorReply("No stolen-book reports are filed for this book at this store.");

  std::string records;
  for (const storage::Row& r : rows) {
    wire::RecordWriter record(wire::layouts::slStolenItem());
    record.text(textAt(r, 0))
        .text(textAt(r, 1))
        .text(textAt(r, 2))
        .text(textAt(r, 3))
        .integer(integerAt(r, 4))
        .text(textAt(r, 5))
        .text(textAt(r, 6))
        .text(textAt(r, 7))
        .text(textAt(r, 8))
        .text(textAt(r, 9))
        .text(textAt(r, 10));
    const auto text = record.finish();
    if (!text) return unsendableReply(context, "A stolen-book report", record.error());
    records += *text;
  }
  return recordsReply(std::move(records));
}

}  // namespace storeserver::queries
