// Load generator: simulated handhelds, each a thread with its own keep-alive
// connection, against the store server. The exchange run uses the programs' own
// CSocketMessage; the floor run sends GET /v1/health from the same threads, so
// the gap between the two is what the exchange itself costs.
#include <sys/resource.h>
#include <unistd.h>

#include <QLoggingCategory>
#include <QString>

#include <httplib.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <latch>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "load_stats.h"
#include "platform/profile.h"
#include "bench_scratch.h"
#include "demo_answers.h"
#include "server/store_server.h"
#include "tessel/socket_message.h"
#include "wire/exchange.h"

namespace {

using Clock = std::chrono::steady_clock;

constexpr const char* kUsage = R"(usage: loadgen [options]
  --handhelds LIST        handheld counts, one run each (default 1,8,64,256)
  --seconds S             timed phase of each run (default 3)
  --max-requests N        bound on the requests of one run (default 5000000)
  --server URL            an external server (http://127.0.0.1:PORT) holding the demo
                          store; without it the server runs in-process on a temporary
                          SQLite file seeded with the demo store
  --user NAME --password P  the clerk the handhelds log in as (default clerk / clerk1)
  --server-io-threads N   in-process server: I/O threads (default 0: one per core)
  --server-workers N      in-process server: database workers (default 2)
  --server-in-flight N    in-process server: its cap on queued requests (default 1024)
  --server-log FILE       in-process server: append its log lines there (default: dropped)
Exit status 0 when every run had no errors and every handheld was served.
)";

struct Options {
  std::vector<int> handhelds{1, 8, 64, 256};
  double seconds = 3;
  std::size_t maxRequests = 5'000'000;
  std::string server;
  std::string user = "clerk";
  std::string password = "clerk1";
  unsigned ioThreads = 0;
  unsigned workers = 2;
  std::size_t maxInFlight = 1024;
  std::string serverLog;
};

std::optional<Options> parseArguments(int argc, char** argv) {
  Options o;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--help" || arg == "-h") {
      std::fputs(kUsage, stdout);
      std::exit(0);
    }
    if (i + 1 >= argc) {
      std::fprintf(stderr, "loadgen: %s needs a value\n", arg.c_str());
      return std::nullopt;
    }
    const std::string value = argv[++i];
    char* end = nullptr;
    auto number = [&](double low, double high) -> std::optional<double> {
      const double v = std::strtod(value.c_str(), &end);
      if (value.empty() || *end != '\0' || !(v >= low && v <= high)) return std::nullopt;
      return v;
    };
    std::optional<double> n;
    if (arg == "--handhelds") {
      auto list = loadstats::parseCounts(value);
      if (!list) {
        std::fprintf(stderr, "loadgen: --handhelds wants counts 1..4096 separated by commas\n");
        return std::nullopt;
      }
      o.handhelds = *list;
    } else if (arg == "--seconds" && (n = number(0.01, 600))) {
      o.seconds = *n;
    } else if (arg == "--max-requests" && (n = number(1, 1e9))) {
      o.maxRequests = std::size_t(*n);
    } else if (arg == "--server-io-threads" && (n = number(0, 64))) {
      o.ioThreads = unsigned(*n);
    } else if (arg == "--server-workers" && (n = number(1, 64))) {
      o.workers = unsigned(*n);
    } else if (arg == "--server-in-flight" && (n = number(0, 1e6))) {
      o.maxInFlight = std::size_t(*n);
    } else if (arg == "--server") {
      o.server = value;
    } else if (arg == "--user") {
      o.user = value;
    } else if (arg == "--password") {
      o.password = value;
    } else if (arg == "--server-log") {
      o.serverLog = value;
    } else {
      std::fprintf(stderr, "loadgen: bad option or value: %s %s\n%s", arg.c_str(), value.c_str(), kUsage);
      return std::nullopt;
    }
  }
  return o;
}

const std::string kBusy = "The store server is busy; try again in a moment.";

struct Outcome {
  bool ok = false;
  bool busy = false;  // the server's 503: its in-flight cap was reached
  std::string error;
};

using bench::Student;

