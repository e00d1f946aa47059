#include "server/store_server.h"

#include <sys/resource.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <thread>
#include <vector>

#include <boost/asio/ip/address.hpp>

#include "server/admin/site.h"
#include "server/demo_data.h"
#include "server/http_front.h"
#include "server/services.h"
#include "server/storage/migrations.h"
#include "server/storage/database.h"
#include "server/storage/postgres_storage.h"
#include "server/worker_pool.h"
#include "wire/exchange.h"

namespace storeserver {

namespace {
constexpr std::string_view kHealthPath = "/v1/health";
constexpr std::string_view kHealthBody = R"({"status":"ok"})";

// application/json, with any parameters such as "; charset=utf-8"; the type
// itself compared without case. Anything else could come from a web page's form.
// Descriptors kept for the database, the log and the listening socket, beyond
// those of client connections.
constexpr std::size_t kReservedDescriptors = 64;

std::size_t connectionCap(std::size_t asked) {
  rlimit limit{};
  if (::getrlimit(RLIMIT_NOFILE, &limit) != 0 || limit.rlim_cur == RLIM_INFINITY) return asked;
  const std::size_t allowed =
      limit.rlim_cur > 2 * kReservedDescriptors ? limit.rlim_cur - kReservedDescriptors : kReservedDescriptors;
  return std::min(asked, allowed);
}

std::string databaseKind(const std::string& database) {
  return (storage::isPostgresUri(database) ? "PostgreSQL, " : "SQLite, file ") + storage::describeDatabase(database);
}

bool isJsonContentType(std::string_view contentType) {
  std::string_view type = contentType.substr(0, contentType.find(';'));
  while (!type.empty() && (type.back() == ' ' || type.back() == '\t')) type.remove_suffix(1);
  while (!type.empty() && (type.front() == ' ' || type.front() == '\t')) type.remove_prefix(1);
  constexpr std::string_view kJson = "application/json";
  const auto sameLetter = [](char a, char b) { return std::tolower(static_cast<unsigned char>(a)) == b; };
  return type.size() == kJson.size() && std::equal(type.begin(), type.end(), kJson.begin(), sameLetter);
}
}  // namespace

struct StoreServer::Impl {
  Impl(const ServerOptions& o, std::unique_ptr<Writer> w, std::vector<std::unique_ptr<storage::Connection>> connections,
       std::vector<std::unique_ptr<storage::Connection>> authConnections)
      : options(o),
        log(o.logSink),
        writer(std::move(w)),
        loginTries(FailureLimit{o.maxFailedLogins, o.maxFailedLoginsPerAddress, o.failedLoginWindow}),
        context{PasswordChecker(o.passwordCost), o.tokenLifetime, loginTries, log, *writer},
        pool(std::move(connections)),
        authPool(std::move(authConnections), o.authQueue, o.authPoolGate),
        site(siteEnvironment(),
             {[this](const Responder& respond, Work work) { toWorkers(respond, std::move(work), admin::refusalPage); },
              [this](const Responder& respond, Work work) {
                toPasswordChecks(respond, std::move(work), admin::refusalPage);
              }}) {
    context.itemPageSize = o.itemPageSize;
    context.clock = o.clock;
  }

  admin::SiteEnvironment siteEnvironment() {
    const bool tls = !options.tlsCertificate.empty();
    return {context,
            databaseKind(options.databasePath),
            [this] { return front ? front->openConnections() : 0; },
            exchanges,
            tls,
            options.passwordCost,
            {options.adminIdleTimeout, options.adminSessionLifetime},
            options.maxUploadBytes,
            options.maxBodyBytes,
            options.printers};
  }

  // Runs on an I/O thread. An exchange that only reads is answered here, with
  // this thread's own connection: its queries are short indexed reads, and the
  // other I/O threads go on serving meanwhile. The rest goes to the workers.
  void handle(HttpRequest&& request, Responder respond) {
    const std::string_view target = request.target;
    const std::string_view path = target.substr(0, target.find('?'));
    auto refuse = [&](int status, const std::string& sentence, const char* allow = nullptr) {
      HttpResponse response = errorResponse(status, sentence);
      if (allow) response.headers.emplace_back("Allow", allow);
      respond(std::move(response));
    };

    if (admin::isAdminPath(path)) return site.handle(std::move(request), std::move(respond));
    if (path == kHealthPath) {
      if (request.method != "GET") return refuse(405, "Use GET for " + std::string(path) + ".", "GET");
      return respond({200, std::string(kHealthBody), {}});
    }
    const bool login = path == wire::kLoginPath;
    if (!login && path != wire::kExchangePath)
      return refuse(404, "The store server has nothing at " + printable(path) + ".");
    if (request.method != "POST") return refuse(405, "Use POST for " + std::string(path) + ".", "POST");
    if (!isJsonContentType(request.contentType))
      return refuse(415, "The store server reads only JSON requests (Content-Type application/json).");
    if (login) {
      if (auto refused = refuseLoginAtOnce(request.body, request.remoteAddress, context))
        return respond(std::move(*refused));
      return toPasswordChecks(respond,
                              [this, body = std::move(request.body), address = std::move(request.remoteAddress)](
                                  storage::Connection& db) { return handleLogin(db, body, address, context); });
    }
    exchanges.count(context.clock());
    ExchangeInput input = readExchange(request.body);
    const ExchangeNeeds need = needs(input);
    if (need == ExchangeNeeds::ReadsOnly) {
      // Nothing is handed on, so nothing is copied to the heap for it.
      return respond(
          answered([&](storage::Connection& db) { return handleExchange(db, input, context, request.remoteAddress); },
                   *readConnections.at(request.ioThread)));
    }
    if (need == ExchangeNeeds::Commit && toWriter(request, input, respond)) return;
    Work work = [this, input = std::move(input), address = std::move(request.remoteAddress)](storage::Connection& db) {
      return handleExchange(db, input, context, address);
    };
    if (need == ExchangeNeeds::Commit) return toWorkers(respond, std::move(work));
    toPasswordChecks(respond, std::move(work));
  }

