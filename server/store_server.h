#pragma once
// The store server in-process, for the storeserver program, tests and benchmarks.
//
//   storeserver::ServerOptions options;
//   options.port = 0;                       // any free port
//   options.databasePath = dir / "store.db";
//   options.seedDemo = true;
//   std::string error;
//   auto server = storeserver::StoreServer::start(options, error);
//   if (!server) { report(error); }
//   ... talk to http://127.0.0.1:<server->port()> ...
//   server.reset();                         // stops cleanly
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

#include "server/admin/receipt_printers.h"
#include "server/auth.h"
#include "server/auth_pool.h"
#include "server/client_address.h"
#include "server/services.h"
#include "server/writer.h"

namespace storeserver {

struct ServerOptions {
  std::string address = "127.0.0.1";
  std::uint16_t port = 8080;  // 0: any free port; see StoreServer::port()
  std::string databasePath = "storeserver.db";
  bool seedDemo = false;  // seed the demo store when the database holds none

  unsigned ioThreads = 0;  // 0: one per core
  // Database workers, one connection each. A worker waits while the writer
  // commits its update, so they bound how many updates share one commit.
  unsigned workerThreads = 8;
  std::size_t maxInFlight = 1024;  // requests queued or running on workers; more get 503
  // Password checks (log-ins, buyer passwords) run on threads of their own,
  // one connection each, 64 MiB apiece while hashing. 0: one per core, at least 2.
  unsigned authThreads = 0;
  // Password checks waiting for those threads; more get 503 at once. 0: 32 per thread,
  // so a store's handhelds logging in together at opening wait rather than being turned away.
  std::size_t authQueue = 0;

  std::chrono::milliseconds tokenLifetime = std::chrono::hours(12);
  unsigned maxFailedLogins = 5;  // per user name; 0: no limit
  // Per client address, whatever the names; behind a trusted balancer the
  // address it forwards. 0: no limit.
  unsigned maxFailedLoginsPerAddress = 20;
  std::chrono::milliseconds failedLoginWindow = std::chrono::minutes(15);
  PasswordCost passwordCost = PasswordCost::interactive();  // for new hashes: demo users
  int itemPageSize = 10;                                    // books per page of the item chooser
  std::vector<admin::ReceiptPrinter> printers;              // for the back office's receipts

  std::size_t maxHeaderBytes = 8 * 1024;
  std::size_t maxBodyBytes = 512 * 1024;
  std::size_t maxUploadBytes = 16 * 1024 * 1024;  // a CSV file imported in the back office
  // A back-office session ends when unused this long, or this long after its log-in.
  std::chrono::milliseconds adminIdleTimeout = std::chrono::minutes(30);
  std::chrono::milliseconds adminSessionLifetime = std::chrono::hours(12);
  std::chrono::milliseconds idleTimeout = std::chrono::seconds(60);
  // Open connections; beyond them a connection is refused at once. Lowered
  // at start when the process may not open that many descriptors.
  std::size_t maxConnections = 1000;
  // Of those, open from one address other than a trusted balancer's. 0: a quarter of maxConnections.
  std::size_t maxConnectionsPerAddress = 0;
  // Load balancers (addresses or ranges) whose X-Forwarded-For header names the client.
  std::vector<AddressRange> trustedBalancers;

  // PEM certificate (chain) and private key; both empty: plain HTTP.
  std::string tlsCertificate;
  std::string tlsKey;
  // Plain HTTP on an address other than loopback carries passwords in clear,
  // so it is refused unless asked for (a TLS proxy on the same host, a closed network).
  bool allowPlainHttp = false;

  // Receives each log line (without newline); null writes to standard error.
  std::function<void(std::string_view)> logSink;

  Clock clock = std::chrono::system_clock::now;
  // Tests only: where idle connections are timed.
  std::function<std::chrono::steady_clock::time_point()> idleClock = std::chrono::steady_clock::now;

  // Tests only: gathers updates into one group of the SQLite writer.
  std::shared_ptr<WriteGroupProbe> writeGroupProbe;
  // Tests only: holds the password checks at their start.
  std::shared_ptr<AuthPoolGate> authPoolGate;
  // Tests only: every database connection the server opens passes through
  // this, to come back wrapped (see storage/faulty_connection.h).
  std::function<std::unique_ptr<storage::Connection>(std::unique_ptr<storage::Connection>)> wrapConnection;
};

// True when the options serve plain HTTP on an address other than loopback.
bool servesPlainHttpBeyondLoopback(const ServerOptions& options);

class StoreServer {
 public:
  // Opens and migrates the database, seeds it when asked, binds and serves.
  // nullptr and a sentence in error when any of that fails; never throws for it.
  static std::unique_ptr<StoreServer> start(const ServerOptions& options, std::string& error);

  ~StoreServer();  // stops: answers what is running, refuses what is queued, closes connections
  StoreServer(const StoreServer&) = delete;
  StoreServer& operator=(const StoreServer&) = delete;

  std::uint16_t port() const;
  const std::string& address() const;

  struct Impl;

 private:
  explicit StoreServer(std::unique_ptr<Impl> impl);
  std::unique_ptr<Impl> impl_;
};

}  // namespace storeserver
