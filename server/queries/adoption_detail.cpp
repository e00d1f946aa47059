// adoptra_detail {term, department, course, section, store}: the books adopted
// for one course section, with that store's prices and copies on hand. The
// texts are matched exactly as the section record carried them.
#include "server/log.h"
#include "server/queries/adoptions.h"
#include "wire/framing.h"
#include "wire/json_reader.h"
#include "wire/requests.h"

namespace storeserver::queries {

namespace {

using adoptions::Book;
using adoptions::Section;

std::size_t widthOf(std::string_view field) {
  const wire::RecordLayout& layout = wire::layouts::adoption();
  return layout.fields()[layout.indexOf(field)].width;
}

std::optional<std::string> bookRecord(const Book& b, std::int64_t store, Unsendable& why) {
  wire::RecordWriter record(wire::layouts::adoptionDetail());
  record.integer(b.sku)
      .text(b.isbn)
      .text(b.title)
      .money(b.newPriceCents)
      .money(b.usedPriceCents)
      .integer(b.newOnHand)
      .integer(b.usedOnHand)
      .integer(b.requestType)
      .integer(b.problem ? 1 : 0)
      .integer(store)
      .text(b.title);
  auto text = record.finish();
  if (!text) why = {"The book with SKU " + std::to_string(b.sku), record.error()};
  return text;
}

}  // namespace

wire::Reply adoptionDetail(QueryContext& context, const nlohmann::json& arguments) {
  wire::JsonReader in(arguments, "adoptra_detail request");
  const auto term = in.text("term", widthOf("term"));
  const auto department = in.text("department", widthOf("department"));
  const auto course = in.text("course", widthOf("course"));
  const auto sectionName = in.text("section", widthOf("section"));
  const auto store = in.integer("store", 1, wire::requests::kMaxStoreNumber);
  if (!in.ok()) return unreadableReply(context, in.error());
  if (auto refusal = adoptions::storeOutOfReach(context.user, *store, false)) return errorReply(*refusal);
  if (auto refusal = adoptions::unknownStore(context.db, *store)) return errorReply(*refusal);

  const storage::Rows rows =
      context.db.query("SELECT section_id FROM adoption_sections"
                       " WHERE store_num = ? AND term = ? AND department = ? AND course = ? AND section = ?",
                       {*store, *term, *department, *course, *sectionName});
  const std::string named = printable(*department) + " " + printable(*course) + " section " + printable(*sectionName) +
                            " of " + printable(*term);
  if (rows.empty()) return errorReply("Store " + std::to_string(*store) + " has no course " + named + ".");
  Section section;
  section.id = storage::integerAt(rows[0], 0);
  section.store = *store;
  section.term = *term;

  const std::vector<Book> found = adoptions::books(context.db, section);
  if (found.empty()) return errorReply("No books are adopted for " + named + ".");
  std::string records;
  Unsendable why;
  for (const Book& b : found) {
    const auto text = bookRecord(b, *store, why);
    if (!text) return unsendableReply(context, why.what, why.detail);
    records += *text;
  }
  return recordsReply(std::move(records));
}

}  // namespace storeserver::queries
