// The back office's list pages on a generated store, timed on the server's
// side (the queries a page runs): N tickets at store 1, two in three on one
// day and the rest over the six days before, each sold by one of 20,000
// students, with three lines and five audit rows; the four buyers' cash
// drawers of the day; a buying session of B more books and their purchasers;
// one ticket changed A times; a term of 2,000 course sections with 100,000
// enrolments, whose store's own list is built. Each list is read first, in
// the middle (by key) and last, and each search over the week, R times; the
// table gives the median and the slowest in milliseconds of wall time, and
// the median of the processor time this process spent.
//
//   admin_pages_bench [--tickets N] [--books B] [--trail A] [--repeat R] [--database FILE|URI]
//
// The store is generated into the database (a temporary SQLite file by
// default, or a PostgreSQL database by its postgresql:// URI) unless it holds
// it already. Exit status 0 when every page came back with the rows it should.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "server/admin/adoption_list.h"
#include "server/admin/buying_report.h"
#include "server/admin/cash_drawers.h"
#include "server/admin/shipping.h"
#include "server/admin/ticket_office.h"
#include "server/auth.h"
#include "server/demo_catalogue.h"
#include "server/demo_data.h"
#include "server/queries/tickets.h"
#include "server/storage/database.h"
#include "server/storage/migrations.h"

