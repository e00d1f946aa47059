// adoptra_print {code, store, student}: the course books of a student (student
// true) or of an item at a store, as text for a 42-column receipt printer:
// lines end with CR LF and none is wider than 42 characters.
#include "server/log.h"
#include "server/queries/adoptions.h"
#include "server/queries/printout.h"
#include "wire/json_reader.h"
#include "wire/money.h"
#include "wire/requests.h"

namespace storeserver::queries {

namespace {

using adoptions::Book;
using adoptions::Problem;
using adoptions::Section;

constexpr std::size_t kIndent = 2;

const char* requestTypeName(int type) {
  switch (type) {
    case 1: return "Required";
    case 2: return "Recommended";
    case 3: return "Optional";
    default: return "";
  }
}

std::string dollars(std::int64_t cents) { return "$" + wire::formatCents(cents); }

void addSection(Printout& out, storage::Connection& db, const Section& s) {
  out.add(s.term + (s.termOpen ? "" : " (closed term)"));
  out.add(s.department + " " + s.course + " section " + s.section);
  out.add("Campus: " + s.campus);
  for (const Book& b : adoptions::books(db, s)) {
    out.add(std::string(requestTypeName(b.requestType)) + "  SKU " + std::to_string(b.sku), kIndent);
    out.add(b.title, kIndent);
    out.add("ISBN " + b.isbn, kIndent);
    out.add("New " + dollars(b.newPriceCents) + " (" + std::to_string(b.newOnHand) + " on hand)", kIndent);
    out.add("Used " + dollars(b.usedPriceCents) + " (" + std::to_string(b.usedOnHand) + " on hand)", kIndent);
    if (b.problem) out.add("See the problem reports", kIndent);
  }
  out.rule('-');
}

void addProblems(Printout& out, const std::vector<Problem>& problems) {
  if (problems.empty()) return;
  out.add("Problem reports");
  for (const Problem& p : problems) {
    out.add(p.term + "  SKU " + std::to_string(p.sku));
    out.add(p.reason, kIndent);
    if (!p.comment.empty()) out.add(p.comment, kIndent);
  }
  out.rule('-');
}

}  // namespace

wire::Reply adoptionPrint(QueryContext& context, const nlohmann::json& arguments) {
  wire::JsonReader in(arguments, "adoptra_print request");
  const auto code = in.text("code", wire::kMaxQueryTextLength);
  const auto store = in.integer("store", 1, wire::requests::kMaxStoreNumber);
  const auto student = in.flag("student");
  if (!in.ok()) return unreadableReply(context, in.error());
  if (auto refusal = adoptions::storeOutOfReach(context.user, *store, false)) return errorReply(*refusal);
  const storage::Rows stores = context.db.query("SELECT name FROM stores WHERE store_num = ?", {*store});
  if (stores.empty()) return errorReply("There is no store " + std::to_string(*store) + ".");

  std::string error;
  const auto subject = *student ? adoptions::Subject::forStudent(context.db, *code, error)
                                : adoptions::Subject::forItem(context.db, *code, error);
  if (!subject) return errorReply(error);
  const auto sections = subject->sections(context.db, *store, error);
  if (!sections) return errorReply(error);

  Printout out;
  out.add(storage::textAt(stores[0], 0));
  out.add("Course books for " + subject->describe());
  out.rule('=');
  for (const Section& s : *sections) addSection(out, context.db, s);
  addProblems(out, subject->problems(context.db, *store));
  return recordsReply(out.take());
}

}  // namespace storeserver::queries
