// Sellin's item detail query on a large generated catalogue, through the
// programs' own client, next to Stipendo's aid-account query in the same run:
// an ISBN, a SKU and a title-word search, each answered with page 1.
//
//   catalogue_bench [--books N] [--seconds S] [--handhelds LIST] [--database FILE]
//
// The catalogue is generated into FILE (a temporary one by default) unless it
// already holds N books; a kept FILE saves the generation on the next run.
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

// One query text per request, chosen from the request's number.
struct Mode {
  const char* name;
  std::function<QString(std::uint64_t)> query;
  bool refused = false;  // the expected answer is the server's refusal
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

std::vector<Mode> modes(std::int64_t books) {
  static const char* const kStudents[] = {"S100200", "s100200", "S100300"};
  const auto book = [books](std::uint64_t n) { return std::int64_t(n * 2654435761u % std::uint64_t(books)); };
  return {
      {"aid account", [](std::uint64_t n) { return CGlobalQueryStrings::GetStipendo(kStudents[n % 3]); }},
      {"item ISBN",
       [book](std::uint64_t n) {
         return CGlobalQueryStrings::GetSLItemDetail(kSession, QString::fromStdString(storeserver::demoIsbn13(book(n))),
                                                     kStore);
       }},
      {"item SKU",
       [book](std::uint64_t n) {
         return CGlobalQueryStrings::GetSLItemDetail(kSession, QString::number(storeserver::demoSku(book(n))), kStore);
       }},
      {"item title words",
       [book, books](std::uint64_t n) {
         // Books past the demo store's 300 carry a series name.
         const std::int64_t b = 300 + book(n) % std::max<std::int64_t>(1, books - 300);
         return CGlobalQueryStrings::GetSLItemDetail(kSession, titleWords(b), kStore);
       }},
      {"broad words",
       [](std::uint64_t) { return CGlobalQueryStrings::GetSLItemDetail(kSession, QStringLiteral("principles micro"), kStore); },
       true},
  };
}

bool fillCatalogue(const std::string& path, std::int64_t books, std::string& error) {
  auto db = storeserver::storage::openSqlite(path, error);
  if (!db) return false;
  std::int64_t have = storeserver::storage::integerAt(db->query("SELECT COUNT(*) FROM books WHERE sku < 50000000").at(0), 0);
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


void runMode(const Mode& mode, int handhelds, double seconds, const QString& address) {
  std::vector<loadstats::Tally> tallies(static_cast<std::size_t>(handhelds));
  std::latch ready(handhelds);
  std::latch go(1);
  Clock::time_point deadline;
  std::vector<std::thread> threads;
  for (int i = 0; i < handhelds; ++i)
    threads.emplace_back([&, i] {
      loadstats::Tally& tally = tallies[std::size_t(i)];
      CSocketMessage msg(wire::kAppSellin);
      msg.SetServer(address);
      msg.SetCredentials(QStringLiteral("buyer"), QStringLiteral("buyer1"));
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
        const bool ok = msg.SendQuery() && msg.IsError(0) == mode.refused;
        const auto micros = std::chrono::duration_cast<std::chrono::microseconds>(Clock::now() - sent).count();
        if (ok) {
          tally.micros.push_back(std::uint32_t(micros));
        } else if (tally.errors++ == 0) {
          tally.firstError = msg.GetResponse(0).toStdString();
        }
      }
    });
  const double wall = loadstats::runTogether(threads, ready, go, deadline, seconds);

  loadstats::printRow(mode.name, std::to_string(handhelds), tallies, wall);
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
  for (int handhelds : o->handhelds)
    for (const Mode& mode : modes(o->books)) runMode(mode, handhelds, o->seconds, address);
  running.reset();
  std::filesystem::remove_all(*scratch);
  return 0;
}
