#pragma once
#include <optional>
#include <string>
#include <vector>

#include "server/store_server.h"

namespace storeserver {

struct CommandLine {
  ServerOptions options;
  bool help = false;
};

// Reads the arguments (without the program name). A --config file is read
// first, so options on the command line win over its lines. nullopt and a
// sentence in error for anything unknown or out of range.
std::optional<CommandLine> parseCommandLine(const std::vector<std::string>& args, std::string& error);

std::string usage();

}  // namespace storeserver