  using Work = std::function<HttpResponse(storage::Connection&)>;

  // The work's response, or a 500 in word's words when it threw.
  template <class Handler>
  HttpResponse answered(const Handler& work, storage::Connection& db, RefusalWording word = errorResponse) {
    try {
      return work(db);
    } catch (const std::exception& e) {
      log.write(logTime(context.clock()) + " failed problems=" + quotedText(e.what(), 512));
      return word(500, kServerFailed);
    }
  }

  // Log-ins and exchanges that check a password run entirely on the password
  // pool, with its connections; when it is full they are refused at once.
  void toPasswordChecks(const Responder& respond, Work work, RefusalWording word = errorResponse) {
    auto shared = std::make_shared<std::pair<Work, Responder>>(std::move(work), respond);
    const AuthPool::Submitted submitted = authPool.submit(WorkerPool::Job{
        [this, shared, word](storage::Connection& db) { shared->second(answered(shared->first, db, word)); },
        [shared, word] { shared->second(word(503, "The store server is stopping.")); }});
    if (submitted == AuthPool::Submitted::Stopping) return respond(word(503, "The store server is stopping."));
    if (submitted == AuthPool::Submitted::Full) {
      HttpResponse busy = word(503, "The store server is busy checking passwords; try again in a moment.");
      busy.headers.emplace_back("Retry-After", "1");
      respond(std::move(busy));
    }
  }

  // An exchange that is one update, from this I/O thread straight to a writer
  // of its own thread and back, with no worker waiting between; false when it
  // is not one or the writer runs updates on the worker's connection.
  bool toWriter(const HttpRequest& request, ExchangeInput& input, const Responder& respond) {
    if (!takesUpdateHere(input, context)) return false;
    if (!admitted(respond)) return true;
    startUpdateExchange(*readConnections.at(request.ioThread), input, context, request.remoteAddress, thisIoThread(),
                        [this, respond](HttpResponse response) {
                          --inFlight;
                          respond(std::move(response));
                        });
    return true;
  }

  // Counts a request that waits for the writer against the in-flight cap;
  // false, answered 503, beyond it.
  bool admitted(const Responder& respond, RefusalWording word = errorResponse) {
    if (inFlight.fetch_add(1) < options.maxInFlight) return true;
    --inFlight;
    respond(word(503, "The store server is busy; try again in a moment."));
    return false;
  }

  // Exchanges that wait for the writer's commit; the in-flight cap bounds how many.
  void toWorkers(const Responder& respond, Work work, RefusalWording word = errorResponse) {
    if (!admitted(respond, word)) return;
    auto shared = std::make_shared<std::pair<Work, Responder>>(std::move(work), respond);
    const bool queued = pool.submit(WorkerPool::Job{[this, shared, word](storage::Connection& db) {
                                                      HttpResponse response = answered(shared->first, db, word);
                                                      --inFlight;
                                                      shared->second(std::move(response));
                                                    },
                                                    [this, shared, word] {
                                                      --inFlight;
                                                      shared->second(word(503, "The store server is stopping."));
                                                    }});
    if (!queued) {
      --inFlight;
      respond(word(503, "The store server is stopping."));
    }
  }

