// Sellin's item detail query on a large generated catalogue, through the
// programs' own client, next to Stipendo's aid-account query in the same run:
// an ISBN, a SKU and a title-word search, each answered with page 1.
//
//   catalogue_bench [--books N] [--seconds S] [--handhelds LIST] [--database FILE]
//
// The catalogue is generated into FILE (a temporary one by default) unless it
// already holds N books; a kept FILE saves the generation on the next run.
// Exit status 0 when every answer was the one its query should give.
#include <unistd.h>

#include <QLoggingCategory>
#include <QString>

#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <latch>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "load_stats.h"
#include "platform/profile.h"
#include "server/demo_catalogue.h"
#include "server/storage/sqlite_storage.h"
#include "bench_scratch.h"
#include "demo_answers.h"
#include "tessel/data_array.h"
#include "tessel/records.h"
#include "server/store_server.h"
#include "tessel/query_strings.h"
#include "tessel/socket_message.h"
#include "wire/exchange.h"

namespace {

using Clock = std::chrono::steady_clock;
constexpr int kSession = 1001;
constexpr int kStore = 1;

struct Options {
  std::int64_t books = 1'000'000;
  double seconds = 3;
  std::vector<int> handhelds{1, 8};
  std::string database;
};

// One query text per request, chosen from the request's number, and what is
// wrong with the answer (empty when it is the one the query should give).
struct Mode {
  const char* name;
  std::function<QString(std::uint64_t)> query;
  std::function<std::string(std::uint64_t, CSocketMessage&)> problem;
  int app = wire::kAppSellin;  // the program whose handheld sends it, and its user
  const char* user = "buyer";
  const char* password = "buyer1";
};

// What a clerk types for a book: the start of its subject and its series name,
// "Micro Tavolin" for "Principles of Microeconomics — Tavolin".
QString titleWords(std::int64_t book) {
  const std::string title = storeserver::demoTitle(book);
  const std::size_t dash = title.find(" \u2014 ");
  const std::string subject = title.substr(0, dash);
  const std::string last = subject.substr(subject.rfind(' ') + 1);
  return QString::fromStdString(last.substr(0, 5) + " " + title.substr(dash + 5));
}

// The books of an item detail answer, or why there are none.
std::string books(CSocketMessage& msg, CDataArray<CSLDetailInfo>& found) {
  const QString reply = msg.GetResponse(0);
  if (msg.IsError(0)) return reply.toStdString();
  found.FillFromResponse(reply);
  if (reply.isEmpty() || found.IsEmpty()) return "no book found";
  return {};
}

// Empty when every book found passes the check; otherwise the first that does not.
std::string everyBook(CSocketMessage& msg, const QString& asked,
                      const std::function<bool(const CSLDetailInfo&)>& fits) {
  CDataArray<CSLDetailInfo> found;
  if (std::string problem = books(msg, found); !problem.empty()) return asked.toStdString() + ": " + problem;
  for (int i = 0; i < found.GetSize(); ++i)
    if (!fits(found[i]))
      return asked.toStdString() + ": found " + found[i].m_strItemID.toStdString() + " \"" +
             found[i].m_strDesc.toStdString() + "\" ISBN " + found[i].m_strISBN.toStdString() + " SKU " +
             std::to_string(found[i].m_nSKU);
  return {};
}

std::vector<Mode> modes(std::int64_t books) {
  const auto students = bench::demoStudents();
  const auto book = [books](std::uint64_t n) { return std::int64_t(n * 2654435761u % std::uint64_t(books)); };
  // Books past the demo store's 300 carry a series name.
  const auto seriesBook = [book, books](std::uint64_t n) {
    return 300 + book(n) % std::max<std::int64_t>(1, books - 300);
  };
  const auto isbn = [book](std::uint64_t n) { return QString::fromStdString(storeserver::demoIsbn13(book(n))); };
  const auto sku = [book](std::uint64_t n) { return QString::number(storeserver::demoSku(book(n))); };
  const QString broad = QStringLiteral("principles micro");
  return {
      {"aid account", [students](std::uint64_t n) { return students[n % 3].query; },
       [students](std::uint64_t n, CSocketMessage& msg) {
         const bench::Student& student = students[n % 3];
         return msg.IsError(0) ? msg.GetResponse(0).toStdString()
                               : bench::aidAccountProblem(student, msg.GetResponse(0));
       },
       wire::kAppStipendo, "clerk", "clerk1"},
      {"item ISBN", [isbn](std::uint64_t n) { return CGlobalQueryStrings::GetSLItemDetail(kSession, isbn(n), kStore); },
       [isbn](std::uint64_t n, CSocketMessage& msg) {
         // A book sold new and used is two items of one ISBN.
         const QString asked = isbn(n);
         return everyBook(msg, asked, [&](const CSLDetailInfo& b) { return b.m_strISBN == asked; });
       }},
      {"item SKU", [sku](std::uint64_t n) { return CGlobalQueryStrings::GetSLItemDetail(kSession, sku(n), kStore); },
       [sku](std::uint64_t n, CSocketMessage& msg) {
         const QString asked = sku(n);
         return everyBook(msg, asked, [&](const CSLDetailInfo& b) { return QString::number(b.m_nSKU) == asked; });
       }},
      {"item title words",
       [seriesBook](std::uint64_t n) {
         return CGlobalQueryStrings::GetSLItemDetail(kSession, titleWords(seriesBook(n)), kStore);
       },
       [seriesBook](std::uint64_t n, CSocketMessage& msg) {
         const QString words = titleWords(seriesBook(n));
         const QString series = words.section(QLatin1Char(' '), 1);
         return everyBook(msg, words,
                          [&](const CSLDetailInfo& b) { return b.m_strDesc.contains(series, Qt::CaseInsensitive); });
       }},
      {"broad words", [broad](std::uint64_t) { return CGlobalQueryStrings::GetSLItemDetail(kSession, broad, kStore); },
       [broad, books](std::uint64_t, CSocketMessage& msg) {
         // The server counts only to 301 and refuses the search; one title in
         // 144 is "Principles of Microeconomics", so a small catalogue may
         // answer with the books.
         const QString reply = msg.GetResponse(0);
         if (msg.IsError(0) && reply.startsWith(QLatin1String("More than 300 books"))) return std::string();
         if (books / 144 > 300)
           return "expected the refusal \"More than 300 books ...\", got: " + reply.left(80).toStdString();
         return everyBook(msg, broad, [](const CSLDetailInfo& b) {
           return b.m_strDesc.startsWith(QLatin1String("Principles of Micro"), Qt::CaseInsensitive);
         });
       }},
  };
}

bool fillCatalogue(const std::string& path, std::int64_t books, std::string& error) {
  auto db = storeserver::storage::openSqlite(path, error);
  if (!db) return false;
  std::int64_t have =
      storeserver::storage::integerAt(db->query("SELECT COUNT(*) FROM books WHERE sku < 50000000").at(0), 0);
  const auto started = Clock::now();
  constexpr std::int64_t kBatch = 20000;
  while (have < books) {
    const std::int64_t count = std::min(kBatch, books - have);
    storeserver::storage::Transaction tx(*db, storeserver::storage::TxMode::Write);
    storeserver::addGeneratedBooks(*db, have, count);
    tx.commit();
    have += count;
    std::fprintf(stderr, "\r%lld books", static_cast<long long>(have));
  }
  std::fprintf(stderr, "\ncatalogue ready in %.0f s\n", std::chrono::duration<double>(Clock::now() - started).count());
  return true;
}

// Returns how many answers were errors or wrong.
std::size_t runMode(const Mode& mode, int handhelds, double seconds, const QString& address) {
  std::vector<loadstats::Tally> tallies(static_cast<std::size_t>(handhelds));
  std::latch ready(handhelds);
  std::latch go(1);
  Clock::time_point deadline;
  std::vector<std::thread> threads;
  for (int i = 0; i < handhelds; ++i)
    threads.emplace_back([&, i] {
      loadstats::Tally& tally = tallies[std::size_t(i)];
      CSocketMessage msg(mode.app);
      msg.SetServer(address);
      msg.SetCredentials(QString::fromLatin1(mode.user), QString::fromLatin1(mode.password));
      QString text;
      const bool in = msg.LogIn(text);
      ready.count_down();
      go.wait();
      if (!in) {
        tally.errors = 1;
        tally.firstError = text.toStdString();
        return;
      }
      for (std::uint64_t n = std::uint64_t(i) * 1000003u; Clock::now() < deadline; ++n) {
        const QString query = mode.query(n);
        const auto sent = Clock::now();
        msg.Reset();
        msg.AddQuery(wire::kPacketQuery, query);
        msg.SendQuery();
        const auto micros = std::chrono::duration_cast<std::chrono::microseconds>(Clock::now() - sent).count();
        std::string problem = mode.problem(n, msg);
        if (problem.empty()) {
          tally.micros.push_back(std::uint32_t(micros));
        } else if (tally.errors++ == 0) {
          tally.firstError = std::move(problem);
        }
      }
    });
  const double wall = loadstats::runTogether(threads, ready, go, deadline, seconds);

  loadstats::printRow(mode.name, std::to_string(handhelds), tallies, wall);
  std::size_t errors = 0;
  for (const loadstats::Tally& t : tallies) errors += t.errors;
  return errors;
}

std::optional<Options> parseArguments(int argc, char** argv) {
  Options o;
  for (int i = 1; i + 1 < argc; i += 2) {
    const std::string name = argv[i];
    const std::string value = argv[i + 1];
    if (name == "--books") {
      o.books = std::stoll(value);
    } else if (name == "--seconds") {
      o.seconds = std::stod(value);
    } else if (name == "--database") {
      o.database = value;
    } else if (name == "--handhelds") {
      o.handhelds.clear();
      for (std::size_t at = 0; at < value.size();) {
        const std::size_t comma = value.find(',', at);
        o.handhelds.push_back(std::stoi(value.substr(at, comma - at)));
        at = comma == std::string::npos ? value.size() : comma + 1;
      }
    } else {
      return std::nullopt;
    }
  }
  if (argc % 2 == 0 || o.books < 1 || o.seconds <= 0 || o.handhelds.empty()) return std::nullopt;
  return o;
}

}  // namespace

