#include <pthread.h>
#include <signal.h>

#include <cstdio>
#include <iostream>
#include <string>
#include <vector>

#include "server/command_line.h"
#include "server/store_server.h"

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
  std::cout << "storeserver listening on " << (v6 ? "[" : "") << address << (v6 ? "]" : "") << ":"
            << server->port() << std::endl;

  int received = 0;
  sigwait(&stopSignals, &received);
  std::cerr << "storeserver: stopping on signal " << received << "\n";
  server.reset();
  std::cerr << "storeserver: stopped\n";
  return 0;
}
