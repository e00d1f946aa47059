#pragma once
// Throwaway PostgreSQL clusters: initdb into a directory, served on 127.0.0.1 and a free port (as postgres when root).
#include <filesystem>
#include <memory>
#include <string>

#include "server/storage/database.h"

namespace servertest {

// An SQLite file or a postgresql:// URI; throws std::runtime_error when it cannot be opened.
std::unique_ptr<storeserver::storage::Connection> openDatabase(const std::string& database);

class PostgresCluster {
 public:
  // Empty when this machine has PostgreSQL's server programs, else why not.
  static std::string unavailable();

  // In a temporary directory, removed with this object; throws std::runtime_error with the log when it cannot start.
  PostgresCluster();
  ~PostgresCluster();
  PostgresCluster(const PostgresCluster&) = delete;
  PostgresCluster& operator=(const PostgresCluster&) = delete;

  // A cluster kept in dir for a whole test run (an earlier one there stopped first); stopKept(dir) ends it.
  static void startKept(const std::filesystem::path& dir);
  static void stopKept(const std::filesystem::path& dir);
  // The cluster kept in dir, left running when the object goes; nullptr when none was started there.
  static std::unique_ptr<PostgresCluster> attachKept(const std::filesystem::path& dir);

  // Creates a database, empty or a copy of another, and gives its postgresql:// URI.
  std::string createDatabase(const std::string& name, const std::string& copyOf = "template1");
  void dropDatabase(const std::string& name);
  std::string uri(const std::string& database) const;
  // Stops the cluster as a package upgrade does (ending every session) and starts it again.
  void restart();

 private:
  PostgresCluster(std::filesystem::path dir, int port, bool kept) : dir_(std::move(dir)), port_(port), kept_(kept) {}
  void start();
  std::string pgCtl() const;                   // pg_ctl on this cluster's data
  void run(const std::string& command) const;  // as the cluster's owner; throws when it fails

  std::filesystem::path dir_;
  int port_ = 0;
  bool kept_ = false;
};

// A fresh database for one test, dropped at its end, on the cluster in $STORESERVER_TEST_POSTGRES_DIR
// or one this process starts.
class PostgresDatabase {
 public:
  enum class Contents { Empty, DemoStore };
  // The demo store with the tests' cheap password hashes; throws std::runtime_error when no cluster can start.
  explicit PostgresDatabase(Contents contents = Contents::Empty);
  ~PostgresDatabase();
  PostgresDatabase(const PostgresDatabase&) = delete;
  PostgresDatabase& operator=(const PostgresDatabase&) = delete;

  const std::string& uri() const { return uri_; }

 private:
  std::string name_;
  std::string uri_;
};

}  // namespace servertest