namespace {

namespace admin = storeserver::admin;
namespace storage = storeserver::storage;
using Clock = std::chrono::steady_clock;

constexpr std::int64_t kFirstTicket = 10'000'000;
constexpr const char* kDay = "2026-05-04";
constexpr std::int64_t kSession = 1001;
constexpr std::int64_t kDemoBooks = 300;  // the demo catalogue's, before the generated ones
constexpr std::size_t kPageSize = 50;

struct Options {
  std::int64_t tickets = 100'000;
  std::int64_t books = 60'000;
  std::int64_t trail = 20'000;
  int repeat = 20;
  std::string database;
};

// "G0000042": apart from the receipts handhelds are given.
std::string receiptSql(storage::Dialect dialect, const char* number) {
  return dialect == storage::Dialect::Sqlite ? std::string("printf('G%07d', ") + number + ")"
                                             : std::string("'G' || lpad((") + number + ")::text, 7, '0')";
}

std::string numbers(std::int64_t count) {
  return "WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < " + std::to_string(count) + ") ";
}

std::int64_t count(storage::Connection& db, const std::string& sql) {
  return storage::integerAt(db.query(sql).at(0), 0);
}

constexpr std::int64_t kStudents = 20'000;  // the term's enrolled students, who sell to the buyers too
constexpr const char* kWeekBefore[] = {"2026-04-28", "2026-04-29", "2026-04-30",
                                       "2026-05-01", "2026-05-02", "2026-05-03"};

// Two tickets in three on the day, the others over the six days before it.
std::string dayOfTicket() {
  std::string day = std::string("CASE WHEN i % 3 <> 0 THEN '") + kDay + "' ELSE CASE (i / 3) % 6";
  for (std::size_t d = 0; d < std::size(kWeekBefore); ++d)
    day += " WHEN " + std::to_string(d) + " THEN '" + kWeekBefore[d] + "'";
  return day + " END END";
}

// The four buyers' drawers of the day, with cash added and taken out; ana's
// counted and closed.
void generateDrawers(storage::Connection& db) {
  db.execute(std::string("INSERT INTO cash_drawers (store_num, day, buyer, start_cents, added_cents, taken_cents)"
                         " SELECT 1, '") +
             kDay +
             "', b.buyer, 50000, 20000, 15000 FROM (SELECT 'buyer' AS buyer UNION ALL SELECT 'ana'"
             " UNION ALL SELECT 'ben' UNION ALL SELECT 'carla') b");
  db.execute("INSERT INTO cash_drawer_moves (drawer_id, moved_at, user_name, amount_cents, reason)"
             " SELECT drawer_id, 1777900000000, 'manager', 20000, 'Change from the safe' FROM cash_drawers"
             " UNION ALL SELECT drawer_id, 1777910000000, 'manager', -15000, 'To the safe' FROM cash_drawers");
  db.execute(std::string("UPDATE cash_drawers SET counted_cents = 55000, closed_by = 'manager',"
                         " closed_at = 1777920000000, paid_cents = (SELECT COALESCE(SUM(total_cents), 0) FROM tickets"
                         " WHERE store_num = 1 AND opened_on = '") +
             kDay + "' AND buyer = 'ana' AND is_open = 0) WHERE buyer = 'ana'");
}

// Tickets of four buyers, one in fifty left open, each sold by one of the
// term's students, their lines on the demo books, and the audit rows their
// opening, lines and end leave.
void generateTickets(storage::Connection& db, const Options& o) {
  const std::string first = std::to_string(kFirstTicket);
  const std::string receipt = receiptSql(db.dialect(), "i");
  db.execute(numbers(o.tickets) +
             "INSERT INTO tickets (ticket_id, receipt, store_num, user_id, buyer, student_id, opened_on, is_open,"
             " line_count, total_cents)"
             " SELECT " +
             first + " + i, " + receipt +
             ", 1, 1, CASE i % 4 WHEN 0 THEN 'buyer' WHEN 1 THEN 'ana'"
             " WHEN 2 THEN 'ben' ELSE 'carla' END, 'BS' || (1 + i % " +
             std::to_string(kStudents) + "), " + dayOfTicket() +
             ", CASE WHEN i % 50 = 0 THEN 1 ELSE 0 END,"
             " 3, 3 * (500 + (i % 7) * 25) FROM n");
  const std::string item = db.dialect() == storage::Dialect::Sqlite
                               ? "printf('B%07d', (i * 3 + k.line) % 300)"
                               : "'B' || lpad(((i * 3 + k.line) % 300)::text, 7, '0')";
  const std::string lines = "(SELECT 1 AS line UNION ALL SELECT 2 UNION ALL SELECT 3) k";
  db.execute(numbers(o.tickets) +
             "INSERT INTO ticket_lines (ticket_id, line, session_id, item_id, purchaser, qty, price_cents)"
             " SELECT " +
             first + " + i, k.line, 1001, " + item +
             ", 'Ostrand Company', 1, 500 + (i % 7) * 25"
             " FROM n CROSS JOIN " +
             lines);
  db.execute(numbers(o.tickets) +
             "INSERT INTO ticket_audit (changed_at, user_name, receipt, line, action, old_values, new_values)"
             " SELECT i * 1000 + k.line, 'buyer', " +
             receipt +
             ", CASE WHEN k.line > 3 THEN 0 ELSE k.line END,"
             " CASE k.line WHEN 0 THEN 'open' WHEN 4 THEN 'end' ELSE 'add' END, '', 'qty=1' FROM n CROSS JOIN"
             " (SELECT 0 AS line UNION ALL SELECT 1 UNION ALL SELECT 2 UNION ALL SELECT 3 UNION ALL SELECT 4) k");
  // The changed ticket: the first one, its line changed again and again.
  db.execute(numbers(o.trail) +
             "INSERT INTO ticket_audit (changed_at, user_name, receipt, line, action, old_values, new_values)"
             " SELECT 2000000000000 + i, 'buyer', 'G0000001', 1, 'change', 'qty=1', 'qty=2' FROM n");
}

void generate(storage::Connection& db, const Options& o) {
  storage::migrate(db);
  storeserver::seedDemoData(db, storeserver::PasswordCost::minimum());
  if (count(db, "SELECT COUNT(*) FROM tickets WHERE ticket_id > " + std::to_string(kFirstTicket)) == o.tickets &&
      count(db, "SELECT COUNT(*) FROM books WHERE sku < 50000000") == kDemoBooks + o.books)
    return;
  if (count(db, "SELECT COUNT(*) FROM tickets") > 0 ||
      count(db, "SELECT COUNT(*) FROM books WHERE sku < 50000000") > kDemoBooks)
    throw std::runtime_error("the database holds another store; give a new one");
  const auto started = Clock::now();
  constexpr std::int64_t kBatch = 20'000;
  for (std::int64_t have = 0; have < o.books; have += kBatch) {
    storage::Transaction tx(db, storage::TxMode::Write);
    storeserver::addGeneratedBooks(db, kDemoBooks + have, std::min(kBatch, o.books - have));
    tx.commit();
    std::fprintf(stderr, "\r%lld books", static_cast<long long>(std::min(o.books, have + kBatch)));
  }
  storage::Transaction tx(db, storage::TxMode::Write);
  generateTickets(db, o);
  generateDrawers(db);
  tx.commit();
  db.execute("ANALYZE");  // as a live database's statistics would stand
  std::fprintf(stderr, "\nstore generated in %.0f s\n", std::chrono::duration<double>(Clock::now() - started).count());
}

constexpr const char* kTerm = "BENCH 2027";
constexpr std::int64_t kSections = 2'000;

// Sections each adopting three of the generated books (required, recommended,
// optional), 20,000 students in five sections each, the books' stock, a problem
// reported for one book in a hundred.
void generateAdoptions(storage::Connection& db, const Options& o) {
  if (count(db, std::string("SELECT COUNT(*) FROM adoption_terms WHERE term = '") + kTerm + "'") > 0) return;
  storage::Transaction tx(db, storage::TxMode::Write);
  const std::string term = std::string("'") + kTerm + "'";
  const std::string firstSku = std::to_string(storeserver::demoSku(kDemoBooks));
  const std::string adopted = std::to_string(std::min<std::int64_t>(o.books, 3'000));
  db.execute("INSERT INTO adoption_terms (term, starts_on, is_open) VALUES (" + term + ", '2027-08-23', 1)");
  db.execute(numbers(kSections) +
             "INSERT INTO adoption_sections (section_id, store_num, campus, term, department, course, section)"
             " SELECT 100000 + i, 1, 'Main', " +
             term + ", 'D' || (i % 50), 'C' || i, '01' FROM n");
  db.execute("INSERT INTO adoption_books (sku, isbn, title) SELECT 1000000 + sku, isbn13, title FROM books"
             " WHERE sku >= " +
             firstSku + " AND sku < " + firstSku + " + " + adopted);
  db.execute(numbers(kSections) +
             "INSERT INTO adoption_section_books (section_id, sku, request_type)"
             " SELECT 100000 + i, 1000000 + " +
             firstSku + " + (i * 3 + k.t) % " + adopted +
             ", k.t FROM n CROSS JOIN (SELECT 1 AS t UNION ALL SELECT 2 UNION ALL SELECT 3) k");
  db.execute(numbers(kStudents) + "INSERT INTO students (student_id, name) SELECT 'BS' || i, 'Student' FROM n");
  db.execute(numbers(kStudents) +
             "INSERT INTO adoption_enrollments (student_id, section_id)"
             " SELECT 'BS' || i, 100001 + (i * 5 + k.m) % " +
             std::to_string(kSections) +
             " FROM n CROSS JOIN (SELECT 0 AS m UNION ALL SELECT 1 UNION ALL SELECT 2 UNION ALL SELECT 3"
             " UNION ALL SELECT 4) k");
  db.execute("INSERT INTO adoption_stock (store_num, sku, new_price_cents, used_price_cents, new_on_hand, used_on_hand)"
             " SELECT 1, sku, 1000 + (sku % 50) * 100, 500, 0, sku % 7 FROM adoption_books WHERE sku > 1000000");
  db.execute("INSERT INTO adoption_problems (problem_id, store_num, term, sku, reason, comment)"
             " SELECT sku, 1, " +
             term + ", sku, 'Edition change', '' FROM adoption_books WHERE sku > 1000000 AND sku % 100 = 0");
  tx.commit();
  db.execute("ANALYZE");
}

// What the store's own list's preview reads: the term's books, their lines, and what storing them would do.
admin::ListPlan ownListPlan(storage::Connection& db) {
  std::vector<storeserver::BuyListLine> lines;
  for (const admin::AdoptedBook& book : admin::adoptedBooks(db, 1, kTerm)) {
    const admin::AdoptionLine line = admin::adoptionLine(book, {});
    if (line.apart.empty())
      lines.push_back({int(lines.size()) + 1, book.isbn, line.quantity, line.priceCents, std::nullopt, std::nullopt});
  }
  return admin::planBuyLines(db, kSession, "Ostrand Company", lines, admin::ListMerge::Merge);
}

std::string buildOwnList(storage::Connection& db, std::size_t expected) {
  const admin::ListPlan plan = ownListPlan(db);
  if (plan.rows.size() == expected) return {};
  return std::to_string(plan.rows.size()) + " books bought, expected " + std::to_string(expected);
}

// The preview, then its rows written as the page's Store does; the purchaser has as many more rows as were new.
std::string storeOwnList(storage::Connection& db, std::size_t expected) {
  const admin::ListPlan plan = ownListPlan(db);
  const auto rows = [&db] {
    return count(db, "SELECT COUNT(*) FROM book_purchasers WHERE session_id = " + std::to_string(kSession) +
                         " AND purchaser = 'Ostrand Company'");
  };
  const std::int64_t before = rows();
  admin::storeBuyList(db, kSession, "Ostrand Company", plan);
  const auto added = std::ranges::count_if(plan.rows, [](const admin::PlannedRow& r) { return !r.before; });
  if (plan.rows.size() == expected && rows() == before + added) return {};
  return std::to_string(plan.rows.size()) + " books planned, expected " + std::to_string(expected) + "; " +
         std::to_string(rows() - before) + " rows added, expected " + std::to_string(added);
}

// One kind of page: reads it, and says what is wrong with it (empty when right).
struct PageKind {
  std::string name;
  std::function<std::string(storage::Connection&)> read;
  bool writes = false;  // in a write transaction, rolled back so each run writes the same
};

std::string rowsProblem(const admin::KeyedPage& page, std::size_t expected) {
  if (page.rows.size() == expected) return {};
  return std::to_string(page.rows.size()) + " rows, expected " + std::to_string(expected);
}

// First, middle (after the key of the row at the middle) and last page of a list.
void addPaged(std::vector<PageKind>& kinds, const std::string& name, const admin::KeyedList& list,
              storage::Row middle) {
  auto page = [list](admin::PageAsk ask) {
    return [list, ask](storage::Connection& db) { return rowsProblem(admin::fetchPage(db, list, ask), kPageSize); };
  };
  kinds.push_back({name + ", first page", page({admin::PageFrom::First, {}, kPageSize})});
  kinds.push_back({name + ", middle page", page({admin::PageFrom::After, std::move(middle), kPageSize})});
  kinds.push_back({name + ", last page", page({admin::PageFrom::Last, {}, kPageSize})});
}

// The key of the row halfway through a list (found once, untimed, with an
// OFFSET), for a list whose first FROM is its own (no subquery before it).
storage::Row middleKey(storage::Connection& db, const admin::KeyedList& list) {
  std::string keys;
  for (const std::string& c : list.keyColumns) keys += (keys.empty() ? "" : ", ") + c;
  const std::string rest = list.select.substr(list.select.find(" FROM "));
  const std::int64_t rows = storage::integerAt(db.query("SELECT COUNT(*)" + rest, list.params).at(0), 0);
  const storage::Rows found = db.query(
      "SELECT " + keys + rest + " ORDER BY " + keys + " LIMIT 1 OFFSET " + std::to_string(rows / 2), list.params);
  return found.at(0);
}

std::string sizeProblem(std::size_t size, std::int64_t expected, const char* what) {
  if (std::int64_t(size) == expected) return {};
  return std::to_string(size) + " " + what + ", expected " + std::to_string(expected);
}

// The day's sheet of the store as its page reads it: four drawers, ana's
// closed, and every buyer who paid out having one.
std::string readDaySheet(storage::Connection& db) {
  const admin::DaySheet sheet = admin::daySheet(db, 1, kDay);
  const std::vector<std::string> mayOpen = admin::buyersWithoutDrawer(db, 1, sheet);
  if (sheet.drawers.size() != 4 || !sheet.withoutDrawer.empty() || sheet.totals.counted != 1)
    return std::to_string(sheet.drawers.size()) + " drawers, " + std::to_string(sheet.totals.counted) +
           " counted, expected 4 and 1";
  return std::ranges::find(mayOpen, "buyer") == mayOpen.end() ? "" : std::string("buyer may open a second drawer");
}

// One drawer's page: its figures beside its buyer's tickets, the tickets left open, its moves.
std::string readDrawer(storage::Connection& db, std::int64_t drawerId, std::int64_t openTickets) {
  const std::optional<admin::Drawer> drawer = admin::findDrawer(db, drawerId);
  if (!drawer) return "no drawer " + std::to_string(drawerId);
  const admin::DrawerLine line = admin::lineOf(db, *drawer);
  if (line.tickets.openTickets != openTickets)
    return sizeProblem(std::size_t(line.tickets.openTickets), openTickets, "open on the sheet");
  if (auto problem = sizeProblem(admin::openTicketsOf(db, *drawer).size(), openTickets, "open tickets listed");
      !problem.empty())
    return problem;
  return sizeProblem(admin::movesOf(db, drawerId).size(), 2, "moves");
}

// The drawers' pages: the day's sheet and the drawer of the buyer with tickets left open.
void addDrawers(std::vector<PageKind>& kinds, storage::Connection& db) {
  kinds.push_back({"the day's cash drawers of a store", readDaySheet});
  const std::int64_t drawer =
      count(db, std::string("SELECT drawer_id FROM cash_drawers WHERE day = '") + kDay + "' AND buyer = 'buyer'");
  const std::int64_t open = count(db, std::string("SELECT COUNT(*) FROM tickets WHERE opened_on = '") + kDay +
                                          "' AND buyer = 'buyer' AND is_open = 1 AND line_count > 0");
  kinds.push_back({"a drawer's figures, open tickets and moves",
                   [drawer, open](storage::Connection& c) { return readDrawer(c, drawer, open); }});
}

// A search over the week up to the day, one page from the first or the last,
// expecting the page full or, with fewer tickets found, all of them.
void addSearch(std::vector<PageKind>& kinds, const std::string& name, admin::TicketSearch search, admin::PageFrom from,
               std::int64_t found) {
  search.from = kWeekBefore[0];
  search.to = kDay;
  const admin::KeyedList list = admin::ticketsFound(1, search);
  const std::int64_t expected = std::min<std::int64_t>(found, kPageSize);
  kinds.push_back({"tickets of a week, " + name, [list, from, expected](storage::Connection& c) {
                     return rowsProblem(admin::fetchPage(c, list, {from, {}, kPageSize}), std::size_t(expected));
                   }});
}

std::string isbnOfItem(storage::Connection& db, const std::string& condition) {
  return storage::textAt(db.query("SELECT isbn13 FROM books WHERE " + condition).at(0), 0);
}

void addSearches(std::vector<PageKind>& kinds, storage::Connection& db) {
  admin::TicketSearch student;
  student.studentId = "BS7";
  addSearch(kinds, "by student ID", student, admin::PageFrom::First,
            count(db, "SELECT COUNT(*) FROM tickets WHERE student_id = 'BS7'"));
  admin::TicketSearch sold;
  sold.isbn13 = isbnOfItem(db, "item_id = 'B0000007'");
  const std::int64_t soldOn =
      count(db, "SELECT COUNT(DISTINCT ticket_id) FROM ticket_lines WHERE item_id = 'B0000007'");
  addSearch(kinds, "by ISBN, first page", sold, admin::PageFrom::First, soldOn);
  addSearch(kinds, "by ISBN, last page", sold, admin::PageFrom::Last, soldOn);
  admin::TicketSearch unsold;  // every ticket of the week is read, as no line has it
  unsold.isbn13 = isbnOfItem(db, "sku = " + std::to_string(storeserver::demoSku(kDemoBooks)));
  addSearch(kinds, "by an ISBN on no ticket", unsold, admin::PageFrom::First, 0);
  admin::TicketSearch leftOpen;
  leftOpen.buyer = "buyer";
  leftOpen.state = admin::TicketState::Open;
  const std::int64_t open = count(db, "SELECT COUNT(*) FROM tickets WHERE buyer = 'buyer' AND is_open = 1");
  addSearch(kinds, "by buyer and state, first page", leftOpen, admin::PageFrom::First, open);
  addSearch(kinds, "by buyer and state, last page", leftOpen, admin::PageFrom::Last, open);
}

// What the busiest purchaser's ended tickets bought: its lines, copies and books at a price.
struct Bought {
  std::string purchaser;
  std::int64_t copies = 0;
  std::int64_t rows = 0;
};

Bought boughtByBusiest(storage::Connection& db) {
  Bought b;
  b.purchaser = storage::textAt(db.query("SELECT purchaser FROM ticket_lines WHERE session_id = ?"
                                         " GROUP BY purchaser ORDER BY COUNT(*) DESC LIMIT 1",
                                         {kSession})
                                    .at(0),
                                0);
  const std::string ended = " FROM ticket_lines l JOIN tickets t ON t.ticket_id = l.ticket_id"
                            " JOIN book_purchasers p ON p.session_id = l.session_id AND p.item_id = l.item_id"
                            " AND p.purchaser = l.purchaser"
                            " WHERE l.session_id = ? AND l.purchaser = ? AND t.is_open = 0 AND t.is_voided = 0";
  b.copies = storage::integerAt(db.query("SELECT SUM(l.qty)" + ended, {kSession, b.purchaser}).at(0), 0);
  b.rows = storage::integerAt(db.query("SELECT COUNT(*) FROM (SELECT DISTINCT l.item_id, l.price_cents" + ended + ") d",
                                       {kSession, b.purchaser})
                                  .at(0),
                              0);
  return b;
}

// The shipping page's packing list and the first and last page of its labels,
// read as the page reads them.
void addShipping(std::vector<PageKind>& kinds, storage::Connection& db) {
  const Bought b = boughtByBusiest(db);
  kinds.push_back({"a purchaser's packing list", [b](storage::Connection& c) {
                     admin::purchasersOf(c, kSession);
                     const admin::PackingList list = admin::packingList(c, kSession, b.purchaser);
                     if (list.copies != b.copies) return sizeProblem(std::size_t(list.copies), b.copies, "copies");
                     return sizeProblem(list.rows.size(), b.rows, "books at a price");
                   }});
  const admin::KeyedList lines = admin::labelLines(kSession, b.purchaser);
  for (const admin::PageFrom from : {admin::PageFrom::First, admin::PageFrom::Last})
    kinds.push_back(
        {std::string("a purchaser's labels, ") + (from == admin::PageFrom::First ? "first" : "last") + " page",
         [b, lines, from](storage::Connection& c) {
           admin::purchasersOf(c, kSession);
           const admin::KeyedPage page = admin::fetchPage(c, lines, {from, {}, admin::kLabelLinesPerPage});
           const admin::LabelPage sheet = admin::labelsOf(c, kSession, b.purchaser, page.rows);
           if (sheet.total != b.copies) return sizeProblem(std::size_t(sheet.total), b.copies, "labels");
           return sizeProblem(sheet.labels.size(), std::int64_t(admin::kLabelLinesPerPage), "labels on the page");
         }});
}

std::vector<PageKind> pageKinds(storage::Connection& db, const Options& o) {
  std::vector<PageKind> kinds;
  admin::TicketSearch ofDay;
  ofDay.from = ofDay.to = kDay;
  const admin::KeyedList day = admin::ticketsFound(1, ofDay);
  addPaged(kinds, "a day's tickets", day, {kFirstTicket + o.tickets / 2});
  kinds.push_back({"a day's cash per buyer", [](storage::Connection& c) {
                     return admin::cashPerBuyer(c, 1, kDay, kDay).size() == 4 ? "" : std::string("not four buyers");
                   }});
  const admin::KeyedList books = admin::purchaseList(kSession, {});
  addPaged(kinds, "a session's books", books, middleKey(db, books));
  const admin::PurchaseFilter ostrand{"Ostrand Company", ""};
  const admin::KeyedList own = admin::purchaseList(kSession, ostrand);
  addPaged(kinds, "a session's books of one purchaser", own, middleKey(db, own));
  kinds.push_back({"a session's totals and filter choices", [ostrand](storage::Connection& c) {
                     const bool ok = admin::totalsOf(c, kSession, ostrand).rows > 0 &&
                                     !admin::purchasersOf(c, kSession).empty() &&
                                     !admin::statusesOf(c, kSession).empty();
                     return ok ? "" : std::string("no totals or filter choices");
                   }});
  const admin::KeyedList trail = admin::auditOf("G0000001");
  addPaged(kinds, "a ticket's audit", trail, middleKey(db, trail));
  kinds.push_back({"a ticket's lines and receipt", [](storage::Connection& c) {
                     const auto ticket = storeserver::queries::tickets::find(c, "G0000002");
                     if (!ticket || admin::linesOf(c, ticket->id).size() != 3) return std::string("no ticket G0000002");
                     return storeserver::queries::tickets::receiptPrintout(c, *ticket, true).empty()
                                ? std::string("an empty receipt")
                                : std::string();
                   }});
  const auto bought =
      std::size_t(count(db, "SELECT COUNT(*) FROM adoption_books WHERE sku > 1000000 AND sku % 100 <> 0"));
  kinds.push_back({"the store's own list of a 2,000-section term",
                   [bought](storage::Connection& c) { return buildOwnList(c, bought); }});
  kinds.push_back({"the store's own list of that term, stored",
                   [bought](storage::Connection& c) { return storeOwnList(c, bought); }, true});
  addDrawers(kinds, db);
  addSearches(kinds, db);
  addShipping(kinds, db);
  return kinds;
}

// This thread's processor time: what a page costs SQLite in the server's own
// process whatever else the machine runs (PostgreSQL's work is in its own).
double threadCpuMs() {
  timespec t{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
  return double(t.tv_sec) * 1e3 + double(t.tv_nsec) / 1e6;
}

std::string loadAverage() {
  std::ifstream in("/proc/loadavg");
  std::string one, five, fifteen;
  in >> one >> five >> fifteen;
  return one + " " + five + " " + fifteen;
}

std::optional<Options> parseArguments(int argc, char** argv) {
  Options o;
  for (int i = 1; i + 1 < argc; i += 2) {
    const std::string name = argv[i], value = argv[i + 1];
    if (name == "--tickets") o.tickets = std::stoll(value);
    else if (name == "--books") o.books = std::stoll(value);
    else if (name == "--trail") o.trail = std::stoll(value);
    else if (name == "--repeat") o.repeat = std::stoi(value);
    else if (name == "--database") o.database = value;
    else return std::nullopt;
  }
  // Enough rows for a first, a middle and a last page apart.
  const auto pages = std::int64_t(3 * kPageSize);
  if (argc % 2 == 0 || o.tickets < pages || o.books < pages || o.trail < pages || o.repeat < 1) return std::nullopt;
  return o;
}

}  // namespace

int main(int argc, char** argv) {
  std::optional<Options> o;
  try {
    o = parseArguments(argc, argv);
  } catch (const std::exception&) {
  }
  if (!o) {
    std::fprintf(stderr, "usage: admin_pages_bench [--tickets N>=150] [--books B>=150] [--trail A>=150] [--repeat R]"
                         " [--database FILE|URI]\n");
    return 2;
  }
  std::string scratch;
  if (o->database.empty()) {
    scratch = "/tmp/admin_pages_bench-XXXXXX";
    if (!mkdtemp(scratch.data())) return 1;
    o->database = scratch + "/store.db";
  }
  int failures = 0;
  try {
    std::string error;
    const auto db = storage::openDatabase(o->database, error);
    if (!db) throw std::runtime_error(error);
    generate(*db, *o);
    generateAdoptions(*db, *o);
    std::printf("%s, %lld tickets, %lld more books, a trail of %lld changes; load average %s\n",
                storage::describeDatabase(o->database).c_str(), static_cast<long long>(o->tickets),
                static_cast<long long>(o->books), static_cast<long long>(o->trail), loadAverage().c_str());
    std::printf("%-50s %10s %10s %10s\n", "page", "median ms", "max ms", "cpu ms");
    for (const PageKind& kind : pageKinds(*db, *o)) {
      std::vector<double> ms, cpu;
      std::string problem;
      for (int i = 0; i < o->repeat && problem.empty(); ++i) {
        const auto start = Clock::now();
        const double cpuStart = threadCpuMs();
        storage::Transaction transaction(*db, kind.writes ? storage::TxMode::Write : storage::TxMode::Read);
        problem = kind.read(*db);
        if (!kind.writes) transaction.commit();
        ms.push_back(std::chrono::duration<double, std::milli>(Clock::now() - start).count());
        cpu.push_back(threadCpuMs() - cpuStart);
      }
      std::ranges::sort(ms);
      std::ranges::sort(cpu);
      std::printf("%-50s %10.2f %10.2f %10.2f%s\n", kind.name.c_str(), ms[ms.size() / 2], ms.back(),
                  cpu[cpu.size() / 2], problem.empty() ? "" : ("  WRONG: " + problem).c_str());
      failures += problem.empty() ? 0 : 1;
    }
    std::printf("load average after: %s\n", loadAverage().c_str());
  } catch (const std::exception& e) {
    std::fprintf(stderr, "admin_pages_bench: %s\n", e.what());
    failures += 1;
  }
  if (!scratch.empty()) std::filesystem::remove_all(scratch);
  return failures == 0 ? 0 : 1;
}
