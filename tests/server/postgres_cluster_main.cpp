// postgres_cluster start DIR | stop DIR: the cluster a test run keeps; without PostgreSQL it says why.
// postgres_cluster database DIR NAME | drop DIR NAME: an empty database on it, its address printed, for a
// program under test; and its end.
#include <iostream>
#include <stdexcept>

#include "postgres_cluster.h"

namespace {

int onKeptCluster(const std::string& command, const std::string& dir, const std::string& name) {
  const auto cluster = servertest::PostgresCluster::attachKept(dir);
  if (!cluster) {
    std::cerr << "No PostgreSQL cluster is kept in " << dir << "\n";
    return 2;
  }
  if (command == "database") std::cout << cluster->createDatabase(name) << "\n";
  else cluster->dropDatabase(name);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  const std::string command = argc >= 3 ? argv[1] : "";
  try {
    if ((command == "database" || command == "drop") && argc == 4) return onKeptCluster(command, argv[2], argv[3]);
    if ((command != "start" && command != "stop") || argc != 3)
      throw std::invalid_argument("usage: postgres_cluster start|stop DIR, or database|drop DIR NAME");
    const std::string why = servertest::PostgresCluster::unavailable();
    if (command == "start" && why.empty()) {
      servertest::PostgresCluster::startKept(argv[2]);
    } else {
      servertest::PostgresCluster::stopKept(argv[2]);  // also one an earlier run left there
      if (command == "start") std::cout << "No PostgreSQL cluster: " << why << "\n";
    }
  } catch (const std::exception& e) {
    std::cerr << e.what() << "\n";
    return 1;
  }
  return 0;
}
