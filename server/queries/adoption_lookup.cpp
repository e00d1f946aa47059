// adoptra_student {student_id, store, restrict} and adoptra_item {code, store,
// restrict}: the course sections at a store that adopted books, then the
// problem reports on those books. restrict: a handheld may ask only its
// user's own store (a user the back office restricts may anyway).
#include "server/queries/adoptions.h"
#include "wire/framing.h"
#include "wire/json_reader.h"
#include "wire/requests.h"

namespace storeserver::queries {

namespace {

using adoptions::Problem;
using adoptions::Section;
using adoptions::Subject;

std::optional<std::string> sectionRecord(const Section& s, Unsendable& why) {
  wire::RecordWriter record(wire::layouts::adoption());
  record.integer(s.store)
      .text(s.campus)
      .text(s.term)
      .text(s.department)
      .text(s.course)
      .text(s.section)
      .integer(s.termOpen ? 1 : 0);
  auto text = record.finish();
  if (!text) why = {"The course section " + s.department + " " + s.course + " " + s.section, record.error()};
  return text;
}

std::optional<std::string> problemRecord(const Problem& p, Unsendable& why) {
  wire::RecordWriter record(wire::layouts::adoptionProblem());
  record.text(p.term).integer(p.sku).text(p.reason).text(p.comment);
  auto text = record.finish();
  if (!text) why = {"A problem report on SKU " + std::to_string(p.sku), record.error()};
  return text;
}

// The sections' records, then the problem records; their first tag "PRB"
// right after the last section's carriage return is what the handheld splits at.
wire::Reply lookUp(QueryContext& context, wire::JsonReader& in, bool byStudent) {
  const auto code = in.text(byStudent ? "student_id" : "code", wire::kMaxQueryTextLength);
  const auto store = in.integer("store", 1, wire::requests::kMaxStoreNumber);
  const auto restrict = in.flag("restrict");
  if (!in.ok()) return unreadableReply(context, in.error());
  if (auto refusal = adoptions::storeOutOfReach(context.user, *store, * restrict)) return errorReply(*refusal);
  if (auto refusal = adoptions::unknownStore(context.db, *store)) return errorReply(*refusal);

  std::string error;
  const auto subject =
      byStudent ? Subject::forStudent(context.db, *code, error) : Subject::forItem(context.db, *code, error);
  if (!subject) return errorReply(error);
  const auto sections = subject->sections(context.db, *store, error);
  if (!sections) return errorReply(error);

  std::string records;
  Unsendable why;
  for (const Section& s : *sections) {
    const auto text = sectionRecord(s, why);
    if (!text) return unsendableReply(context, why.what, why.detail);
    records += *text;
  }
  for (const Problem& p : subject->problems(context.db, *store)) {
    const auto text = problemRecord(p, why);
    if (!text) return unsendableReply(context, why.what, why.detail);
    records += *text;
  }
  return recordsReply(std::move(records));
}

}  // namespace

wire::Reply adoptionsByStudent(QueryContext& context, const nlohmann::json& arguments) {
  wire::JsonReader in(arguments, "adoptra_student request");
  return lookUp(context, in, true);
}

wire::Reply adoptionsByItem(QueryContext& context, const nlohmann::json& arguments) {
  wire::JsonReader in(arguments, "adoptra_item request");
  return lookUp(context, in, false);
}

}  // namespace storeserver::queries
