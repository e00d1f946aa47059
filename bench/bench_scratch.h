#pragma once
// What each benchmark run sets up first: a scratch folder that holds its
// handhelds' profile (so the user's own settings play no part) and its
// database, and the options of a demo store server there.
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <string>

#include <QString>

#include "platform/profile.h"
#include "server/store_server.h"

namespace bench {

// A fresh folder /tmp/RUN-XXXXXX with the handhelds' profile in it; nullopt
// when it cannot be made.
inline std::optional<std::filesystem::path> makeScratch(const std::string& run) {
  std::string folder = "/tmp/" + run + "-XXXXXX";
  if (!mkdtemp(folder.data())) return std::nullopt;
  platform::Profile::useDirectory(QString::fromStdString(folder));
  platform::Profile::setRegistryKey(QStringLiteral("OST_PDA"), QString::fromStdString(run));
  return std::filesystem::path(folder);
}

// A demo store on a free port; log-ins are set up outside the timed phase, and
// a cheap hash keeps hundreds of them quick. Nothing is logged.
inline storeserver::ServerOptions demoServerOptions(const std::filesystem::path& database) {
  storeserver::ServerOptions options;
  options.port = 0;
  options.databasePath = database.string();
  options.seedDemo = true;
  options.passwordCost = storeserver::PasswordCost::minimum();
  options.logSink = [](std::string_view) {};
  return options;
}

}  // namespace bench
