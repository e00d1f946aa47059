#include <pthread.h>
#include <signal.h>

#include <cstdio>
#include <fstream>
#include <sstream>
#include <iostream>
#include <string>
#include <vector>

#include "server/backup.h"
#include "server/command_line.h"
#include "server/copy.h"
#include "server/import/importer.h"
#include "server/storage/migrations.h"
#include "server/storage/database.h"
#include "server/store_server.h"

namespace {

int backup(const storeserver::ServerOptions& options, const std::string& destination) {
  std::string error;
  if (!storeserver::backupDatabase(options.databasePath, destination, error)) {
    std::cerr << "storeserver: " << error << "\n";
    return 1;
  }
  std::cout << "storeserver: backed up " << options.databasePath << " to " << destination << std::endl;
  return 0;
}

int import(const storeserver::ServerOptions& options, const std::string& kind, const std::string& file) {
  std::ifstream in(file, std::ios::binary);
  std::stringstream text;
  if (!in || !(text << in.rdbuf())) {
    std::cerr << "storeserver: Cannot read the file " << file << ".\n";
    return 1;
  }
  std::string message;
  if (!storeserver::initialiseCrypto()) message = "The password library could not be initialised.";
  auto db = message.empty() ? storeserver::storage::openDatabase(options.databasePath, message) : nullptr;
  try {
    if (db) storeserver::storage::migrate(*db);
    if (db && storeserver::importCsv(*db, kind, text.str(), storeserver::PasswordCost::interactive(), message)) {
      std::cout << "storeserver: " << file << ": " << message << std::endl;
      return 0;
    }
  } catch (const std::exception& e) {
    message = "The import stopped, nothing of the file was stored: " + std::string(e.what()) + ".";
  }
  std::cerr << "storeserver: " << file << ":\n" << message << "\n";
  return 1;
}

int copy(const storeserver::ServerOptions& options, const std::string& destination) {
  namespace storage = storeserver::storage;
  const std::string from = storage::describeDatabase(options.databasePath), to = storage::describeDatabase(destination);
  std::string error;
  std::vector<storeserver::TableContents> copied;
  if (destination == options.databasePath) error = "The store cannot be copied into its own database.";
  auto source = error.empty() ? storage::openDatabase(options.databasePath, error) : nullptr;
  auto target = source ? storage::openDatabase(destination, error) : nullptr;
  if (!target || !storeserver::copyStore(*source, *target, copied, error)) {
    std::cerr << "storeserver: " << error << "\n";
    return 1;
  }
  std::int64_t rows = 0;
  for (const auto& table : copied) {
    std::cout << "  " << table.table << ": " << table.rows << " rows, digest " << table.digest.substr(0, 16) << "\n";
    rows += table.rows;
  }
  std::cout << "storeserver: copied the store from " << from << " to " << to << ": " << rows << " rows in "
            << copied.size() << " tables, each read back the same." << std::endl;
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  const std::vector<std::string> args(argv + 1, argv + argc);
  std::string error;
  const auto line = storeserver::parseCommandLine(args, error);
  if (!line) {
    std::cerr << "storeserver: " << error << "\nTry \"storeserver --help\".\n";
    return 2;
  }
  if (line->help) {
    std::cout << storeserver::usage();
    return 0;
  }
  if (line->version) {
    std::cout << "storeserver " STORESERVER_VERSION "\n";
    return 0;
  }
  if (line->command == storeserver::Command::Backup) return backup(line->options, line->operands[0]);
  if (line->command == storeserver::Command::Import) return import(line->options, line->operands[0], line->operands[1]);
  if (line->command == storeserver::Command::Copy) return copy(line->options, line->operands[0]);

  // Blocked before any thread starts, so every thread inherits the mask and
  // the signals wait for sigwait below.
  sigset_t stopSignals;
  sigemptyset(&stopSignals);
  sigaddset(&stopSignals, SIGINT);
  sigaddset(&stopSignals, SIGTERM);
  pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);
  signal(SIGPIPE, SIG_IGN);

  auto server = storeserver::StoreServer::start(line->options, error);
  if (!server) {
    std::cerr << "storeserver: " << error << "\n";
    return 1;
  }
  const std::string& address = server->address();
  const bool v6 = address.find(':') != std::string::npos;
  std::cout << "storeserver listening on " << (v6 ? "[" : "") << address << (v6 ? "]" : "") << ":" << server->port()
            << std::endl;
  if (storeserver::servesPlainHttpBeyondLoopback(line->options))
    std::cerr << "storeserver: plain HTTP on " << address
              << " (allow-plain-http): passwords cross the network unencrypted; keep a TLS proxy or a closed "
                 "network in front of it.\n";

  int received = 0;
  sigwait(&stopSignals, &received);
  std::cerr << "storeserver: stopping on signal " << received << "\n";
  server.reset();
  std::cerr << "storeserver: stopped\n";
  return 0;
}
