// aid_accounts {student_id}: a student's aid charge accounts. Student IDs
// match exactly, letter case included.
#include "server/queries/query.h"
#include "wire/framing.h"
#include "wire/json_reader.h"
#include "wire/requests.h"
#include "wire/text.h"

namespace storeserver::queries {

using storage::integerAt;
using storage::textAt;

wire::Reply aidAccounts(QueryContext& context, const nlohmann::json& arguments) {
  wire::JsonReader in(arguments, "aid_accounts request");
  const auto id = in.text("student_id", wire::kMaxQueryTextLength);
  if (!in.ok()) return unreadableReply(context, in.error());
  if (wire::isBlank(*id)) return errorReply("Enter a student ID.");
  if (wire::toUtf16(*id).size() > wire::requests::kMaxStudentIdLength)
    return errorReply(tooLongSentence("student ID", wire::requests::kMaxStudentIdLength));
  if (auto problem = wire::hiddenCharacterProblem("The student ID", *id)) return errorReply(*problem);

  if (context.db.query("SELECT student_id FROM students WHERE student_id = ?", {*id}).empty())
    return errorReply("No student with ID " + *id + ".");

  const storage::Rows rows = context.db.query(
      "SELECT g.name, g.agency_number, a.start_date, a.expire_date, a.total_balance_cents, a.credit_limit_cents"
      " FROM aid_accounts a JOIN aid_agencies g ON g.agency_id = a.agency_id"
      " WHERE a.student_id = ? ORDER BY a.start_date, a.account_id",
      {*id});
  if (rows.empty()) return errorReply("Student " + *id + " has no aid accounts.");

  std::string records;
  for (const storage::Row& r : rows) {
    const std::int64_t balance = integerAt(r, 4);
    const std::int64_t limit = integerAt(r, 5);
    wire::RecordWriter record(wire::layouts::aidAccount());
    record.text(*id)
        .text(textAt(r, 0))
        .text(textAt(r, 1))
        .text(textAt(r, 2))
        .text(textAt(r, 3))
        .money(balance)
        .money(limit)
        .money(limit - balance);
    const auto text = record.finish();
    if (!text)
      return unsendableReply(context, "An aid account of student " + *id + " (agency " + textAt(r, 1) + ")",
                             record.error());
    records += *text;
  }
  return recordsReply(std::move(records));
}

}  // namespace storeserver::queries
