// Sellin's ticket updates through the programs' own client: each handheld
// adds a line to its ticket and then changes it, one exchange each, at 1, 8 and
// 64 handhelds. Next to them, in the same run, the raw rate of the same
// two-row write transactions (the line, and its purchaser's bought quantity)
// on the same database and settings, one writer, without the server.
//
//   ticket_bench [--seconds S] [--handhelds LIST] [--server URL --database URI|FILE]
//                [--until FILE] [--answers FILE] [--raw no]
//
// Without --server the server runs in-process on a scratch SQLite demo store;
// with it, an external server holding the demo store is measured, and
// --database names that server's database (a postgresql:// URI or an SQLite
// file) for the preparation, the raw row and the check of what each ticket
// holds. --until ends the handhelds' run early once FILE exists; --answers
// writes the time of every answered update (milliseconds since 1970, in
// order) to FILE, where a failover's seconds without answers show; --raw no
// leaves out the raw row. Exit status 0 when no update failed and every
// ticket holds what its handheld was told was saved.
#include <unistd.h>

#include <QLoggingCategory>
#include <QString>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <filesystem>
#include <latch>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "bench_scratch.h"
#include "load_stats.h"
#include "platform/profile.h"
#include "server/storage/database.h"
#include "server/store_server.h"
#include "tessel/query_strings.h"
#include "tessel/records.h"
#include "tessel/socket_message.h"
#include "wire/exchange.h"
#include "wire/money.h"

namespace {

using Clock = std::chrono::steady_clock;
using storeserver::storage::integerAt;
using storeserver::storage::textAt;
constexpr int kSession = 1002;
constexpr int kStore = 1;

struct Book {
  QString itemId, purchaser, price;
};

// Every purchaser of the session buys without limit and the session has no
// transaction maximum, so a long run is never refused; the books to sell.
std::vector<Book> prepare(storeserver::storage::Connection& db) {
  db.execute("UPDATE book_purchasers SET no_limit = 1 WHERE session_id = ?", {std::int64_t(kSession)});
  db.execute("UPDATE buying_sessions SET tran_max_qty = 0 WHERE session_id = ?", {std::int64_t(kSession)});
  std::vector<Book> books;
  for (const auto& r : db.query("SELECT item_id, purchaser, buy_price_cents FROM book_purchasers"
                                " WHERE session_id = ? ORDER BY item_id, purchaser",
                                {std::int64_t(kSession)}))
    books.push_back({QString::fromStdString(textAt(r, 0)), QString::fromStdString(textAt(r, 1)),
                     QString::fromStdString(wire::formatCents(integerAt(r, 2)))});
  return books;
}

// The same on the database named, with a sentence in error when it cannot be
// prepared or holds no demo buying session.
std::vector<Book> prepare(const std::string& database, std::string& error) {
  auto db = storeserver::storage::openDatabase(database, error);
  if (!db) return {};
  try {
    std::vector<Book> books = prepare(*db);
    if (books.empty()) error = "the database " + database + " holds no demo buying session";
    return books;
  } catch (const storeserver::storage::Error& e) {
    error = "the database " + database + " holds no demo store: " + e.what();
    return {};
  }
}

// What one handheld's ticket should hold once its run is over.
struct Sale {
  QString receipt;
  std::int64_t lines = 0;
  std::int64_t copies = 0;            // the lines' quantities summed
  std::vector<std::int64_t> answers;  // when each update was answered, ms since 1970
};

// An update is answered with an empty text when it is done.
bool update(CSocketMessage& msg, int packet, const QString& text, loadstats::Tally& tally, Sale& sale) {
  const auto sent = Clock::now();
  msg.Reset();
  msg.AddQuery(packet, text);
  const bool ok = msg.SendQuery() && !msg.IsError(0) && msg.GetResponse(0).isEmpty();
  sale.answers.push_back(
      std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::system_clock::now().time_since_epoch())
          .count());
  if (ok)
    tally.micros.push_back(
        std::uint32_t(std::chrono::duration_cast<std::chrono::microseconds>(Clock::now() - sent).count()));
  else if (tally.errors++ == 0) tally.firstError = msg.GetResponse(0).toStdString();
  return ok;
}

struct Options {
  double seconds = 3;
  std::vector<int> handhelds{1, 8, 64};
  std::string server;    // empty: an in-process server on a scratch demo store
  std::string database;  // the external server's database
  std::string until;     // a file whose making ends the run
  std::string answers;   // where the updates' answer times go
  bool raw = true;
};

bool goesOn(const Clock::time_point& deadline, const std::string& until) {
  return Clock::now() < deadline && (until.empty() || !std::filesystem::exists(until));
}

