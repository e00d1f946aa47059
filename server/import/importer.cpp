#include "server/import/importer.h"

#include <algorithm>
#include <charconv>
#include <limits>
#include <map>
#include <optional>
#include <stdexcept>
#include <variant>

#include "server/import/csv_reader.h"
#include "server/queries/item_codes.h"
#include "server/storage/title_words.h"
#include "wire/exchange.h"
#include "wire/item_rules.h"
#include "wire/money.h"
#include "wire/requests.h"
#include "wire/text.h"

namespace storeserver {

namespace {

enum class Type { Number, Text, Money, Date, Flag, Password, Isbn13, BookKey };

constexpr std::int64_t kNoMost = std::numeric_limits<std::int64_t>::max();

struct Column {
  std::string_view name;
  Type type;
  std::size_t width = 0;   // Text, BookKey: most UTF-16 code units, as the records carry them
  std::int64_t least = 0;  // Number: the smallest and largest allowed; Money: the largest in cents
  std::int64_t most = kNoMost;
  bool optional = false;      // Text, Date: may be empty
  bool mayBeLeftOut = false;  // the header may leave it out; its value is then null
};

Column optional(Column column) {
  column.optional = true;
  return column;
}

Column mayBeLeftOut(Column column) {
  column.mayBeLeftOut = true;
  return column;
}

// A row's value that must name something already in the database.
struct Reference {
  std::string_view column;
  std::string_view sql;  // one parameter: the value
  std::string_view what;
};

// A row the database would take but the store's data must not hold. The
// query's parameters are the named columns; a result refuses the row.
struct Conflict {
  std::string_view sql;
  std::vector<std::string_view> columns;
  std::string_view reason;  // "{}" stands for the first column's value
};

struct Row {
  int line = 0;
  std::vector<storage::Value> values;  // in the kind's column order
};

struct Kind;
using AfterRow = void (*)(storage::Connection& db, const Kind& kind, const Row& row);
// The reason the importer may not write the row, if any.
using RowRight = std::optional<std::string> (*)(storage::Connection& db, const Kind& kind, const Row& row,
                                                const UserAccount& importer);

struct Kind {
  std::string_view name;
  std::vector<Column> columns;
  std::vector<std::string_view> key;
  std::vector<Reference> references;
  std::string_view upsert;           // parameters: the columns in order
  std::string_view alsoUnique = {};  // a column that, besides the key, names one row
  std::vector<Conflict> conflicts = {};
  AfterRow afterRow = nullptr;  // keeps what the row implies elsewhere up to date
  RowRight mayWrite = nullptr;  // null: whoever may import may write every row
};

const storage::Value& valueOf(const Kind& kind, const Row& row, std::string_view column) {
  for (std::size_t i = 0; i < kind.columns.size(); ++i)
    if (kind.columns[i].name == column) return row.values[i];
  throw std::logic_error("no column " + std::string(column));
}

// Item matching finds titles by these words, so they follow every change of a title.
void indexTitleWords(storage::Connection& db, const Kind& kind, const Row& row) {
  storage::indexTitle(db, std::get<std::string>(valueOf(kind, row, "item_id")),
                      std::get<std::string>(valueOf(kind, row, "title")));
}

bool isLeftOut(const storage::Value& value) { return std::holds_alternative<std::nullptr_t>(value); }
bool flagOf(const storage::Value& value) { return std::get<std::int64_t>(value) != 0; }

// A user's right over the chain, when the file leaves it out, stays as it
// was (none for a new user); a user who manages no store manages no chain.
void setChainRight(storage::Connection& db, const Kind& kind, const Row& row) {
  db.execute("UPDATE users SET manages_chain = CASE WHEN can_manage = 1 THEN COALESCE(?, manages_chain) ELSE 0 END"
             " WHERE user_name = ?",
             {valueOf(kind, row, "manages_chain"), valueOf(kind, row, "user_name")});
}

// The back office's rule of who may change which user holds for a file too.
std::optional<std::string> mayWriteUser(storage::Connection& db, const Kind& kind, const Row& row,
                                        const UserAccount& importer) {
  const auto existing = findAccountNamed(db, std::get<std::string>(valueOf(kind, row, "user_name")));
  const storage::Value& chain = valueOf(kind, row, "manages_chain");
  UserRights rights{flagOf(valueOf(kind, row, "can_buy")), flagOf(valueOf(kind, row, "can_manage")),
                    isLeftOut(chain) ? existing && existing->rights.managesChain : flagOf(chain)};
  if (rights.managesChain && !rights.canManage) {
    if (!isLeftOut(chain)) return "manages_chain is 1 but can_manage is 0; a manager of the whole chain manages.";
    rights.managesChain = false;
  }
  if (existing)
    if (auto refusal = refusalToChange(importer, *existing)) return refusal;
  return refusalToGive(importer, rights, std::get<std::int64_t>(valueOf(kind, row, "store_num")));
}

constexpr std::size_t kNameWidth = 40;
constexpr std::size_t kMaxReasons = 20;
const Reference kStore{"store_num", "SELECT 1 FROM stores WHERE store_num = ?", "store"};
const Reference kStudent{"student_id", "SELECT 1 FROM students WHERE student_id = ?", "student"};
const Reference kTerm{"term", "SELECT 1 FROM adoption_terms WHERE term = ?", "term"};
const Reference kSection{"section_id", "SELECT 1 FROM adoption_sections WHERE section_id = ?", "section"};
const Reference kAdoptionBook{"sku", "SELECT 1 FROM adoption_books WHERE sku = ?", "course book with SKU"};
const Reference kBookSku{"sku", "SELECT 1 FROM books WHERE sku = ?", "book with SKU"};
const Reference kBookItem{"item_id", "SELECT 1 FROM books WHERE item_id = ?", "book with item ID"};
const Reference kSession{"session_id", "SELECT 1 FROM buying_sessions WHERE session_id = ?", "buying session"};
constexpr std::int64_t kMaxSku = 99'999'999;
constexpr std::int64_t kMaxSessionId = 99'999'999;
constexpr std::int64_t kMaxOnHand = 99'999;
const Column kSku{"sku", Type::Number, 0, 1, kMaxSku};
// The handhelds ask for stores within this range; a store beyond it could never be looked up.
const Column kStoreNum{"store_num", Type::Number, 0, 1, wire::requests::kMaxStoreNumber};

Column price(std::string_view name) { return {name, Type::Money, 0, 0, wire::rules::kMaxPriceCents}; }
Column count(std::string_view name, std::int64_t most = kMaxOnHand) { return {name, Type::Number, 0, 0, most}; }

const std::vector<Kind>& kinds() {
  static const std::vector<Kind> all = {
      {"stores",
       {kStoreNum, {"name", Type::Text, kNameWidth}},
       {"store_num"},
       {},
       "INSERT INTO stores (store_num, name) VALUES (?, ?)"
       " ON CONFLICT (store_num) DO UPDATE SET name = excluded.name"},
      {"locations",
       {{"location_id", Type::Number}, kStoreNum, {"code", Type::Text, 8}, {"name", Type::Text, kNameWidth}},
       {"location_id"},
       {kStore},
       "INSERT INTO locations (location_id, store_num, code, name) VALUES (?, ?, ?, ?)"
       " ON CONFLICT (location_id) DO UPDATE SET store_num = excluded.store_num, code = excluded.code,"
       " name = excluded.name"},
      {"users",
       {{"user_name", Type::Text, 20},
        {"password", Type::Password},
        kStoreNum,
        {"can_buy", Type::Flag},
        {"active", Type::Flag},
        {"restrict_lookup", Type::Flag},
        {"can_manage", Type::Flag},
        mayBeLeftOut({"manages_chain", Type::Flag})},
       {"user_name"},
       {kStore},
       // Keys the files do not give are numbered here, alike on every database;
       // an import runs alone, so no other writer takes the same number meanwhile.
       "INSERT INTO users (user_id, user_name, password_hash, store_num, can_buy, active, restrict_lookup,"
       " can_manage, manages_chain) VALUES ((SELECT COALESCE(MAX(user_id), 0) + 1 FROM users), ?, ?, ?, ?, ?, ?, ?,"
       " COALESCE(?, 0)) ON CONFLICT (user_name) DO UPDATE SET password_hash = excluded.password_hash,"
       " store_num = excluded.store_num, can_buy = excluded.can_buy, active = excluded.active,"
       " restrict_lookup = excluded.restrict_lookup, can_manage = excluded.can_manage",
       {},
       {},
       &setChainRight,
       &mayWriteUser},
      {"students",
       {{"student_id", Type::Text, 20}, {"name", Type::Text, kNameWidth}},
       {"student_id"},
       {},
       "INSERT INTO students (student_id, name) VALUES (?, ?)"
       " ON CONFLICT (student_id) DO UPDATE SET name = excluded.name"},
      {"aid-agencies",
       {{"agency_number", Type::Text, 12}, {"name", Type::Text, kNameWidth}},
       {"agency_number"},
       {},
       "INSERT INTO aid_agencies (agency_id, agency_number, name)"
       " VALUES ((SELECT COALESCE(MAX(agency_id), 0) + 1 FROM aid_agencies), ?, ?)"
       " ON CONFLICT (agency_number) DO UPDATE SET name = excluded.name"},
      {"aid-accounts",
       {{"account_id", Type::Number},
        {"student_id", Type::Text, 20},
        {"agency_number", Type::Text, 12},
        {"start_date", Type::Date},
        {"expire_date", Type::Date},
        {"total_balance", Type::Money},
        {"credit_limit", Type::Money}},
       {"account_id"},
       {kStudent, {"agency_number", "SELECT 1 FROM aid_agencies WHERE agency_number = ?", "aid agency"}},
       "INSERT INTO aid_accounts (account_id, student_id, agency_id, start_date, expire_date,"
       " total_balance_cents, credit_limit_cents)"
       " VALUES (?, ?, (SELECT agency_id FROM aid_agencies WHERE agency_number = ?), ?, ?, ?, ?)"
       " ON CONFLICT (account_id) DO UPDATE SET student_id = excluded.student_id, agency_id = excluded.agency_id,"
       " start_date = excluded.start_date, expire_date = excluded.expire_date,"
       " total_balance_cents = excluded.total_balance_cents, credit_limit_cents = excluded.credit_limit_cents"},
      {"terms",
       {{"term", Type::Text, 12}, {"starts_on", Type::Date}, {"is_open", Type::Flag}},
       {"term"},
       {},
       "INSERT INTO adoption_terms (term, starts_on, is_open) VALUES (?, ?, ?)"
       " ON CONFLICT (term) DO UPDATE SET starts_on = excluded.starts_on, is_open = excluded.is_open"},
      {"sections",
       {{"section_id", Type::Number},
        kStoreNum,
        {"campus", Type::Text, kNameWidth},
        {"term", Type::Text, 12},
        {"department", Type::Text, 8},
        {"course", Type::Text, 8},
        {"section", Type::Text, 6}},
       {"section_id"},
       {kStore, kTerm},
       "INSERT INTO adoption_sections (section_id, store_num, campus, term, department, course, section)"
       " VALUES (?, ?, ?, ?, ?, ?, ?)"
       " ON CONFLICT (section_id) DO UPDATE SET store_num = excluded.store_num, campus = excluded.campus,"
       " term = excluded.term, department = excluded.department, course = excluded.course,"
       " section = excluded.section"},
      {"course-books",
       {{"sku", Type::Number, 0, 1, kMaxSku}, {"isbn", Type::Isbn13}, {"title", Type::Text, 60}},
       {"sku"},
       {},
       "INSERT INTO adoption_books (sku, isbn, title) VALUES (?, ?, ?)"
       " ON CONFLICT (sku) DO UPDATE SET isbn = excluded.isbn, title = excluded.title",
       "isbn",
       {{"SELECT 1 FROM adoption_books WHERE isbn = ? AND sku <> ?",
         {"isbn", "sku"},
         "another course book has the ISBN {}."}}},
      {"adoptions",
       {{"section_id", Type::Number}, {"sku", Type::Number, 0, 1, kMaxSku}, {"request_type", Type::Number, 0, 1, 3}},
       {"section_id", "sku"},
       {kSection, kAdoptionBook},
       "INSERT INTO adoption_section_books (section_id, sku, request_type) VALUES (?, ?, ?)"
       " ON CONFLICT (section_id, sku) DO UPDATE SET request_type = excluded.request_type"},
      {"enrolments",
       {{"student_id", Type::Text, 20}, {"section_id", Type::Number}},
       {"student_id", "section_id"},
       {kStudent, kSection},
       "INSERT INTO adoption_enrollments (student_id, section_id) VALUES (?, ?)"
       " ON CONFLICT (student_id, section_id) DO NOTHING"},
      {"course-stock",
       {kStoreNum, kSku, price("new_price"), price("used_price"), count("new_on_hand"), count("used_on_hand")},
       {"store_num", "sku"},
       {kStore, kAdoptionBook},
       "INSERT INTO adoption_stock (store_num, sku, new_price_cents, used_price_cents, new_on_hand, used_on_hand)"
       " VALUES (?, ?, ?, ?, ?, ?)"
       " ON CONFLICT (store_num, sku) DO UPDATE SET new_price_cents = excluded.new_price_cents,"
       " used_price_cents = excluded.used_price_cents, new_on_hand = excluded.new_on_hand,"
       " used_on_hand = excluded.used_on_hand"},
      {"course-problems",
       {{"problem_id", Type::Number},
        kStoreNum,
        {"term", Type::Text, 12},
        kSku,
        {"reason", Type::Text, 30},
        optional({"comment", Type::Text, 60})},
       {"problem_id"},
       {kStore, kTerm, kAdoptionBook},
       "INSERT INTO adoption_problems (problem_id, store_num, term, sku, reason, comment) VALUES (?, ?, ?, ?, ?, ?)"
       " ON CONFLICT (problem_id) DO UPDATE SET store_num = excluded.store_num, term = excluded.term,"
       " sku = excluded.sku, reason = excluded.reason, comment = excluded.comment"},
      {"buying-sessions",
       {{"session_id", Type::Number, 0, 1, kMaxSessionId},
        kStoreNum,
        {"description", Type::Text, kNameWidth},
        {"student_id_required", Type::Flag},
        {"condition_check", Type::Flag},
        count("within_percent", 100),
        count("tran_warning_qty", 9999),
        count("tran_max_qty", 9999),
        {"is_open", Type::Flag}},
       {"session_id"},
       {kStore},
       "INSERT INTO buying_sessions (session_id, store_num, description, student_id_required, condition_check,"
       " within_percent, tran_warning_qty, tran_max_qty, is_open) VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?)"
       " ON CONFLICT (session_id) DO UPDATE SET store_num = excluded.store_num, description = excluded.description,"
       " student_id_required = excluded.student_id_required, condition_check = excluded.condition_check,"
       " within_percent = excluded.within_percent, tran_warning_qty = excluded.tran_warning_qty,"
       " tran_max_qty = excluded.tran_max_qty, is_open = excluded.is_open"},
      {"books",
       {{"item_id", Type::Text, 12},
        kSku,
        {"book_key", Type::BookKey, 12},
        {"isbn", Type::Isbn13},
        {"title", Type::Text, 60},
        optional({"author", Type::Text, kNameWidth}),
        optional({"imprint", Type::Text, 30}),
        optional({"edition", Type::Text, 4}),
        optional({"copyright", Type::Text, 4}),
        optional({"binding", Type::Text, 12}),
        {"guide", Type::Flag}},
       {"item_id"},
       {},
       "INSERT INTO books (item_id, sku, book_key, isbn13, title, author, imprint, edition, copyright, binding, guide)"
       " VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?)"
       " ON CONFLICT (item_id) DO UPDATE SET book_key = excluded.book_key, isbn13 = excluded.isbn13,"
       " title = excluded.title, author = excluded.author, imprint = excluded.imprint, edition = excluded.edition,"
       " copyright = excluded.copyright, binding = excluded.binding, guide = excluded.guide",
       "sku",
       // Prices, stock and reports hang on the SKU, so a book keeps its own.
       {{"SELECT 1 FROM books WHERE sku = ? AND item_id <> ?", {"sku", "item_id"}, "another book has the SKU {}."},
        {"SELECT 1 FROM books WHERE item_id = ? AND sku <> ?",
         {"item_id", "sku"},
         "the book {} has another SKU; a book keeps its SKU."}},
       &indexTitleWords},
      {"book-prices",
       {kSku, price("new_price"), price("used_price")},
       {"sku"},
       {kBookSku},
       "INSERT INTO book_products (sku, new_price_cents, used_price_cents) VALUES (?, ?, ?)"
       " ON CONFLICT (sku) DO UPDATE SET new_price_cents = excluded.new_price_cents,"
       " used_price_cents = excluded.used_price_cents"},
      {"inventory",
       {kStoreNum, kSku, count("new_on_hand", 999'999), count("used_on_hand", 999'999), count("on_order", 999'999),
        optional({"location", Type::Text, 20}), optional({"last_received", Type::Date})},
       {"store_num", "sku"},
       {kStore, kBookSku},
       "INSERT INTO book_inventory (store_num, sku, new_on_hand, used_on_hand, on_order, location, last_received)"
       " VALUES (?, ?, ?, ?, ?, ?, ?)"
       " ON CONFLICT (store_num, sku) DO UPDATE SET new_on_hand = excluded.new_on_hand,"
       " used_on_hand = excluded.used_on_hand, on_order = excluded.on_order, location = excluded.location,"
       " last_received = excluded.last_received"},
      // bought_qty is taken only for new terms: afterwards the server counts
      // what its tickets buy, and a file exported earlier must not undo that.
      {"purchasers",
       {{"session_id", Type::Number},
        {"item_id", Type::Text, 12},
        {"purchaser", Type::Text, 30},
        {"ost_purchaser", Type::Flag},
        {"no_limit", Type::Flag},
        count("buy_qty"),
        count("bought_qty"),
        price("buy_price"),
        price("alt_price"),
        price("retail_price"),
        price("listed_price"),
        optional({"status", Type::Text, 20}),
        optional({"condition", Type::Text, 60}),
        {"condition_check", Type::Flag}},
       {"session_id", "item_id", "purchaser"},
       {kSession, kBookItem},
       "INSERT INTO book_purchasers (session_id, item_id, purchaser, ost_purchaser, no_limit, buy_qty, bought_qty,"
       " buy_price_cents, alt_price_cents, retail_price_cents, listed_price_cents, status, condition_text,"
       " condition_check) VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?)"
       " ON CONFLICT (session_id, item_id, purchaser) DO UPDATE SET ost_purchaser = excluded.ost_purchaser,"
       " no_limit = excluded.no_limit, buy_qty = excluded.buy_qty, buy_price_cents = excluded.buy_price_cents,"
       " alt_price_cents = excluded.alt_price_cents, retail_price_cents = excluded.retail_price_cents,"
       " listed_price_cents = excluded.listed_price_cents, status = excluded.status,"
       " condition_text = excluded.condition_text, condition_check = excluded.condition_check"},
      {"stolen-reports",
       {{"report_id", Type::Number},
        kStoreNum,
        kSku,
        {"student_id", Type::Text, 20},
        {"reported_on", Type::Date},
        {"stolen", Type::Text, kNameWidth},
        optional({"comment", Type::Text, 60})},
       {"report_id"},
       {kStore, kBookSku},
       "INSERT INTO stolen_book_reports (report_id, store_num, sku, student_id, reported_on, stolen, comment_text)"
       " VALUES (?, ?, ?, ?, ?, ?, ?)"
       " ON CONFLICT (report_id) DO UPDATE SET store_num = excluded.store_num, sku = excluded.sku,"
       " student_id = excluded.student_id, reported_on = excluded.reported_on, stolen = excluded.stolen,"
       " comment_text = excluded.comment_text"},
  };
  return all;
}

const Kind* findKind(std::string_view name) {
  for (const Kind& kind : kinds())
    if (kind.name == name) return &kind;
  return nullptr;
}

std::optional<std::int64_t> wholeNumber(std::string_view text) {
  std::int64_t value = 0;
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (ec != std::errc() || end != text.data() + text.size()) return std::nullopt;
  return value;
}

bool isDate(std::string_view text) {
  if (text.size() != 10 || text[4] != '-' || text[7] != '-') return false;
  const auto year = wholeNumber(text.substr(0, 4));
  const auto month = wholeNumber(text.substr(5, 2));
  const auto day = wholeNumber(text.substr(8, 2));
  if (!year || !month || !day || *year < 1900 || *month < 1 || *month > 12 || *day < 1) return false;
  const bool leap = (*year % 4 == 0 && *year % 100 != 0) || *year % 400 == 0;
  constexpr int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  return *day <= kDays[*month - 1] + (*month == 2 && leap ? 1 : 0);
}

// Keys are looked up as typed at the counter, upper case, blanks and hyphens
// dropped; one the counter reads as a code would never find its book.
std::optional<std::string> bookKeyProblem(const std::string& name, const std::string& text) {
  if (text.find_first_of(" -abcdefghijklmnopqrstuvwxyz") != std::string::npos)
    return name + " must be written in capitals without blanks or hyphens, not \"" + text + "\".";
  const queries::ItemCode typed = queries::readItemCode(text);
  if (typed.kind == queries::ItemCode::Kind::Words) return std::nullopt;
  const char* readAs = typed.kind == queries::ItemCode::Kind::Sku    ? "a SKU"
                       : typed.kind == queries::ItemCode::Kind::Isbn ? "an ISBN"
                                                                     : "a mistyped code";
  return name + " \"" + text + "\" would be read as " + readAs +
         " at the counter, and the book never found by it; choose a key with letters.";
}

// The value to store, or a reason.
std::variant<storage::Value, std::string> convert(const Column& column, const std::string& text,
                                                  const PasswordCost& cost) {
  const std::string name(column.name);
  if (text.empty() && column.optional) return storage::Value(text);
  if (text.empty()) return name + " is empty.";
  if (wire::toUtf8(wire::toUtf16(text)) != text) return name + " is not UTF-8 text.";
  // Names, IDs and titles reach receipts, handhelds and logs.
  if (auto problem = wire::hiddenCharacterProblem(name, text)) return *problem;
  if (column.type == Type::Text && !column.optional && wire::isBlank(text)) return name + " is empty.";
  switch (column.type) {
    case Type::Number:
      if (const auto n = wholeNumber(text); n && *n >= column.least && *n <= column.most) return storage::Value(*n);
      if (column.most != std::numeric_limits<std::int64_t>::max())
        return name + " must be a whole number from " + std::to_string(column.least) + " to " +
               std::to_string(column.most) + ", not \"" + text + "\".";
      return name + " must be a whole number of 0 or more, not \"" + text + "\".";
    case Type::Isbn13:
      if (text.size() == 13 && text.find_first_not_of("0123456789") == std::string::npos &&
          queries::isbn13CheckDigit(text.substr(0, 12)) == text[12])
        return storage::Value(text);
      return name + " must be an ISBN of 13 digits with its check digit, not \"" + text + "\".";
    case Type::Money:
      if (const auto c = wire::parseCents(text); c && *c <= column.most) return storage::Value(*c);
      if (column.most != kNoMost)
        return name + " must be an amount from 0 to " + wire::formatCents(column.most) + ", not \"" + text + "\".";
      return name + " must be an amount of 0 or more such as 12.50, not \"" + text + "\".";
    case Type::Date:
      if (isDate(text)) return storage::Value(text);
      return name + " must be a date written YYYY-MM-DD, not \"" + text + "\".";
    case Type::Flag:
      if (text == "1" || text == "yes" || text == "true") return storage::Value(std::int64_t(1));
      if (text == "0" || text == "no" || text == "false") return storage::Value(std::int64_t(0));
      return name + " must be 1 or 0 (yes or no), not \"" + text + "\".";
    case Type::Password:
      // A longer one could never be typed in at a log-in.
      if (text.size() > wire::kMaxPasswordLength)
        return name + " has more than " + std::to_string(wire::kMaxPasswordLength) + " characters.";
      return storage::Value(hashPassword(text, cost));
    case Type::BookKey:
      if (auto problem = bookKeyProblem(name, text)) return *problem;
      [[fallthrough]];
    case Type::Text:
      if (wire::toUtf16(text).size() <= column.width) return storage::Value(text);
      return name + " has more than " + std::to_string(column.width) + " characters.";
  }
  return name + " cannot be read.";
}

// Values as the store holds them, so "7" and "07" read as one key.
std::string valueText(const storage::Value& value) {
  if (const auto* number = std::get_if<std::int64_t>(&value)) return std::to_string(*number);
  return std::get<std::string>(value);
}

class FileCheck {
 public:
  FileCheck(const Kind& kind, storage::Connection& db, PasswordCost cost, const UserAccount& importer)
      : kind_(kind), db_(db), cost_(cost), importer_(importer) {}

  std::vector<Row> check(const std::vector<csv::Record>& records) {
    if (records.empty()) {
      reasons_.push_back("the file is empty; its first line names the columns.");
      return {};
    }
    if (!readHeader(records[0])) return {};
    std::vector<Row> rows;
    for (std::size_t i = 1; i < records.size(); ++i)
      if (auto row = checkRecord(records[i])) rows.push_back(std::move(*row));
    return rows;
  }

  const std::vector<std::string>& reasons() const { return reasons_; }

 private:
  bool readHeader(const csv::Record& header) {
    for (const Column& column : kind_.columns) {
      std::size_t found = header.fields.size();
      for (std::size_t i = 0; i < header.fields.size(); ++i)
        if (header.fields[i] == column.name) found = i;
      if (found == header.fields.size() && !column.mayBeLeftOut)
        reasons_.push_back("line 1: the header lacks the column " + std::string(column.name) + ".");
      positions_.push_back(found);
    }
    headerSize_ = header.fields.size();
    const auto named = std::ranges::count_if(positions_, [&](std::size_t p) { return p != headerSize_; });
    if (headerSize_ != std::size_t(named) && reasons_.empty())
      reasons_.push_back("line 1: the header names columns that " + std::string(kind_.name) +
                         " do not have: " + unknownColumns(header) + ".");
    return reasons_.empty();
  }

  // The header's names that are no column of the kind (or name one a second time), quoted.
  std::string unknownColumns(const csv::Record& header) const {
    std::string names;
    for (std::size_t i = 0; i < header.fields.size(); ++i)
      if (std::find(positions_.begin(), positions_.end(), i) == positions_.end())
        names += (names.empty() ? "\"" : ", \"") + header.fields[i] + "\"";
    return names;
  }

  std::optional<Row> checkRecord(const csv::Record& record) {
    const std::string where = "line " + std::to_string(record.line) + ": ";
    if (record.fields.size() != headerSize_) {
      fail(where + std::to_string(record.fields.size()) + " fields where the header names " +
           std::to_string(headerSize_) + ".");
      return std::nullopt;
    }
    Row row{record.line, {}};
    std::string key, alsoUnique;
    for (std::size_t c = 0; c < kind_.columns.size(); ++c) {
      const Column& column = kind_.columns[c];
      if (positions_[c] == headerSize_) {
        row.values.emplace_back(nullptr);
        continue;
      }
      const std::string& text = record.fields[positions_[c]];
      auto value = convert(column, text, cost_);
      if (auto* reason = std::get_if<std::string>(&value)) {
        fail(where + *reason);
        return std::nullopt;
      }
      row.values.push_back(std::get<storage::Value>(std::move(value)));
      if (!knownReference(column.name, row.values.back(), text, where)) return std::nullopt;
      if (isKey(column.name)) key += valueText(row.values.back()) + '\x1f';
      if (column.name == kind_.alsoUnique) alsoUnique = valueText(row.values.back());
    }
    if (const auto [first, added] = keys_.emplace(key, record.line); !added) {
      fail(where + "the same " + keyNames() + " as line " + std::to_string(first->second) + ".");
      return std::nullopt;
    }
    if (const auto [first, added] = alsoUniques_.emplace(alsoUnique, record.line); !alsoUnique.empty() && !added) {
      fail(where + "the same " + std::string(kind_.alsoUnique) + " as line " + std::to_string(first->second) + ".");
      return std::nullopt;
    }
    if (!freeOfConflicts(row, where)) return std::nullopt;
    if (kind_.mayWrite)
      if (auto refusal = kind_.mayWrite(db_, kind_, row, importer_)) {
        fail(where + *refusal);
        return std::nullopt;
      }
    return row;
  }

  bool freeOfConflicts(const Row& row, const std::string& where) {
    for (const Conflict& conflict : kind_.conflicts) {
      std::vector<storage::Value> params;
      for (std::string_view column : conflict.columns) params.push_back(valueOf(kind_, row, column));
      if (db_.query(conflict.sql, params).empty()) continue;
      std::string reason(conflict.reason);
      reason.replace(reason.find("{}"), 2, valueText(params.front()));
      fail(where + reason);
      return false;
    }
    return true;
  }

  bool knownReference(std::string_view column, const storage::Value& value, const std::string& text,
                      const std::string& where) {
    for (const Reference& reference : kind_.references) {
      if (reference.column != column) continue;
      if (db_.query(reference.sql, {value}).empty()) {
        fail(where + "there is no " + std::string(reference.what) + " " + text + "; import it first.");
        return false;
      }
    }
    return true;
  }

  bool isKey(std::string_view column) const {
    for (std::string_view k : kind_.key)
      if (k == column) return true;
    return false;
  }

  std::string keyNames() const {
    std::string names;
    for (std::string_view k : kind_.key) names += (names.empty() ? "" : " and ") + std::string(k);
    return names;
  }

  void fail(std::string reason) { reasons_.push_back(std::move(reason)); }

  const Kind& kind_;
  storage::Connection& db_;
  PasswordCost cost_;
  const UserAccount& importer_;
  std::size_t headerSize_ = 0;
  std::vector<std::size_t> positions_;  // per kind column, its place in the file; headerSize_ when left out
  std::map<std::string, int> keys_;     // key -> first line
  std::map<std::string, int> alsoUniques_;
  std::vector<std::string> reasons_;
};

std::string joinReasons(const std::vector<std::string>& reasons) {
  std::string text;
  for (std::size_t i = 0; i < reasons.size() && i < kMaxReasons; ++i) text += reasons[i] + "\n";
  if (reasons.size() > kMaxReasons) text += "and " + std::to_string(reasons.size() - kMaxReasons) + " more.\n";
  return text + "Nothing of the file was stored.";
}

bool store(storage::Connection& db, const Kind& kind, const std::vector<Row>& rows, ImportTransaction transaction,
           std::string& message) {
  const bool own = transaction == ImportTransaction::Own;
  if (own) storage::beginTransaction(db, storage::TxMode::Write);
  // Only users rows can take it, but two counts a file cost little.
  const ChainManagerKept kept(db);
  for (const Row& row : rows) {
    try {
      db.execute(kind.upsert, row.values);
      if (kind.afterRow) kind.afterRow(db, kind, row);
    } catch (const storage::Error& e) {
      if (own) db.rollback();
      message = "line " + std::to_string(row.line) + ": the database refused the row: " + e.what() +
                ".\nNothing of the file was stored.";
      return false;
    }
  }
  if (auto refusal = kept.refusal()) {
    if (own) db.rollback();
    message = *refusal + "\nNothing of the file was stored.";
    return false;
  }
  if (own) db.commit();
  return true;
}

}  // namespace

std::vector<std::string> importKinds() {
  std::vector<std::string> lines;
  for (const Kind& kind : kinds()) {
    std::string line(kind.name);
    line += ":";
    for (const Column& column : kind.columns)
      line += column.mayBeLeftOut ? " [" + std::string(column.name) + "]" : " " + std::string(column.name);
    lines.push_back(line);
  }
  return lines;
}

std::vector<std::string> importKindNames() {
  std::vector<std::string> names;
  for (const Kind& kind : kinds()) names.emplace_back(kind.name);
  return names;
}

bool importCsv(storage::Connection& db, std::string_view kindName, std::string_view text, PasswordCost cost,
               std::string& message, ImportTransaction transaction, const UserAccount& importer) {
  const Kind* kind = findKind(kindName);
  if (!kind) {
    message = "There is no kind of rows called \"" + std::string(kindName) + "\"; see storeserver --help.";
    return false;
  }
  std::string error;
  const auto records = csv::parse(text, error);
  if (!records) {
    message = error + "\nNothing of the file was stored.";
    return false;
  }
  FileCheck check(*kind, db, cost, importer);
  const std::vector<Row> rows = check.check(*records);
  if (!check.reasons().empty()) {
    message = joinReasons(check.reasons());
    return false;
  }
  if (!store(db, *kind, rows, transaction, message)) return false;
  message = std::to_string(rows.size()) + (rows.size() == 1 ? " row of " : " rows of ") + std::string(kind->name) +
            " imported.";
  return true;
}

}  // namespace storeserver