// A handheld as Stipendo runs: one CSocketMessage, logged in once, then lookups.
class ExchangeHandheld {
 public:
  ExchangeHandheld(const Options& o, const QString& address, const std::vector<Student>& students, int index)
      : m_msg(wire::kAppStipendo), m_students(students), m_next(std::size_t(index)) {
    m_msg.SetServer(address);
    m_msg.SetCredentials(QString::fromStdString(o.user), QString::fromStdString(o.password));
  }

  bool prepare(std::string& error) { return bench::logIn(m_msg, error); }

  Outcome once() {
    const Student& student = m_students[m_next++ % m_students.size()];
    m_msg.Reset();
    m_msg.AddQuery(wire::kPacketQuery, student.query);
    Outcome outcome;
    if (!m_msg.SendQuery() || m_msg.IsError(0)) {
      outcome.error = m_msg.GetResponse(0).toStdString();
      outcome.busy = outcome.error == kBusy;
      return outcome;
    }
    outcome.error = bench::aidAccountProblem(student, m_msg.GetResponse(0));
    outcome.ok = outcome.error.empty();
    return outcome;
  }

 private:
  CSocketMessage m_msg;
  const std::vector<Student>& m_students;
  std::size_t m_next;
};

// The floor: the cheapest answer the front gives, over the same kind of connection.
class FloorHandheld {
 public:
  FloorHandheld(const Options&, const QString& address, const std::vector<Student>&, int)
      : m_client(address.toStdString()) {
    // The same transport settings CSocketMessage uses.
    m_client.set_keep_alive(true);
    m_client.set_tcp_nodelay(true);
    m_client.set_connection_timeout(5);
    m_client.set_read_timeout(15);
    m_client.set_write_timeout(15);
  }

  bool prepare(std::string& error) {
    // Opens the connection before timing, as the exchange run's log-in does.
    const Outcome first = once();
    if (!first.ok) error = "first health check: " + first.error;
    return first.ok;
  }

  Outcome once() {
    Outcome outcome;
    const httplib::Result result = m_client.Get("/v1/health");
    if (!result) {
      outcome.error = httplib::to_string(result.error());
    } else if (result->status != 200 || result->body != R"({"status":"ok"})") {
      outcome.busy = result->status == 503;
      outcome.error = "HTTP " + std::to_string(result->status) + ": " + result->body.substr(0, 80);
    } else {
      outcome.ok = true;
    }
    return outcome;
  }

 private:
  httplib::Client m_client;
};

struct Run {
  const char* mode = "";
  int handhelds = 0;
  std::size_t requests = 0;  // answered correctly
  std::size_t errors = 0;
  std::size_t busy = 0;
  std::size_t unprepared = 0;  // handhelds whose log-in or first request failed
  double seconds = 0;
  double perSecond = 0;
  double p50 = 0, p99 = 0, max = 0;
  loadstats::Spread spread;
  std::string firstError;
  // CPU time per answered request in microseconds: the handheld threads', and
  // the rest of the process's (the in-process server's); -1 when unknown.
  double clientCpu = -1;
  double serverCpu = -1;
  // Share of the machine other processes used during the run, in percent:
  // figures taken while others compile are noisy; -1 when unknown.
  double othersPercent = -1;
};

double cpuMicros(int who) {
  rusage usage{};
  getrusage(who, &usage);
  auto micros = [](const timeval& t) { return double(t.tv_sec) * 1e6 + double(t.tv_usec); };
  return micros(usage.ru_utime) + micros(usage.ru_stime);
}

// CPU time the whole machine spent busy so far, in microseconds (Linux
// /proc/stat, steal included); -1 when unreadable.
double machineBusyMicros() {
  std::FILE* stat = std::fopen("/proc/stat", "r");
  if (!stat) return -1;
  unsigned long long user = 0, nice = 0, system = 0, idle = 0, iowait = 0, irq = 0, softirq = 0, steal = 0;
  const int read = std::fscanf(stat, "cpu %llu %llu %llu %llu %llu %llu %llu %llu", &user, &nice, &system, &idle,
                               &iowait, &irq, &softirq, &steal);
  std::fclose(stat);
  if (read != 8) return -1;
  return double(user + nice + system + irq + softirq + steal) * 1e6 / double(sysconf(_SC_CLK_TCK));
}