int main(int argc, char** argv) {
  std::signal(SIGPIPE, SIG_IGN);
  QLoggingCategory::setFilterRules(QStringLiteral("tessel.transport.info=false"));
  std::optional<Options> o;
  try {
    o = parseArguments(argc, argv);
  } catch (const std::exception&) {
  }
  if (!o) {
    std::fprintf(stderr, "usage: catalogue_bench [--books N] [--seconds S] [--handhelds 1,8] [--database FILE]\n");
    return 2;
  }
  const auto scratch = bench::makeScratch("catalogue_bench");
  if (!scratch) return 1;
  const storeserver::ServerOptions server =
      bench::demoServerOptions(o->database.empty() ? *scratch / "store.db" : std::filesystem::path(o->database));
  std::string error;
  auto running = storeserver::StoreServer::start(server, error);
  if (!running || !fillCatalogue(server.databasePath, o->books, error)) {
    std::fprintf(stderr, "catalogue_bench: %s\n", error.c_str());
    return 1;
  }
  const QString address = QStringLiteral("127.0.0.1:%1").arg(running->port());
  std::printf("| query            | handhelds | requests |    req/s |  p50 ms |  p99 ms |   max ms | errors |\n");
  std::printf("|---|---|---|---|---|---|---|---|\n");
  std::size_t errors = 0;
  for (int handhelds : o->handhelds)
    for (const Mode& mode : modes(o->books)) errors += runMode(mode, handhelds, o->seconds, address);
  running.reset();
  std::filesystem::remove_all(*scratch);
  if (errors) std::printf("NOT CLEAN: %zu answers were errors or not what the query should give\n", errors);
  return errors == 0 ? 0 : 1;
}
