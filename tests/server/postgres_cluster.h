#pragma once
// A throwaway PostgreSQL cluster for one test: initdb into a temporary
// directory, the server on 127.0.0.1 and a free port, stopped and removed at
// the end. As root the cluster runs as the postgres user, as PostgreSQL asks.
#include <filesystem>
#include <string>

namespace servertest {

class PostgresCluster {
 public:
  // Empty when this machine has PostgreSQL's server programs, else why not.
  static std::string unavailable();

  PostgresCluster();  // throws std::runtime_error with the server's log when it cannot start
  ~PostgresCluster();
  PostgresCluster(const PostgresCluster&) = delete;
  PostgresCluster& operator=(const PostgresCluster&) = delete;

  // Creates an empty database and gives its postgresql:// URI.
  std::string createDatabase(const std::string& name);

 private:
  std::string uri(const std::string& database) const;
  void run(const std::string& command) const;  // as the cluster's owner; throws when it fails

  std::filesystem::path dir_;
  int port_ = 0;
};

}  // namespace servertest