struct HandheldTally {
  std::vector<std::uint32_t> micros;
  std::size_t ok = 0;
  std::size_t errors = 0;
  std::size_t busy = 0;
  bool prepared = false;
  std::string firstError;
  Clock::time_point end;
  double cpu = 0;
};

template <class Handheld>
Run runLoad(const char* mode, const Options& o, const QString& address, const std::vector<Student>& students,
            int handhelds, bool inProcessServer) {
  const std::size_t perHandheldCap = std::max<std::size_t>(1, o.maxRequests / std::size_t(handhelds));
  std::vector<std::unique_ptr<Handheld>> devices;
  for (int i = 0; i < handhelds; ++i) devices.push_back(std::make_unique<Handheld>(o, address, students, i));
  std::vector<HandheldTally> tallies(std::size_t(handhelds), HandheldTally{});

  std::latch ready(handhelds);
  std::latch go(1);
  Clock::time_point deadline;  // written before go opens, read after
  std::vector<std::thread> threads;
  threads.reserve(std::size_t(handhelds));
  for (int i = 0; i < handhelds; ++i) {
    threads.emplace_back([&, i] {
      Handheld& device = *devices[std::size_t(i)];
      HandheldTally& tally = tallies[std::size_t(i)];
      tally.prepared = device.prepare(tally.firstError);
      ready.count_down();
      go.wait();
      if (!tally.prepared) return;
      const double cpuStart = cpuMicros(RUSAGE_THREAD);
      tally.micros.reserve(std::min<std::size_t>(perHandheldCap, 1 << 16));
      Clock::time_point now = Clock::now();
      for (std::size_t n = 0; n < perHandheldCap && now < deadline; ++n) {
        const Clock::time_point sent = now;
        const Outcome outcome = device.once();
        now = Clock::now();
        if (outcome.ok) {
          ++tally.ok;
          tally.micros.push_back(
              std::uint32_t(std::chrono::duration_cast<std::chrono::microseconds>(now - sent).count()));
        } else {
          ++tally.errors;
          if (outcome.busy) ++tally.busy;
          if (tally.firstError.empty()) tally.firstError = outcome.error;
        }
      }
      tally.end = now;
      tally.cpu = cpuMicros(RUSAGE_THREAD) - cpuStart;
    });
  }
  ready.wait();
  const Clock::time_point start = Clock::now();
  const double processCpuStart = cpuMicros(RUSAGE_SELF);
  const double machineStart = machineBusyMicros();
  deadline = start + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(o.seconds));
  go.count_down();
  for (std::thread& t : threads) t.join();
  const double processCpu = cpuMicros(RUSAGE_SELF) - processCpuStart;
  const double machine = machineBusyMicros() - machineStart;
  const double wallMicros = std::chrono::duration<double, std::micro>(Clock::now() - start).count();
  devices.clear();

  Run run;
  run.mode = mode;
  run.handhelds = handhelds;
  Clock::time_point end = start;
  std::vector<std::uint32_t> all;
  std::vector<std::size_t> counts;
  for (HandheldTally& t : tallies) {
    if (!t.prepared) {
      ++run.unprepared;
      ++run.errors;
    } else {
      end = std::max(end, t.end);
    }
    run.requests += t.ok;
    run.errors += t.errors;
    run.busy += t.busy;
    if (run.firstError.empty()) run.firstError = t.firstError;
    counts.push_back(t.ok);
    all.insert(all.end(), t.micros.begin(), t.micros.end());
  }
  run.seconds = std::chrono::duration<double>(end - start).count();
  run.perSecond = run.seconds > 0 ? double(run.requests) / run.seconds : 0;
  run.max = loadstats::maxMs(all);
  run.p50 = loadstats::percentileMs(all, 50);
  run.p99 = loadstats::percentileMs(all, 99);
  run.spread = loadstats::spread(std::move(counts));
  if (machineStart >= 0 && wallMicros > 0) {
    const double cores = std::max(1u, std::thread::hardware_concurrency());
    run.othersPercent = std::clamp((machine - processCpu) / (wallMicros * cores) * 100, 0.0, 100.0);
  }
  if (run.requests > 0) {
    double clientCpu = 0;
    for (const HandheldTally& t : tallies) clientCpu += t.cpu;
    run.clientCpu = clientCpu / double(run.requests);
    if (inProcessServer) run.serverCpu = std::max(0.0, processCpu - clientCpu) / double(run.requests);
  }
  return run;
}