// One handheld: its own ticket (a student ID of its own), then new line and change until the deadline.
void sell(const QString& address, const std::vector<Book>& books, const QString& student, int first, std::latch& ready,
          std::latch& go, const Clock::time_point& deadline, const std::string& until, loadstats::Tally& tally,
          Sale& sale) {
  CSocketMessage msg(wire::kAppSellin);
  msg.SetServer(address);
  msg.SetCredentials(QStringLiteral("buyer"), QStringLiteral("buyer1"));
  std::string error;
  bool opened = bench::logIn(msg, error);
  if (opened) {
    msg.AddQuery(wire::kPacketQuery, CGlobalQueryStrings::GetSLTicket(QStringLiteral("buyer"), student, kStore));
    opened = msg.SendQuery() && !msg.IsError(0);
    error = msg.GetResponse(0).toStdString();
  }
  CReceiptInfo receipt;
  receipt.SetFields(msg.GetResponse(0));
  if (opened) sale.receipt = receipt.m_strReceipt;
  ready.count_down();
  go.wait();
  if (!opened) {
    tally.errors = 1;
    tally.firstError = error;
    return;
  }
  for (int line = 1; goesOn(deadline, until); ++line) {
    const Book& b = books[std::size_t(first + line) % books.size()];
    const auto text = [&](int qty) {
      return CGlobalUpdateStrings::GetSLItem(receipt.m_strReceipt, line, b.purchaser, kSession, b.itemId, qty, b.price);
    };
    if (!update(msg, wire::kPacketNewItem, text(1), tally, sale)) return;
    ++sale.lines;
    ++sale.copies;
    if (!update(msg, wire::kPacketChange, text(2), tally, sale)) return;
    ++sale.copies;
  }
}

// How many tickets do not hold what their handheld was told was saved; the
// first of them printed.
std::size_t unsavedTickets(const std::string& database, const std::vector<Sale>& sales) {
  std::string error;
  auto db = storeserver::storage::openDatabase(database, error);
  if (!db) {
    std::printf("  cannot check the tickets: %s\n", error.c_str());
    return sales.size();
  }
  std::size_t wrong = 0;
  for (const Sale& sale : sales) {
    if (sale.receipt.isEmpty()) continue;  // never opened: counted as an error already
    const auto stored = db->query("SELECT COUNT(*), COALESCE(SUM(l.qty), 0) FROM ticket_lines l"
                                  " JOIN tickets t ON t.ticket_id = l.ticket_id WHERE t.receipt = ?",
                                  {sale.receipt.toStdString()});
    const std::int64_t lines = integerAt(stored.at(0), 0), copies = integerAt(stored.at(0), 1);
    if (lines == sale.lines && copies == sale.copies) continue;
    if (wrong++ == 0)
      std::printf("  ticket %s holds %lld lines of %lld copies; the handheld was told %lld lines of %lld were saved\n",
                  sale.receipt.toStdString().c_str(), static_cast<long long>(lines), static_cast<long long>(copies),
                  static_cast<long long>(sale.lines), static_cast<long long>(sale.copies));
  }
  return wrong;
}

void writeAnswers(const std::string& path, const std::vector<Sale>& sales) {
  std::vector<std::int64_t> all;
  for (const Sale& sale : sales) all.insert(all.end(), sale.answers.begin(), sale.answers.end());
  std::sort(all.begin(), all.end());
  std::FILE* out = std::fopen(path.c_str(), "w");
  if (!out) return std::perror(path.c_str());
  for (std::int64_t ms : all) std::fprintf(out, "%lld\n", static_cast<long long>(ms));
  std::fclose(out);
}

// Returns how many updates failed, and tickets that do not hold what was saved.
std::size_t runHandhelds(const QString& address, const std::string& database, const std::vector<Book>& books,
                         int handhelds, const Options& o, int run) {
  std::vector<loadstats::Tally> tallies(static_cast<std::size_t>(handhelds));
  std::vector<Sale> sales(static_cast<std::size_t>(handhelds));
  std::latch ready(handhelds), go(1);
  Clock::time_point deadline;
  std::vector<std::thread> threads;
  for (int i = 0; i < handhelds; ++i)
    threads.emplace_back([&, i] {
      sell(address, books, QStringLiteral("BENCH-%1-%2").arg(run).arg(i), i * 7, ready, go, deadline, o.until,
           tallies[std::size_t(i)], sales[std::size_t(i)]);
    });
  const double wall = loadstats::runTogether(threads, ready, go, deadline, o.seconds);
  if (!o.answers.empty()) writeAnswers(o.answers, sales);

  loadstats::printRow("updates through the server", std::to_string(handhelds), tallies, wall);
  std::size_t errors = unsavedTickets(database, sales);
  for (const loadstats::Tally& t : tallies) errors += t.errors;
  return errors;
}

