// sl_ticket {user, student_id, store}: the open ticket of the logged-in user
// for a student at a store, written for the buyer whose rights this log-in
// proved there; user must name that buyer. An empty open ticket of the same
// user, buyer, store and student is handed out again, so a retried open, or one
// for a student whose ticket was left empty, does not pile up receipts.
#include <algorithm>

#include "server/log.h"
#include "server/queries/book_checks.h"
#include "server/queries/item_codes.h"
#include "server/queries/query.h"
#include "server/queries/tickets.h"
#include "wire/framing.h"
#include "wire/json_reader.h"
#include "wire/requests.h"
#include "wire/text.h"

namespace storeserver::queries {

using storage::integerAt;
using storage::textAt;

namespace {

std::optional<storage::Row> emptyOpenTicket(QueryContext& context, std::int64_t store, const std::string& buyer,
                                            const std::string& studentId) {
  const storage::Rows rows = context.db.query(
      "SELECT receipt, opened_on FROM tickets t WHERE user_id = ? AND store_num = ? AND buyer = ? AND student_id = ?"
      " AND is_open = 1 AND NOT EXISTS (SELECT 1 FROM ticket_lines l WHERE l.ticket_id = t.ticket_id)"
      " ORDER BY ticket_id DESC LIMIT 1",
      {context.user.id, store, buyer, studentId});
  if (rows.empty()) return std::nullopt;
  return rows[0];
}

storage::Row openNewTicket(QueryContext& context, std::int64_t store, const std::string& buyer,
                           const std::string& studentId) {
  const std::int64_t next = integerAt(context.db.query("SELECT COALESCE(MAX(ticket_id), 0) + 1 FROM tickets")[0], 0);
  const std::string receipt = tickets::receiptOf(next);
  const std::string opened = tickets::dayOf(context.nowMs);
  context.db.execute(
      "INSERT INTO tickets (ticket_id, receipt, store_num, user_id, buyer, student_id, opened_on, is_open)"
      " VALUES (?, ?, ?, ?, ?, ?, ?, 1)",
      {next, receipt, store, context.user.id, buyer, studentId, opened});
  tickets::audit(context, receipt, 0, "open", "", "student=" + studentId + " buyer=" + buyer);
  return {receipt, opened};
}

// A book's ISBN-13 (978, 979) scanned at the student-ID prompt is plainly no
// student's, unless the store's students hold one such ID.
std::optional<std::string> bookCodeAsStudentProblem(storage::Connection& db, const std::string& studentId) {
  const ItemCode code = readItemCode(studentId);
  const auto codeLength =
      std::count_if(studentId.begin(), studentId.end(), [](char c) { return c != ' ' && c != '-'; });
  if (code.kind != ItemCode::Kind::Isbn || codeLength < 13 || !isIsbn(code.isbn13)) return std::nullopt;
  if (!db.query("SELECT 1 FROM students WHERE student_id = ?", {studentId}).empty()) return std::nullopt;
  return studentId + " is a book's ISBN, not a student ID: scan the barcode of the student's ID card, or type the "
                     "student's ID.";
}

}  // namespace

wire::Reply ticket(QueryContext& context, const nlohmann::json& arguments) {
  wire::JsonReader in(arguments, "sl_ticket request");
  const auto buyer = in.text("user", wire::kMaxUserLength);
  const auto studentId = in.text("student_id", wire::requests::kMaxStudentIdLength);
  const auto store = in.integer("store", 1, wire::requests::kMaxStoreNumber);
  if (!in.ok()) return unreadableReply(context, in.error());
  if (buyer->empty()) return errorReply("No buyer user name is set on this handheld.");
  if (wire::hasHiddenCharacters(*buyer)) return unreadableReply(context, "hidden characters in the buyer's name");
  // Blanks are what a prompt left empty gives; a session without student IDs sends none.
  if (!studentId->empty() && wire::isBlank(*studentId)) return errorReply("Please Enter a Student ID");
  if (auto problem = wire::hiddenCharacterProblem("The student ID", *studentId))
    return errorReply(*problem + " Scan or type it again.");
  if (auto problem = bookCodeAsStudentProblem(context.db, *studentId)) return errorReply(*problem);
  if (auto problem = storeProblem(context.db, *store)) return errorReply(*problem);
  std::string problem;
  const std::optional<User> proven = tickets::buyerAt(context, *store, problem);
  if (!proven) return errorReply(problem);
  if (*buyer != proven->name)
    return errorReply("This handheld names the buyer " + printable(*buyer) +
                      ", but the buying session was chosen for " + proven->name + ": choose the buying session again.");

  std::optional<storage::Row> open = emptyOpenTicket(context, *store, proven->name, *studentId);
  if (!open) open = openNewTicket(context, *store, proven->name, *studentId);

  wire::RecordWriter record(wire::layouts::receipt());
  record.text(textAt(*open, 0)).integer(*store).text(*studentId).text(textAt(*open, 1));
  const auto text = record.finish();
  if (!text) return unsendableReply(context, "This ticket", record.error());
  return recordsReply(*text);
}

}  // namespace storeserver::queries
