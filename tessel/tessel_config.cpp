#include "tessel/tessel_config.h"

#include <optional>

#include "platform/profile.h"

namespace {

// A function-local object: the application object that reads it is static too.
// Only its server, scanner and printer are read.
ProgramOptions& overrides() {
  static ProgramOptions values;
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

void CTesselConfig::Override(const ProgramOptions& options) {
  for (const auto member : {&ProgramOptions::server, &ProgramOptions::scanner, &ProgramOptions::printer}) {
    if (options.*member) overrides().*member = options.*member;
  }
}

void CTesselConfig::ClearOverrides() { overrides() = {}; }

QString CTesselConfig::GetServer() { return overrides().server ? *overrides().server : profileText("Server"); }

int CTesselConfig::GetConnectTimeout() { return positiveSeconds("ConnectTimeout", kDefaultConnectTimeout); }

int CTesselConfig::GetReadTimeout() { return positiveSeconds("ReadTimeout", kDefaultReadTimeout); }

int CTesselConfig::GetSaveTimeout() { return positiveSeconds("SaveTimeout", kDefaultSaveTimeout); }

QString CTesselConfig::GetCAFile() { return profileText("CAFile"); }

bool CTesselConfig::GetAllowPlainHttp() {
  return platform::Profile::readInt(SectionName(), QStringLiteral("AllowPlainHttp"), 0) != 0;
}

QString CTesselConfig::GetScanner() { return overrides().scanner ? *overrides().scanner : profileText("Scanner"); }

QString CTesselConfig::GetPrinter() { return overrides().printer ? *overrides().printer : profileText("Printer"); }