std::string loadAverage() {
  double load[3] = {0, 0, 0};
  if (getloadavg(load, 3) != 3) return "unknown";
  char text[64];
  std::snprintf(text, sizeof text, "%.2f %.2f %.2f", load[0], load[1], load[2]);
  return text;
}

void printRun(const Run& r) {
  std::string slowest;
  for (std::size_t c : r.spread.slowest) {
    if (!slowest.empty()) slowest += ',';
    slowest += std::to_string(c);
  }
  auto cpu = [](double micros) { return micros < 0 ? std::string("-") : std::to_string(int(micros + 0.5)); };
  std::printf("%-8s %9d %9zu %7.2f %10.0f %8.3f %8.3f %8.3f  %14s / %-7zu %6zu %6zu %7s %7s %7s\n", r.mode, r.handhelds,
              r.requests, r.seconds, r.perSecond, r.p50, r.p99, r.max, slowest.c_str(), r.spread.median, r.errors,
              r.busy, cpu(r.clientCpu).c_str(), cpu(r.serverCpu).c_str(),
              r.othersPercent < 0 ? "-" : (std::to_string(int(r.othersPercent + 0.5)) + "%").c_str());
  if (r.unprepared) std::printf("         %zu handhelds could not start\n", r.unprepared);
  if (!r.firstError.empty()) std::printf("         first error: %s\n", r.firstError.c_str());
  std::fflush(stdout);
}

