#include "server/demo_catalogue.h"

#include <array>
#include <string>
#include <vector>

#include "server/queries/item_codes.h"
#include "server/storage/title_words.h"

namespace storeserver {

namespace {

struct Family {
  const char* title;
  const char* author;
  const char* imprint;
  const char* binding;
  int editions;
  int firstYear;
};

// Several editions of one title each, newest first; the first four fill the
// three pages of "calculus".
constexpr Family kFamilies[] = {
    {"Calculus", "Harmon, J.", "Northfield Press", "Hardcover", 9, 1990},
    {"Calculus: Early Transcendentals", "Okafor, A.", "Lakeside Academic", "Hardcover", 8, 1995},
    {"Multivariable Calculus", "Lindqvist, M.", "Northfield Press", "Paperback", 4, 2008},
    {"Calculus for Business and Life Sciences", "Reyes, P.", "Summit Learning", "Loose-leaf", 4, 2012},
    {"Álgebra Lineal y sus Aplicaciones", "Núñez, C.", "Editorial Andina", "Paperback", 3, 2010},
    {"Introducción a la Economía", "Peña, R.", "Editorial Andina", "Paperback", 2, 2015},
    {"Éléments d'Histoire de l'Art", "Lefèvre, É.", "Éditions Rivière", "Paperback", 2, 2011},
    {"Grundzüge der Physik", "Müller, K.", "Verlag Sonnenberg", "Hardcover", 2, 2009},
    {"Linear Algebra Done Clearly", "Park, S.", "Lakeside Academic", "Hardcover", 3, 2014},
};

constexpr int familyBooks() {
  int n = 0;
  for (const Family& f : kFamilies) n += f.editions;
  return n;
}

constexpr const char* kSubjects[] = {
    "Microeconomics", "Macroeconomics", "Organic Chemistry", "General Chemistry",
    "Biology",        "Cell Biology",   "Genetics",          "Psychology",
    "Sociology",      "Anthropology",   "World History",     "American Government",
    "Statistics",     "Physics",        "Astronomy",         "Geology",
    "Accounting",     "Marketing",      "Management",        "Nursing",
    "Philosophy",     "Ethics",         "Music Theory",      "Linguistics",
};
constexpr const char* kForms[] = {
    "Principles of %",   "Introduction to %", "Essentials of %", "%: A Modern Approach", "Foundations of %",
    "Study Guide for %",  // the one form of guide books
};
constexpr std::size_t kGuideForm = std::size(kForms) - 1;
constexpr std::int64_t kRevisions = 12;
constexpr const char* kAuthors[] = {"Adams, R.",  "Baker, L.",  "Chen, W.", "Dubois, M.", "Evans, T.",    "Fischer, H.",
                                    "García, I.", "Hughes, D.", "Ito, K.",  "Jensen, P.", "Kowalski, Z.", "Lopez, N."};
constexpr const char* kImprints[] = {"Northfield Press", "Lakeside Academic",        "Summit Learning",
                                     "Harbor & Vine",    "Redwood University Press", "Meridian Books"};
constexpr const char* kBindings[] = {"Hardcover", "Paperback", "Loose-leaf", "Spiral"};
constexpr const char* kLocations[] = {"Textbooks A-3", "Textbooks B-1", "Trade C-2", "Backroom", "Annex shelf 4"};

constexpr std::int64_t kStore = 1;
constexpr std::int64_t kDemoBooks = 300;
constexpr std::int64_t kOtherStore = 2;
// The store's own purchaser is OST, the company on the start dialog.
constexpr const char* kOstPurchaser = "Ostrand Company";
constexpr const char* kWholesalerA = "Midwest Book Wholesale";
constexpr const char* kWholesalerB = "Textbook Exchange Co.";

struct Book {
  std::string itemId;
  std::int64_t sku = 0;
  std::string bookKey;
  std::string isbn13;
  std::string title;
  std::string author;
  std::string imprint;
  std::string edition;
  std::string copyright;
  std::string binding;
  bool guide = false;
  std::int64_t newPriceCents = 0;
};

std::string padded(std::int64_t value, std::size_t width) {
  std::string digits = std::to_string(value);
  return std::string(width > digits.size() ? width - digits.size() : 0, '0') + digits;
}

std::string isbnBody10(std::int64_t n) {
  std::string body = padded(n * 37 + 100000, 9);
  // Every 13th book gets an ISBN-10 whose check digit is X.
  if (n % 13 == 6)
    while (queries::isbn10CheckDigit(body) != 'X') body = padded(std::stoll(body) + 1, 9);
  return body;
}

// Beyond the demo store, each title carries one of some 1700 made-up series
// names, so that a large catalogue has the spread of words a real one has.
std::string seriesName(std::int64_t n) {
  static const char* const kSyllables[] = {"ta", "vo", "lin", "mar", "ke", "do", "ri", "san", "po", "bel", "nu", "gar"};
  constexpr std::int64_t k = std::size(kSyllables);
  // Mixed, so that the name does not follow the subject (both come from n).
  std::uint64_t x = std::uint64_t(n) * 0x9E3779B97F4A7C15u;
  x ^= x >> 29;
  const std::int64_t h = std::int64_t(x % std::uint64_t(k * k * k));
  std::string name = std::string(kSyllables[h / (k * k)]) + kSyllables[(h / k) % k] + kSyllables[h % k];
  name[0] = char(name[0] - 'a' + 'A');
  return name;
}

std::string formTitle(const char* form, const char* subject) {
  std::string title = form;
  title.replace(title.find('%'), 1, subject);
  return title;
}

void describe(Book& b, std::int64_t n) {
  if (n < familyBooks()) {
    std::int64_t rest = n;
    int index = 0;
    while (rest >= kFamilies[index].editions) rest -= kFamilies[index++].editions;
    const Family& f = kFamilies[index];
    const int edition = f.editions - int(rest);
    b.title = f.title;
    b.author = f.author;
    b.imprint = f.imprint;
    b.binding = f.binding;
    b.edition = std::to_string(edition);
    b.copyright = std::to_string(f.firstYear + 3 * (edition - 1));
    b.bookKey = "K" + std::to_string(1000 + index);
    return;
  }
  const std::int64_t m = n - familyBooks();
  constexpr std::int64_t titles = std::size(kSubjects) * std::size(kForms);
  const std::int64_t title = m % titles;
  const std::size_t form = std::size_t(title / std::int64_t(std::size(kSubjects)));
  b.title = formTitle(kForms[form], kSubjects[title % std::int64_t(std::size(kSubjects))]);
  b.guide = form == kGuideForm;
  b.author = kAuthors[m % std::int64_t(std::size(kAuthors))];
  b.imprint = kImprints[(m / 7) % std::int64_t(std::size(kImprints))];
  b.binding = kBindings[m % std::int64_t(std::size(kBindings))];
  // A large catalogue repeats its titles; editions and years wrap so that they
  // stay within the handheld's four-character fields (the demo store's books
  // come before the first wrap).
  const std::int64_t revision = (m / titles) % kRevisions;
  b.edition = std::to_string(revision + 1);
  b.copyright = std::to_string(1998 + (m % 25 + 2 * revision) % 29);
  b.bookKey = "K" + std::to_string(2000 + title);
  if (n >= kDemoBooks) b.title += " — " + seriesName(n);
}

Book newBook(std::int64_t n) {
  Book b;
  b.itemId = "B" + padded(n, 7);
  b.sku = demoSku(n);
  b.isbn13 = demoIsbn13(n);
  describe(b, n);
  b.newPriceCents = demoNewPriceCents(n);
  return b;
}

// Some filler books are sold new and used: two items of one ISBN.
bool hasUsedCopy(std::int64_t n) { return n >= familyBooks() && n % 10 == 3; }

Book usedCopy(const Book& fresh, std::int64_t n) {
  Book b = fresh;
  b.itemId += "U";
  b.sku = 50000000 + n;
  b.newPriceCents = fresh.newPriceCents * 3 / 4;
  return b;
}

void insertBook(storage::Connection& db, const Book& b) {
  db.execute(
      "INSERT INTO books (item_id, sku, book_key, isbn13, title, author, imprint, edition, copyright, binding, guide)"
      " VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?)",
      {b.itemId, b.sku, b.bookKey, b.isbn13, b.title, b.author, b.imprint, b.edition, b.copyright, b.binding,
       std::int64_t(b.guide)});
  storage::indexTitle(db, b.itemId, b.title);
}

std::int64_t roundedToQuarter(std::int64_t cents) { return cents / 25 * 25; }

struct Terms {
  const char* purchaser;
  bool ost;
  bool noLimit;
  std::int64_t buy;
  std::int64_t bought;
  int percentOfRetail;
  const char* status;
  const char* condition;
};

void insertTerms(storage::Connection& db, std::int64_t session, const Book& b, const Terms& t) {
  const std::int64_t buyPrice = roundedToQuarter(b.newPriceCents * t.percentOfRetail / 100);
  db.execute(
      "INSERT INTO book_purchasers (session_id, item_id, purchaser, ost_purchaser, no_limit, buy_qty, bought_qty,"
      " buy_price_cents, alt_price_cents, retail_price_cents, listed_price_cents, status, condition_text,"
      " condition_check) VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?)",
      {session, b.itemId, t.purchaser, std::int64_t(t.ost), std::int64_t(t.noLimit), t.buy, t.bought, buyPrice,
       roundedToQuarter(buyPrice * 3 / 5), b.newPriceCents, buyPrice + 100, t.status, t.condition,
       std::int64_t(*t.condition != '\0')});
}

// The store buys most books, with no limit, a number still needed, or none
// left to buy (bought past its quantity); two wholesalers buy some. A few
// books find no purchaser. A wholesale-only session has no store purchaser.
void insertPurchasers(storage::Connection& db, std::int64_t session, bool wholesaleOnly, const Book& b,
                      std::int64_t n) {
  if (!wholesaleOnly && n % 4 != 3) {
    const bool noLimit = n % 6 == 0;
    const std::int64_t buy = (n % 7) * 2 + 1;
    const std::int64_t bought = n % 8 == 5 ? buy + 2 : n % 3;
    const bool filled = !noLimit && bought >= buy;
    insertTerms(db, session, b,
                {kOstPurchaser, true, noLimit, noLimit ? 0 : buy, bought, 50, filled ? "Quota filled" : "Adopted",
                 n % 5 == 1 ? "No water damage; highlighting on 10 pages at most" : ""});
  }
  if (n % 3 == 0) insertTerms(db, session, b, {kWholesalerA, false, true, 0, n % 4, 30, "Wholesale", ""});
  if (n % 5 == 2)
    insertTerms(db, session, b, {kWholesalerB, false, false, 4, n % 6, 25, "Wholesale", "Cover and binding intact"});
}

bool hasProduct(std::int64_t n) { return n % 23 != 22; }
bool hasInventoryAt(std::int64_t store, std::int64_t n) { return store == kStore ? n % 29 != 7 : n % 2 == 0; }

void insertLookupRecords(storage::Connection& db, const Book& b, std::int64_t n,
                         std::initializer_list<std::int64_t> stores) {
  if (hasProduct(n))
    db.execute("INSERT INTO book_products (sku, new_price_cents, used_price_cents) VALUES (?, ?, ?)",
               {b.sku, b.newPriceCents, roundedToQuarter(b.newPriceCents * 3 / 4)});
  for (std::int64_t store : stores) {
    if (!hasInventoryAt(store, n)) continue;
    const std::string received = n % 9 == 4 ? "" : "2026-0" + std::to_string(1 + n % 8) + "-" + padded(1 + n % 28, 2);
    db.execute(
        "INSERT INTO book_inventory (store_num, sku, new_on_hand, used_on_hand, on_order, location, last_received)"
        " VALUES (?, ?, ?, ?, ?, ?, ?)",
        {store, b.sku, n % 17, n % 5, n % 4 == 0 ? 10 : 0, kLocations[n % std::int64_t(std::size(kLocations))],
         received});
  }
}

void insertStolenReports(storage::Connection& db) {
  using V = std::vector<storage::Value>;
  const V reports[] = {
      {1, kStore, demoSku(1), "S100200", "2026-02-11", "2026-02-11 Library, 2nd floor", "Name written inside cover"},
      {2, kStore, demoSku(1), "S100100", "2026-03-02", "2026-03-02 Student union", ""},
      {3, kStore, demoSku(1), "S100300", "2026-01-20", "2026-01-20 Chemistry lab", "Blue sticker on the spine"},
      {4, kStore, demoSku(4), "s100200", "2026-02-27", "2026-02-27 Dormitory lounge", "Torn back cover"},
      {5, kOtherStore, demoSku(1), "S100100", "2025-11-05", "2025-11-05 North campus cafe", ""},
  };
  for (const V& r : reports)
    db.execute(
        "INSERT INTO stolen_book_reports (report_id, store_num, sku, student_id, reported_on, stolen, comment_text)"
        " VALUES (?, ?, ?, ?, ?, ?, ?)",
        r);
}

void addBooks(storage::Connection& db, std::int64_t first, std::int64_t count,
              std::initializer_list<std::int64_t> sessions, std::int64_t wholesaleSession,
              std::initializer_list<std::int64_t> stores) {
  for (std::int64_t n = first; n < first + count; ++n) {
    std::vector<Book> copies{newBook(n)};
    if (hasUsedCopy(n)) copies.push_back(usedCopy(copies.front(), n));
    for (const Book& b : copies) {
      insertBook(db, b);
      for (std::int64_t session : sessions) insertPurchasers(db, session, session == wholesaleSession, b, n);
      insertLookupRecords(db, b, n, stores);
    }
  }
}

}  // namespace

std::string demoIsbn13(std::int64_t n) {
  std::string twelve = n % 11 == 10 ? "97910" + padded(n % 10000000, 7) : "978" + isbnBody10(n);
  return twelve + queries::isbn13CheckDigit(twelve);
}

std::int64_t demoSku(std::int64_t n) { return 200001 + n; }

std::int64_t demoNewPriceCents(std::int64_t n) { return 2500 + (n * 731) % 17500; }

std::string demoTitle(std::int64_t n) {
  Book b;
  describe(b, n);
  return b.title;
}

void seedDemoCatalogue(storage::Connection& db) {
  addBooks(db, 0, kDemoBooks, {1001, 1002, 1003, 2001}, 1003, {kStore, kOtherStore});
  insertStolenReports(db);
}

void addGeneratedBooks(storage::Connection& db, std::int64_t first, std::int64_t count) {
  addBooks(db, first, count, {1001}, 0, {kStore});
}

}  // namespace storeserver
