#include "tessel/program_options.h"

#include <algorithm>

namespace {

struct ValueOption {
  QLatin1StringView name;
  std::optional<QString> ProgramOptions::*member;
};

constexpr ValueOption kTextOptions[] = {
    {QLatin1StringView("server"), &ProgramOptions::server},
    {QLatin1StringView("scanner"), &ProgramOptions::scanner},
    {QLatin1StringView("printer"), &ProgramOptions::printer},
    {QLatin1StringView("profile-dir"), &ProgramOptions::profileDirectory},
};

bool asksForHelp(const QStringList& arguments) {
  return arguments.contains(QLatin1String("--help")) || arguments.contains(QLatin1String("-h"));
}

bool isKnown(const QString& name) {
  return name == QLatin1String("scale") ||
         std::ranges::any_of(kTextOptions, [&](const ValueOption& option) { return option.name == name; });
}

// Stores one option's value; a sentence naming what is wrong, or empty.
QString apply(ProgramOptions& options, const QString& name, const QString& value) {
  if (name == QLatin1String("scale")) {
    bool ok = false;
    const double scale = value.toDouble(&ok);
    if (!ok || !(scale > 0 && scale <= 8))
      return QStringLiteral("\"scale\" must be a number above 0 and at most 8, such as 2, not \"%1\".").arg(value);
    options.scale = scale;
    return {};
  }
  for (const auto& [optionName, member] : kTextOptions) {
    if (optionName == name) options.*member = value.trimmed();
  }
  return {};
}

}  // namespace

std::optional<ProgramOptions> parseProgramOptions(const QStringList& arguments, QString& error) {
  ProgramOptions options;
  if (asksForHelp(arguments)) {
    options.help = true;
    return options;
  }
  for (qsizetype i = 1; i < arguments.size(); ++i) {
    const QString& argument = arguments[i];
    if (!argument.startsWith(QLatin1String("--"))) {
      error = QStringLiteral("Unexpected argument \"%1\".").arg(argument);
      return std::nullopt;
    }
    QString name = argument.mid(2);
    std::optional<QString> value;
    if (const qsizetype equals = name.indexOf(QLatin1Char('=')); equals >= 0) {
      value = name.mid(equals + 1);
      name.truncate(equals);
    }
    if (!isKnown(name)) {
      error = QStringLiteral("Unknown option \"%1\".").arg(name);
      return std::nullopt;
    }
    if (!value && i + 1 < arguments.size() && !arguments[i + 1].startsWith(QLatin1String("--"))) value = arguments[++i];
    if (!value || value->trimmed().isEmpty()) {
      error = QStringLiteral("Option --%1 needs a value.").arg(name);
      return std::nullopt;
    }
    if (error = apply(options, name, *value); !error.isEmpty()) return std::nullopt;
  }
  return options;
}
