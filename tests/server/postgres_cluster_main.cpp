// postgres_cluster start DIR | stop DIR: the cluster a test run keeps; without PostgreSQL it says why.
#include <iostream>
#include <stdexcept>

#include "postgres_cluster.h"

int main(int argc, char** argv) {
  const std::string command = argc == 3 ? argv[1] : "";
  try {
    if (command != "start" && command != "stop") throw std::invalid_argument("usage: postgres_cluster start|stop DIR");
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