// Every handheld holds a client socket, and an in-process server its end too.
bool raiseDescriptorLimit(int handhelds, bool inProcess, std::string& error) {
  rlimit limit{};
  if (getrlimit(RLIMIT_NOFILE, &limit) != 0) return true;
  const rlim_t needed = rlim_t(handhelds) * (inProcess ? 2 : 1) + 256;
  if (limit.rlim_cur >= needed) return true;
  const rlim_t wanted =
      limit.rlim_max == RLIM_INFINITY ? needed : std::min(limit.rlim_max, std::max(needed, limit.rlim_cur));
  limit.rlim_cur = wanted;
  if (setrlimit(RLIMIT_NOFILE, &limit) != 0 || wanted < needed) {
    error = std::to_string(handhelds) + " handhelds need " + std::to_string(needed) +
            " file descriptors; the limit is " + std::to_string(limit.rlim_max) + " (ulimit -n)";
    return false;
  }
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  const auto parsed = parseArguments(argc, argv);
  if (!parsed) return 2;
  const Options o = *parsed;
  std::signal(SIGPIPE, SIG_IGN);
  // Failures are counted and the first one printed; one log line each would flood.
  QLoggingCategory::setFilterRules(QStringLiteral("tessel.transport.info=false"));

  const bool inProcess = o.server.empty();
  std::string error;
  if (!raiseDescriptorLimit(*std::max_element(o.handhelds.begin(), o.handhelds.end()), inProcess, error)) {
    std::fprintf(stderr, "loadgen: %s\n", error.c_str());
    return 2;
  }

  const auto madeScratch = bench::makeScratch("loadgen");
  if (!madeScratch) {
    std::perror("loadgen: scratch directory");
    return 2;
  }
  const std::filesystem::path scratch = *madeScratch;

  std::unique_ptr<storeserver::StoreServer> server;
  std::FILE* serverLog = nullptr;
  QString address = QString::fromStdString(o.server);
  if (inProcess) {
    storeserver::ServerOptions options = bench::demoServerOptions(scratch / "store.db");
    options.ioThreads = o.ioThreads;
    options.workerThreads = o.workers;
    options.maxInFlight = o.maxInFlight;
    // Every simulated handheld connects from this one machine.
    options.maxConnectionsPerAddress = options.maxConnections;
    if (!o.serverLog.empty()) {
      serverLog = std::fopen(o.serverLog.c_str(), "a");
      if (!serverLog) {
        std::perror(("loadgen: " + o.serverLog).c_str());
        std::filesystem::remove_all(scratch);
        return 2;
      }
      options.logSink = [serverLog](std::string_view line) {
        std::fwrite(line.data(), 1, line.size(), serverLog);
        std::fputc('\n', serverLog);
      };
    }
    server = storeserver::StoreServer::start(options, error);
    if (!server) {
      std::fprintf(stderr, "loadgen: the store server did not start: %s\n", error.c_str());
      std::filesystem::remove_all(scratch);
      return 2;
    }
    address = QStringLiteral("http://127.0.0.1:%1").arg(server->port());
    const unsigned io = o.ioThreads ? o.ioThreads : std::max(1u, std::thread::hardware_concurrency());
    std::printf("server:   in-process storeserver at %s, %u I/O threads, %u database workers, in-flight cap %zu,\n"
                "          SQLite %s, demo store\n",
                address.toStdString().c_str(), io, o.workers, o.maxInFlight, options.databasePath.c_str());
  } else {
    std::printf("server:   %s (expected to hold the demo store)\n", o.server.c_str());
  }
  std::printf("exchange: CSocketMessage, POST /v1/exchange with one aid-account query (S100200, s100200,\n"
              "          S100300 in turn, records checked); each handheld logs in as %s before timing\n",
              o.user.c_str());
  std::printf("floor:    GET /v1/health through a cpp-httplib client per handheld (keep-alive, TCP_NODELAY),\n"
              "          since CSocketMessage only POSTs exchanges; same threads, same connection settings\n");
  std::printf("cores: %u   load average at start: %s   %.2f s per run\n\n", std::thread::hardware_concurrency(),
              loadAverage().c_str(), o.seconds);
  std::printf("%-8s %9s %9s %7s %10s %8s %8s %8s  %24s %6s %6s %15s %7s\n", "", "", "", "", "", "", "", "", "", "", "",
              "CPU us/request", "machine");
  std::printf("%-8s %9s %9s %7s %10s %8s %8s %8s  %24s %6s %6s %7s %7s %7s\n", "mode", "handhelds", "requests",
              "seconds", "req/s", "p50 ms", "p99 ms", "max ms", "slowest 3 / median", "errors", "503s", "client",
              "server", "others");

  const std::vector<Student> students = bench::demoStudents();
  std::vector<std::pair<Run, Run>> runs;
  bool clean = true;
  for (int handhelds : o.handhelds) {
    Run exchange = runLoad<ExchangeHandheld>("exchange", o, address, students, handhelds, inProcess);
    printRun(exchange);
    Run floor = runLoad<FloorHandheld>("floor", o, address, students, handhelds, inProcess);
    printRun(floor);
    for (const Run* r : {&exchange, &floor})
      clean = clean && r->errors == 0 && !r->spread.slowest.empty() && r->spread.slowest.front() > 0;
    runs.emplace_back(std::move(exchange), std::move(floor));
  }

  std::printf("\n%9s %14s %12s %8s %14s %11s\n", "handhelds", "exchange req/s", "floor req/s", "ratio", "exchange p99",
              "floor p99");
  for (const auto& [exchange, floor] : runs)
    std::printf("%9d %14.0f %12.0f %8.2f %11.3f ms %8.3f ms\n", exchange.handhelds, exchange.perSecond, floor.perSecond,
                floor.perSecond > 0 ? exchange.perSecond / floor.perSecond : 0.0, exchange.p99, floor.p99);
  std::printf("\nload average at end: %s\n", loadAverage().c_str());
  if (!clean) std::printf("NOT CLEAN: a run had errors or a handheld that was never served\n");

  server.reset();
  if (serverLog) std::fclose(serverLog);
  std::error_code ignored;
  std::filesystem::remove_all(scratch, ignored);
  return clean ? 0 : 1;
}
