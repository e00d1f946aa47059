#include "tessel/tessel_config.h"

#include <optional>

#include "platform/profile.h"

namespace {

struct Overrides {
  std::optional<QString> server;
  std::optional<QString> scanner;
  std::optional<QString> printer;
};

// A function-local object: the application object that reads it is static too.
Overrides& overrides() {
  static Overrides values;
  return values;
}

QString profileText(const char* name) {
  return platform::Profile::readString(CTesselConfig::SectionName(), QString::fromLatin1(name)).trimmed();
}

int positiveSeconds(const char* name, int fallback) {
  const int value = platform::Profile::readInt(CTesselConfig::SectionName(), QString::fromLatin1(name), fallback);
  return value > 0 ? value : fallback;
}

}  // namespace

QString CTesselConfig::SectionName() { return QStringLiteral("Tessel"); }

void CTesselConfig::ApplyArguments(const QStringList& arguments) {
  const struct {
    QString option;
    std::optional<QString> Overrides::*member;
  } options[] = {
      {QStringLiteral("--server"), &Overrides::server},
      {QStringLiteral("--scanner"), &Overrides::scanner},
      {QStringLiteral("--printer"), &Overrides::printer},
  };
  for (qsizetype i = 0; i < arguments.size(); ++i) {
    const QString& argument = arguments[i];
    for (const auto& [option, member] : options) {
      if (argument == option) {
        // A trailing option without its value is ignored rather than guessed at.
        if (i + 1 < arguments.size()) overrides().*member = arguments[++i].trimmed();
        break;
      }
      if (argument.startsWith(option + QLatin1Char('='))) {
        overrides().*member = argument.mid(option.size() + 1).trimmed();
        break;
      }
    }
  }
}

void CTesselConfig::ClearOverrides() { overrides() = {}; }

QString CTesselConfig::GetServer() {
  return overrides().server ? *overrides().server : profileText("Server");
}

int CTesselConfig::GetConnectTimeout() { return positiveSeconds("ConnectTimeout", kDefaultConnectTimeout); }

int CTesselConfig::GetReadTimeout() { return positiveSeconds("ReadTimeout", kDefaultReadTimeout); }

int CTesselConfig::GetSaveTimeout() { return positiveSeconds("SaveTimeout", kDefaultSaveTimeout); }

QString CTesselConfig::GetCAFile() { return profileText("CAFile"); }

bool CTesselConfig::GetAllowPlainHttp() {
  return platform::Profile::readInt(SectionName(), QStringLiteral("AllowPlainHttp"), 0) != 0;
}

QString CTesselConfig::GetScanner() {
  return overrides().scanner ? *overrides().scanner : profileText("Scanner");
}

QString CTesselConfig::GetPrinter() {
  return overrides().printer ? *overrides().printer : profileText("Printer");
}
