#include "server/queries/adoptions.h"

#include "server/log.h"
#include "server/queries/item_codes.h"
#include "wire/requests.h"
#include "wire/text.h"

namespace storeserver::queries::adoptions {

using storage::integerAt;
using storage::textAt;

namespace {

constexpr const char* kSectionColumns =
    "SELECT s.section_id, s.store_num, s.campus, s.term, s.department, s.course, s.section, t.is_open";
// As the handheld lists them: by the texts without their leading blanks.
constexpr const char* kSectionOrder =
    " ORDER BY ltrim(s.department), ltrim(s.course), ltrim(s.section), t.starts_on DESC, s.section_id";

Section sectionFrom(const storage::Row& r) {
  return {integerAt(r, 0), integerAt(r, 1), textAt(r, 2), textAt(r, 3),
          textAt(r, 4),    textAt(r, 5),    textAt(r, 6), integerAt(r, 7) != 0};
}

}  // namespace

std::optional<Subject> Subject::forStudent(storage::Connection& db, const std::string& studentId, std::string& error) {
  if (wire::isBlank(studentId)) error = "Type or scan a student ID.";
  else if (wire::toUtf16(studentId).size() > wire::requests::kMaxStudentIdLength)
    error = tooLongSentence("student ID", wire::requests::kMaxStudentIdLength);
  else if (auto problem = wire::hiddenCharacterProblem("The student ID", studentId)) error = *problem;
  else if (db.query("SELECT student_id FROM students WHERE student_id = ?", {studentId}).empty())
    error = "No student has the ID " + printable(studentId) + ".";
  if (!error.empty()) return std::nullopt;
  Subject subject;
  subject.key_ = studentId;
  subject.description_ = "student " + studentId;
  return subject;
}

std::optional<Subject> Subject::forItem(storage::Connection& db, const std::string& code, std::string& error) {
  if (code.empty()) {
    error = "Type or scan a SKU or an ISBN.";
    return std::nullopt;
  }
  if (wire::toUtf16(code).size() > wire::requests::kMaxItemCodeLength) {
    error = tooLongSentence("SKU or ISBN", wire::requests::kMaxItemCodeLength);
    return std::nullopt;
  }
  // Codes read as at the buyback counter; title words are not looked up here.
  const ItemCode item = readItemCode(code);
  if (item.kind == ItemCode::Kind::Invalid) error = item.problem;
  else if (item.kind == ItemCode::Kind::Words)
    error = printable(code) + " is not a SKU or an ISBN. Check the code and try again.";
  if (!error.empty()) return std::nullopt;
  const bool bySku = item.kind == ItemCode::Kind::Sku;
  const storage::Rows rows = bySku ? db.query("SELECT sku, isbn FROM adoption_books WHERE sku = ?", {item.sku})
                                   : db.query("SELECT sku, isbn FROM adoption_books WHERE isbn = ?", {item.isbn13});
  if (rows.empty()) {
    error = "No course book has the " + std::string(bySku ? "SKU " : "ISBN ") + printable(code) + ".";
    return std::nullopt;
  }
  Subject subject;
  subject.byStudent_ = false;
  subject.key_ = integerAt(rows[0], 0);
  subject.description_ = "the book " + textAt(rows[0], 1);
  return subject;
}

std::optional<std::vector<Section>> Subject::sections(storage::Connection& db, std::int64_t store,
                                                      std::string& error) const {
  const std::string sql =
      byStudent_ ? std::string(kSectionColumns) +
                       " FROM adoption_enrollments e"
                       " JOIN adoption_sections s ON s.section_id = e.section_id"
                       " JOIN adoption_terms t ON t.term = s.term"
                       " WHERE e.student_id = ? AND s.store_num = ?"
                       " AND EXISTS (SELECT 1 FROM adoption_section_books b WHERE b.section_id = s.section_id)" +
                       kSectionOrder
                 : std::string(kSectionColumns) +
                       " FROM adoption_section_books b"
                       " JOIN adoption_sections s ON s.section_id = b.section_id"
                       " JOIN adoption_terms t ON t.term = s.term"
                       " WHERE b.sku = ? AND s.store_num = ?" +
                       kSectionOrder;
  std::vector<Section> found;
  for (const storage::Row& r : db.query(sql, {key_, store})) found.push_back(sectionFrom(r));
  if (found.empty()) {
    const std::string at = " at store " + std::to_string(store);
    error = byStudent_ ? "Student " + std::get<std::string>(key_) + " has no course books" + at + "."
                       : "No course section" + at + " has adopted " + description_ + ".";
    return std::nullopt;
  }
  return found;
}

std::vector<Problem> Subject::problems(storage::Connection& db, std::int64_t store) const {
  const std::string sql =
      std::string("SELECT p.term, p.sku, p.reason, p.comment FROM adoption_problems p WHERE p.store_num = ?"
                  " AND EXISTS (SELECT 1 FROM adoption_section_books b"
                  " JOIN adoption_sections s ON s.section_id = b.section_id") +
      (byStudent_ ? " JOIN adoption_enrollments e ON e.section_id = s.section_id WHERE e.student_id = ? AND"
                  : " WHERE b.sku = ? AND") +
      " s.store_num = p.store_num AND s.term = p.term AND b.sku = p.sku)"
      " ORDER BY p.term, p.sku, p.problem_id";
  std::vector<Problem> found;
  for (const storage::Row& r : db.query(sql, {store, key_}))
    found.push_back({textAt(r, 0), integerAt(r, 1), textAt(r, 2), textAt(r, 3)});
  return found;
}

std::vector<Book> books(storage::Connection& db, const Section& section) {
  const storage::Rows rows =
      db.query("SELECT b.sku, b.isbn, b.title, COALESCE(k.new_price_cents, 0), COALESCE(k.used_price_cents, 0),"
               " COALESCE(k.new_on_hand, 0), COALESCE(k.used_on_hand, 0), sb.request_type,"
               " CASE WHEN EXISTS (SELECT 1 FROM adoption_problems p"
               "  WHERE p.store_num = ? AND p.term = ? AND p.sku = b.sku) THEN 1 ELSE 0 END"
               " FROM adoption_section_books sb JOIN adoption_books b ON b.sku = sb.sku"
               " LEFT JOIN adoption_stock k ON k.store_num = ? AND k.sku = b.sku"
               " WHERE sb.section_id = ? ORDER BY sb.request_type, b.sku",
               {section.store, section.term, section.store, section.id});
  std::vector<Book> found;
  for (const storage::Row& r : rows)
    found.push_back({integerAt(r, 0), textAt(r, 1), textAt(r, 2), integerAt(r, 3), integerAt(r, 4), integerAt(r, 5),
                     integerAt(r, 6), int(integerAt(r, 7)), integerAt(r, 8) != 0});
  return found;
}

std::optional<std::string> storeOutOfReach(const User& user, std::int64_t store, bool handheldRestricts) {
  if (store == user.store || !(user.restrictLookup || handheldRestricts)) return std::nullopt;
  const std::string own = "store " + std::to_string(user.store) + ".";
  if (user.restrictLookup) return "The user " + user.name + " may look up only " + own;
  return "This handheld may look up only its own store, " + own;
}

std::optional<std::string> unknownStore(storage::Connection& db, std::int64_t store) {
  if (!db.query("SELECT store_num FROM stores WHERE store_num = ?", {store}).empty()) return std::nullopt;
  return "There is no store " + std::to_string(store) + ".";
}

}  // namespace storeserver::queries::adoptions
