// product {code, store} and inventory {code, store}: the item lookup of a SKU.
// "501 ..." opens the inventory error when, and only when, the store keeps no
// inventory record of the SKU; the program then shows nothing. So no other
// sentence of these two queries may hold "501": none echoes a number.
#include <optional>

#include "server/queries/book_checks.h"
#include "server/queries/query.h"
#include "wire/framing.h"
#include "wire/json_reader.h"
#include "wire/requests.h"

namespace storeserver::queries {

using storage::integerAt;
using storage::textAt;

namespace {

struct LookupArguments {
  std::int64_t sku = 0;
  std::int64_t store = 0;
};

// The SKU the code names (digits, blanks around them allowed), or the refusal.
std::optional<LookupArguments> readLookup(QueryContext& context, const nlohmann::json& arguments, std::string_view what,
                                          wire::Reply& refusal) {
  wire::JsonReader in(arguments, what);
  const auto code = in.text("code", wire::kMaxQueryTextLength);
  const auto store = in.integer("store", 1, wire::requests::kMaxStoreNumber);
  if (!in.ok()) {
    refusal = unreadableReply(context, in.error());
    return std::nullopt;
  }
  const auto first = code->find_first_not_of(' ');
  const std::string digits =
      first == std::string::npos ? "" : code->substr(first, code->find_last_not_of(' ') - first + 1);
  const bool valid = !digits.empty() && digits.size() <= 8 &&
                     digits.find_first_not_of("0123456789") == std::string::npos && std::stoll(digits) > 0;
  if (!valid) {
    refusal = errorReply("The lookup needs the book's SKU number.");
    return std::nullopt;
  }
  return LookupArguments{std::stoll(digits), *store};
}

template <class Build>
wire::Reply oneRecord(QueryContext& context, const storage::Row& row, const wire::RecordLayout& layout, Build build) {
  wire::RecordWriter record(layout);
  build(record, row);
  auto text = record.finish();
  if (!text) return unsendableReply(context, "The record of this book", record.error());
  return recordsReply(std::move(*text));
}

}  // namespace

wire::Reply product(QueryContext& context, const nlohmann::json& arguments) {
  wire::Reply refusal;
  const auto lookup = readLookup(context, arguments, "product request", refusal);
  if (!lookup) return refusal;
  if (auto storeProblemText = storeProblem(context.db, lookup->store)) return errorReply(*storeProblemText);

  const storage::Rows rows =
      context.db.query("SELECT b.sku, b.isbn13, b.title, b.author, b.imprint, b.edition, b.binding, p.new_price_cents,"
                       " p.used_price_cents FROM book_products p JOIN books b ON b.sku = p.sku WHERE p.sku = ?",
                       {lookup->sku});
  if (rows.empty()) return errorReply("There is no product record for this book.");
  return oneRecord(context, rows[0], wire::layouts::product(), [](wire::RecordWriter& w, const storage::Row& r) {
    w.integer(integerAt(r, 0)).text(textAt(r, 1)).text(textAt(r, 2)).text(textAt(r, 3)).text(textAt(r, 4));
    w.text(textAt(r, 5)).text(textAt(r, 6)).money(integerAt(r, 7)).money(integerAt(r, 8));
  });
}

wire::Reply inventory(QueryContext& context, const nlohmann::json& arguments) {
  wire::Reply refusal;
  const auto lookup = readLookup(context, arguments, "inventory request", refusal);
  if (!lookup) return refusal;
  if (auto storeProblemText = storeProblem(context.db, lookup->store)) return errorReply(*storeProblemText);

  const storage::Rows rows =
      context.db.query("SELECT store_num, sku, new_on_hand, used_on_hand, on_order, location, last_received"
                       " FROM book_inventory WHERE store_num = ? AND sku = ?",
                       {lookup->store, lookup->sku});
  if (rows.empty()) return errorReply("501 The store keeps no inventory record of this book.");
  return oneRecord(context, rows[0], wire::layouts::inventory(), [](wire::RecordWriter& w, const storage::Row& r) {
    w.integer(integerAt(r, 0)).integer(integerAt(r, 1)).integer(integerAt(r, 2)).integer(integerAt(r, 3));
    w.integer(integerAt(r, 4)).text(textAt(r, 5)).text(textAt(r, 6));
  });
}

}  // namespace storeserver::queries