  ServerOptions options;
  Logger log;
  std::unique_ptr<Writer> writer;  // outlives the workers, which wait on it
  LoginTries loginTries;
  ServiceContext context;
  ExchangeRate exchanges;
  std::atomic<std::size_t> inFlight{0};
  WorkerPool pool;
  AuthPool authPool;
  admin::Site site;
  std::vector<std::unique_ptr<storage::Connection>> readConnections;  // one per I/O thread; outlive the front
  std::unique_ptr<LoginTriesWriter> loginTriesWriter;                 // stops before the writer
  std::unique_ptr<HttpFront> front;
};

StoreServer::StoreServer(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}

StoreServer::~StoreServer() {
  // Workers first: their answers go through the front, which must still run;
  // then the writer, which has answered every update they handed it.
  impl_->front->stopAccepting();
  impl_->pool.stop();
  impl_->authPool.stop();
  impl_->loginTriesWriter->stop();
  impl_->writer->stop();
  impl_->front->stop();
}

std::uint16_t StoreServer::port() const { return impl_->front->port(); }
const std::string& StoreServer::address() const { return impl_->options.address; }

bool servesPlainHttpBeyondLoopback(const ServerOptions& options) {
  boost::system::error_code ec;
  const auto address = boost::asio::ip::make_address(options.address, ec);
  // An address that is none is refused when the server binds it.
  return !ec && !address.is_loopback() && options.tlsCertificate.empty() && options.tlsKey.empty();
}

std::unique_ptr<StoreServer> StoreServer::start(const ServerOptions& options, std::string& error) {
  if (servesPlainHttpBeyondLoopback(options) && !options.allowPlainHttp) {
    error = "Serving plain HTTP on " + options.address +
            " would send the clerks' passwords across the network unencrypted. Give --tls-cert and --tls-key, or "
            "--allow-plain-http when a TLS proxy or a closed network protects the connections.";
    return nullptr;
  }
  if (!initialiseCrypto()) {
    error = "The password library could not be initialised.";
    return nullptr;
  }
  if (options.workerThreads == 0) {
    error = "The server needs at least one database worker.";
    return nullptr;
  }
  const ConnectionOpener open = [&options](std::string& error) {
    auto connection = storage::openDatabase(options.databasePath, error);
    if (connection && options.wrapConnection) connection = options.wrapConnection(std::move(connection));
    return connection;
  };
  try {
    std::vector<std::unique_ptr<storage::Connection>> connections;
    for (unsigned i = 0; i < options.workerThreads; ++i) {
      auto connection = open(error);
      if (!connection) return nullptr;
      if (i == 0) {
        try {
          storage::migrate(*connection);
          if (options.seedDemo) seedDemoData(*connection, options.passwordCost);
        } catch (const storage::Error& e) {
          error =
              "Cannot prepare the database " + storage::describeDatabase(options.databasePath) + ": " + e.what() + ".";
          return nullptr;
        }
      }
      connections.push_back(std::move(connection));
    }

    auto writer = openWriter(connections[0]->dialect(), open, options.writeGroupProbe, error);
    if (!writer) return nullptr;

    ServerOptions resolved = options;
    if (resolved.ioThreads == 0) resolved.ioThreads = std::max(1u, std::thread::hardware_concurrency());
    if (resolved.authThreads == 0) resolved.authThreads = std::max(2u, std::thread::hardware_concurrency());
    if (resolved.authQueue == 0) resolved.authQueue = 32 * std::size_t(resolved.authThreads);
    std::vector<std::unique_ptr<storage::Connection>> authConnections;
    for (unsigned i = 0; i < resolved.authThreads; ++i) {
      authConnections.push_back(open(error));
      if (!authConnections.back()) return nullptr;
    }
    auto impl = std::make_unique<Impl>(resolved, std::move(writer), std::move(connections), std::move(authConnections));
    for (unsigned i = 0; i < resolved.ioThreads; ++i) {
      auto connection = open(error);
      if (!connection) return nullptr;
      impl->readConnections.push_back(std::move(connection));
    }
    auto triesConnection = open(error);
    if (!triesConnection) return nullptr;
    const auto nowMs = [raw = impl.get()] { return raw->context.nowMs(); };
    impl->loginTriesWriter = std::make_unique<LoginTriesWriter>(impl->loginTries, *impl->writer,
                                                                std::move(triesConnection), nowMs, impl->log);
    resolved.maxConnections = connectionCap(resolved.maxConnections);
    if (resolved.maxConnectionsPerAddress == 0)
      resolved.maxConnectionsPerAddress = std::max<std::size_t>(1, resolved.maxConnections / 4);
    FrontOptions front{resolved.address,
                       resolved.port,
                       resolved.ioThreads,
                       resolved.maxHeaderBytes,
                       resolved.maxBodyBytes,
                       resolved.idleTimeout,
                       resolved.maxConnections,
                       resolved.tlsCertificate,
                       resolved.tlsKey,
                       std::string(admin::kUploadPath),
                       resolved.maxUploadBytes,
                       admin::isAdminPath,
                       resolved.maxConnectionsPerAddress,
                       resolved.trustedBalancers,
                       resolved.idleClock};
    Impl* raw = impl.get();
    impl->front = HttpFront::start(
        front, [raw](HttpRequest&& request, Responder respond) { raw->handle(std::move(request), std::move(respond)); },
        error);
    if (!impl->front) return nullptr;  // ~Impl stops the workers
    return std::unique_ptr<StoreServer>(new StoreServer(std::move(impl)));
  } catch (const std::exception& e) {
    error = std::string("The store server could not start: ") + e.what() + ".";
    return nullptr;
  }
}

}  // namespace storeserver
