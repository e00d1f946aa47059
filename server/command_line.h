#pragma once
#include <optional>
#include <string>
#include <vector>

#include "server/store_server.h"

namespace storeserver {

enum class Command {
  Serve,
  Backup,  // backup DEST: copy the database named by the options to DEST
  Import,  // import KIND FILE: load a CSV file into the database named by the options
  Copy,    // copy DEST: copy the whole store of the database named by the options into DEST
};

struct CommandLine {
  ServerOptions options;
  bool help = false;
  bool version = false;
  Command command = Command::Serve;
  std::vector<std::string> operands;  // DEST; or KIND and FILE
};

// Reads the arguments (without the program name): an optional command
// ("backup DEST", "import KIND FILE") first, then options. A --config file is read first, so
// options on the command line win over its lines. nullopt and a sentence in
// error for anything unknown or out of range.
std::optional<CommandLine> parseCommandLine(const std::vector<std::string>& args, std::string& error);

std::string usage();

}  // namespace storeserver
