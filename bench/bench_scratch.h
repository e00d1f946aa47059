#pragma once
// What each benchmark run sets up first: a scratch folder that holds its
// handhelds' profile (so the user's own settings play no part) and its
// database, the options of a demo store server there, and the handhelds' log-in.
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <string>
#include <thread>

#include <QString>

#include "platform/profile.h"
#include "server/store_server.h"
#include "tessel/socket_message.h"
#include "tessel/tessel_config.h"

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

// Logs a handheld in before timing. Many handhelds logging in at once are more
// than the server's password checks take (some 150 ms each at an external
// server's interactive cost, a few at a time), so a log-in the server is too
// busy for, or does not answer in time, is tried again until a deadline:
// set-up is not measured.
inline bool logIn(CSocketMessage& msg, std::string& error) {
  const QString busy = QStringLiteral("The store server is busy");
  const QString noAnswer = CSocketMessage::NoAnswerText(CTesselConfig::GetReadTimeout());
  const auto giveUp = std::chrono::steady_clock::now() + std::chrono::minutes(2);
  QString text;
  for (;;) {
    if (msg.LogIn(text)) return true;
    if ((!text.startsWith(busy) && text != noAnswer) || std::chrono::steady_clock::now() > giveUp) break;
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  error = "log-in: " + text.toStdString();
  return false;
}

}  // namespace bench