// The same rows written straight: a line and its purchaser's bought quantity,
// then the line changed and the bought quantity again, each pair one write
// transaction, on a ticket of its own.
void runRaw(const std::string& path, const std::vector<Book>& books, double seconds) {
  std::string error;
  auto db = storeserver::storage::openDatabase(path, error);
  if (!db) {
    std::fprintf(stderr, "ticket_bench: %s\n", error.c_str());
    return;
  }
  const std::int64_t ticket = integerAt(db->query("SELECT MIN(ticket_id) FROM tickets").at(0), 0);
  // Line numbers end at 99999: an earlier run's raw lines on the same
  // database are taken away first, so every run has room for its own.
  const std::int64_t first = 90000;
  {
    storeserver::storage::Transaction tx(*db, storeserver::storage::TxMode::Write);
    db->execute("DELETE FROM ticket_lines WHERE ticket_id = ? AND line >= ?", {ticket, first});
    tx.commit();
  }
  std::vector<loadstats::Tally> tally(1);
  std::vector<std::uint32_t>& micros = tally[0].micros;
  const auto start = Clock::now();
  const auto deadline = start + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(seconds));
  for (std::int64_t line = first; Clock::now() < deadline && line < first + 9999; ++line) {
    const Book& b = books[std::size_t(line) % books.size()];
    const std::vector<storeserver::storage::Value> key{std::int64_t(kSession), b.itemId.toStdString(),
                                                       b.purchaser.toStdString()};
    for (int qty = 1; qty <= 2; ++qty) {
      const auto sent = Clock::now();
      storeserver::storage::Transaction tx(*db, storeserver::storage::TxMode::Write);
      if (qty == 1)
        db->execute("INSERT INTO ticket_lines (ticket_id, line, session_id, item_id, purchaser, qty, price_cents)"
                    " VALUES (?, ?, ?, ?, ?, 1, 100)",
                    {ticket, line, key[0], key[1], key[2]});
      else db->execute("UPDATE ticket_lines SET qty = 2 WHERE ticket_id = ? AND line = ?", {ticket, line});
      db->execute("UPDATE book_purchasers SET bought_qty = bought_qty + 1"
                  " WHERE session_id = ? AND item_id = ? AND purchaser = ?",
                  key);
      tx.commit();
      micros.push_back(
          std::uint32_t(std::chrono::duration_cast<std::chrono::microseconds>(Clock::now() - sent).count()));
    }
  }
  const double wall = std::chrono::duration<double>(Clock::now() - start).count();
  loadstats::printRow("raw two-row transactions", "-", tally, wall);
}

constexpr const char* kUsage =
    "usage: ticket_bench [--seconds S] [--handhelds 1,8,64] [--server URL --database URI|FILE]\n"
    "                    [--until FILE] [--answers FILE] [--raw no]\n";

std::optional<Options> parseArguments(int argc, char** argv) {
  Options o;
  if (argc % 2 == 0) return std::nullopt;
  for (int i = 1; i + 1 < argc; i += 2) {
    const std::string name = argv[i], value = argv[i + 1];
    std::optional<std::vector<int>> counts;
    if (name == "--seconds") o.seconds = std::atof(value.c_str());
    else if (name == "--handhelds" && (counts = loadstats::parseCounts(value))) o.handhelds = *counts;
    else if (name == "--server") o.server = value;
    else if (name == "--database") o.database = value;
    else if (name == "--until") o.until = value;
    else if (name == "--answers") o.answers = value;
    else if (name == "--raw" && value == "no") o.raw = false;
    else return std::nullopt;
  }
  if (o.seconds <= 0 || o.server.empty() != o.database.empty()) return std::nullopt;
  return o;
}

}  // namespace

int main(int argc, char** argv) {
  std::signal(SIGPIPE, SIG_IGN);
  QLoggingCategory::setFilterRules(QStringLiteral("tessel.transport.info=false"));
  const std::optional<Options> o = parseArguments(argc, argv);
  if (!o) {
    std::fputs(kUsage, stderr);
    return 2;
  }
  const auto scratch = bench::makeScratch("ticket_bench");
  if (!scratch) return 1;
  std::string error;
  std::unique_ptr<storeserver::StoreServer> server;
  std::string database = o->database;
  QString address = QString::fromStdString(o->server);
  if (o->server.empty()) {
    const storeserver::ServerOptions options = bench::demoServerOptions(*scratch / "store.db");
    server = storeserver::StoreServer::start(options, error);
    database = options.databasePath;
    if (server) address = QStringLiteral("127.0.0.1:%1").arg(server->port());
  }
  const std::vector<Book> books = error.empty() ? prepare(database, error) : std::vector<Book>{};
  if (books.empty()) {
    std::fprintf(stderr, "ticket_bench: %s\n", error.c_str());
    return 1;
  }
  std::printf(
      "| what                       | handhelds |  updates | per s    |  p50 ms |  p99 ms |   max ms | errors |\n");
  std::printf("|---|---|---|---|---|---|---|---|\n");
  int run = 0;
  std::size_t errors = 0;
  for (int handhelds : o->handhelds) errors += runHandhelds(address, database, books, handhelds, *o, ++run);
  if (o->raw) runRaw(database, books, o->seconds);
  server.reset();
  std::filesystem::remove_all(*scratch);
  if (errors)
    std::printf("NOT CLEAN: %zu failed updates, or tickets not holding what their handhelds were told\n", errors);
  return errors == 0 ? 0 : 1;
}
