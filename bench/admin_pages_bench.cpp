// The back office's list pages on a generated store, timed on the server's
// side (the queries a page runs): a day of N tickets at store 1, each with
// three lines and five audit rows; a buying session of B more books and their
// purchasers; one ticket changed A times. Each kind of page is read first,
// in the middle (by key) and last, R times; the table gives the median and
// the slowest in milliseconds of wall time, and the median of the processor
// time this process spent.
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

#include "server/admin/buying_report.h"
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

// Tickets of four buyers, one in fifty left open, their lines on the demo
// books, and the audit rows their opening, lines and end leave.
void generateTickets(storage::Connection& db, const Options& o) {
  const std::string first = std::to_string(kFirstTicket);
  const std::string receipt = receiptSql(db.dialect(), "i");
  db.execute(numbers(o.tickets) +
             "INSERT INTO tickets (ticket_id, receipt, store_num, user_id, buyer, student_id, opened_on, is_open,"
             " line_count, total_cents)"
             " SELECT " +
             first + " + i, " + receipt +
             ", 1, 1, CASE i % 4 WHEN 0 THEN 'buyer' WHEN 1 THEN 'ana'"
             " WHEN 2 THEN 'ben' ELSE 'carla' END, '', '" +
             kDay +
             "', CASE WHEN i % 50 = 0 THEN 1 ELSE 0 END,"
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
  tx.commit();
  db.execute("ANALYZE");  // as a live database's statistics would stand
  std::fprintf(stderr, "\nstore generated in %.0f s\n", std::chrono::duration<double>(Clock::now() - started).count());
}

// One kind of page: reads it, and says what is wrong with it (empty when right).
struct PageKind {
  std::string name;
  std::function<std::string(storage::Connection&)> read;
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
        storage::Transaction read(*db, storage::TxMode::Read);
        problem = kind.read(*db);
        read.commit();
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
