#include "server/admin/adoption_list.h"

#include <algorithm>

#include "server/admin/office_pages.h"

namespace storeserver::admin {

using storage::integerAt;
using storage::textAt;

namespace {

constexpr std::int64_t kRequired = 1, kRecommended = 2, kOptional = 3;

std::string studentsOf(std::int64_t requestType) {
  return "CAST(SUM(CASE WHEN sb.request_type = " + std::to_string(requestType) +
         " THEN COALESCE(n.students, 0) ELSE 0 END) AS BIGINT)";
}

// Per book, the students of the sections asking for it, each kind apart; the
// sections' students are counted once for the whole term.
std::string adoptedBooksSql() {
  return "SELECT a.sku, ab.isbn, ab.title, a.required, a.recommended, a.optional,"
         " COALESCE(k.new_price_cents, 0), COALESCE(k.used_on_hand, 0),"
         " COALESCE((SELECT MIN(p.reason) FROM adoption_problems p"
         "  WHERE p.store_num = ? AND p.term = ? AND p.sku = a.sku), ''),"
         " CASE WHEN EXISTS (SELECT 1 FROM books c WHERE c.isbn13 = ab.isbn) THEN 1 ELSE 0 END"
         " FROM (SELECT sb.sku, " +
         studentsOf(kRequired) + " AS required, " + studentsOf(kRecommended) + " AS recommended, " +
         studentsOf(kOptional) +
         " AS optional"
         "  FROM adoption_sections s JOIN adoption_section_books sb ON sb.section_id = s.section_id"
         "  LEFT JOIN (SELECT e.section_id, COUNT(*) AS students FROM adoption_enrollments e"
         "   JOIN adoption_sections es ON es.section_id = e.section_id WHERE es.store_num = ? AND es.term = ?"
         "   GROUP BY e.section_id) n ON n.section_id = s.section_id"
         "  WHERE s.store_num = ? AND s.term = ? GROUP BY sb.sku) a"
         " JOIN adoption_books ab ON ab.sku = a.sku"
         " LEFT JOIN adoption_stock k ON k.store_num = ? AND k.sku = a.sku"
         " ORDER BY ab.title, a.sku";
}

std::int64_t percentOf(const Fields& form, const char* field, const std::string& label) {
  // A whole number from 0 to 100, as a session's nearly-met percentage is.
  return std::get<std::int64_t>(formValue("buying-sessions", "within_percent", label, form[field]));
}

AdoptionSettings settingsOf(const Fields& form) {
  return {percentOf(form, "recommended_percent", "The share of recommending sections"),
          percentOf(form, "optional_percent", "The share of optional sections"),
          percentOf(form, "used_percent", "The share buying used"),
          percentOf(form, "price_percent", "The buy price's percentage")};
}

// The quantity and price the manager typed in the preview for a line bought.
void applyEdits(const Fields& form, AdoptionLine& line) {
  const std::string sku = std::to_string(line.book.sku);
  if (!line.apart.empty() || !form.has("quantity_" + sku)) return;
  const std::string of = " of ISBN " + line.book.isbn;
  line.quantity =
      std::get<std::int64_t>(formValue("buy-lists", "quantity", "The quantity" + of, form["quantity_" + sku]));
  line.priceCents = std::get<std::int64_t>(formValue("buy-lists", "price", "The price" + of, form["price_" + sku]));
}

void checkTerm(storage::Connection& db, std::int64_t store, const std::string& term) {
  if (db.query("SELECT 1 FROM adoption_sections WHERE store_num = ? AND term = ? LIMIT 1", {store, term}).empty())
    throw Refusal("Store " + std::to_string(store) + " has no course sections in the term \"" + printable(term, 12) +
                  "\"; choose one of the list.");
}

// The store buys under one name in a session, which the handhelds show as the store's.
void checkStoresOwn(storage::Connection& db, std::int64_t session, const std::string& purchaser) {
  const std::string number = std::to_string(session);
  if (!db.query("SELECT 1 FROM book_purchasers WHERE session_id = ? AND purchaser = ? AND ost_purchaser = 0 LIMIT 1",
                {session, purchaser})
           .empty())
    throw Refusal(purchaser + " buys in session " + number +
                  " for itself, not as the store; the store's own list goes under the store's name.");
  const storage::Rows other = db.query(
      "SELECT purchaser FROM book_purchasers WHERE session_id = ? AND purchaser <> ? AND ost_purchaser = 1 LIMIT 1",
      {session, purchaser});
  if (!other.empty())
    throw Refusal("The store buys in session " + number + " as " + textAt(other[0], 0) +
                  "; build its own list under that name.");
}

}  // namespace

AdoptionLine adoptionLine(const AdoptedBook& book, const AdoptionSettings& settings) {
  AdoptionLine line;
  line.book = book;
  line.demandHundredths =
      book.required * 100 + book.recommended * settings.recommendedPercent + book.optional * settings.optionalPercent;
  line.expectedUsed = line.demandHundredths * settings.usedPercent / 10'000;
  line.quantity = std::max<std::int64_t>(line.expectedUsed - book.usedOnHand, 0);
  line.priceCents = (book.newPriceCents * settings.pricePercent + 50) / 100;
  if (!book.inCatalogue) line.apart = "not among the store's books";
  else if (!book.problem.empty()) line.apart = "problem reported: " + book.problem;
  else if (book.newPriceCents == 0) line.apart = "no new price";
  if (!line.apart.empty()) line.quantity = line.priceCents = 0;
  return line;
}

std::vector<AdoptedBook> adoptedBooks(storage::Connection& db, std::int64_t store, const std::string& term) {
  std::vector<AdoptedBook> books;
  for (const storage::Row& r : db.query(adoptedBooksSql(), {store, term, store, term, store, term, store}))
    books.push_back({integerAt(r, 0), textAt(r, 1), textAt(r, 2), integerAt(r, 3), integerAt(r, 4), integerAt(r, 5),
                     integerAt(r, 6), integerAt(r, 7), textAt(r, 8), integerAt(r, 9) != 0});
  return books;
}

std::vector<std::string> adoptionTermsOf(storage::Connection& db, std::int64_t store) {
  std::vector<std::string> terms;
  for (const storage::Row& r : db.query("SELECT t.term FROM adoption_terms t WHERE EXISTS (SELECT 1 FROM"
                                        " adoption_sections s WHERE s.store_num = ? AND s.term = t.term)"
                                        " ORDER BY t.is_open DESC, t.starts_on, t.term",
                                        {store}))
    terms.push_back(textAt(r, 0));
  return terms;
}

std::string storesOwnPurchaser(storage::Connection& db, std::int64_t store, std::int64_t session) {
  std::vector<std::int64_t> sessions{session};
  for (const SessionRow& s : sessionsOf(db, store))
    if (s.id != session) sessions.push_back(s.id);
  std::sort(sessions.begin() + 1, sessions.end(), std::greater<>());
  for (std::int64_t id : sessions) {
    const storage::Rows own =
        db.query("SELECT purchaser FROM book_purchasers WHERE session_id = ? AND ost_purchaser = 1 LIMIT 1", {id});
    if (!own.empty()) return textAt(own[0], 0);
  }
  const storage::Rows name = db.query("SELECT name FROM stores WHERE store_num = ?", {store});
  return name.empty() ? "" : textAt(name[0], 0);
}

AdoptionBuild adoptionBuild(const PageContext& page, std::int64_t session) {
  AdoptionBuild build;
  build.term = page.form["term"];
  build.settings = settingsOf(page.form);
  build.purchaser = page.form["purchaser"];
  build.merge = page.form["merge"] == "replace" ? ListMerge::Replace : ListMerge::Merge;
  checkTerm(page.db, page.store, build.term);
  checkPurchaserName(build.purchaser);
  checkStoresOwn(page.db, session, build.purchaser);
  std::vector<BuyListLine> bought;
  for (const AdoptedBook& book : adoptedBooks(page.db, page.store, build.term)) {
    build.lines.push_back(adoptionLine(book, build.settings));
    applyEdits(page.form, build.lines.back());
    const AdoptionLine& line = build.lines.back();
    if (line.apart.empty())
      bought.push_back(
          {int(build.lines.size()), book.isbn, line.quantity, line.priceCents, std::nullopt, std::nullopt});
  }
  build.plan = planBuyLines(page.db, session, build.purchaser, bought, build.merge);
  std::erase_if(build.plan.rows, [](const PlannedRow& row) { return !row.before && row.terms.qty == 0; });
  return build;
}

std::string hundredthsText(std::int64_t hundredths) {
  std::string text = std::to_string(hundredths / 100);
  if (const std::int64_t rest = hundredths % 100; rest != 0)
    text += (rest % 10 == 0 ? "." + std::to_string(rest / 10)
             : rest < 10    ? ".0" + std::to_string(rest)
                            : "." + std::to_string(rest));
  return text;
}

std::string settingsText(const AdoptionSettings& s) {
  return "recommended at " + std::to_string(s.recommendedPercent) + " %, optional at " +
         std::to_string(s.optionalPercent) + " %, used " + std::to_string(s.usedPercent) + " %, price " +
         std::to_string(s.pricePercent) + " % of new";
}

}  // namespace storeserver::admin
