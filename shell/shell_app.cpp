#include "shell/shell_app.h"

#include <QTextStream>
#include <optional>

#include "platform/profile.h"
#include "shell/start_behaviour.h"
#include "tessel/tessel_config.h"

namespace {
CShellApp* s_instance = nullptr;
}  // namespace

CShellApp::CShellApp(const CProgramConstants& constants)
    : m_socketMsg(constants.appType), m_constants(constants) {
  s_instance = this;
}

CShellApp::~CShellApp() {
  if (s_instance == this) s_instance = nullptr;
}

CShellApp* CShellApp::Instance() { return s_instance; }

bool CShellApp::InitInstance() {
  platform::Profile::setRegistryKey(QStringLiteral("OST_PDA"), QStringLiteral("OST"));
  const std::unique_ptr<CStartBehaviour> behaviour = CreateStartBehaviour();
  {
    CStartDlg dlg(m_constants, *behaviour);
    dlg.runModal();
    OnStartDialogClosed();
  }
  return false;
}

namespace {

const QStringList kValueOptions = {QStringLiteral("--server"), QStringLiteral("--scanner"),
                                   QStringLiteral("--printer"), QStringLiteral("--profile-dir"),
                                   QStringLiteral("--scale")};

std::optional<double> parseScale(const QString& text) {
  bool ok = false;
  const double scale = text.toDouble(&ok);
  if (!ok || !(scale > 0 && scale <= 8)) return std::nullopt;
  return scale;
}

// What is wrong with the command line, as a sentence; empty when nothing is.
QString commandLineError(const QStringList& arguments) {
  for (int i = 1; i < arguments.size(); ++i) {
    const QString& option = arguments[i];
    if (!kValueOptions.contains(option)) return QStringLiteral("\"%1\" is not one of its options.").arg(option);
    if (i + 1 == arguments.size() || arguments[i + 1].isEmpty() || arguments[i + 1].startsWith(QLatin1String("--")))
      return QStringLiteral("%1 needs a value after it.").arg(option);
    const QString& value = arguments[++i];
    if (option == QLatin1String("--scale") && !parseScale(value))
      return QStringLiteral("--scale takes a number above 0 and at most 8, such as 2, not \"%1\".").arg(value);
  }
  return {};
}

void printUsage(QTextStream& out, const QString& programName) {
  out << "Usage: " << programName
      << " [--server URL] [--scanner PATH] [--printer DEST] [--profile-dir DIR] [--scale N]\n"
         "  --server URL       store server, e.g. http://127.0.0.1:8080\n"
         "  --scanner PATH     barcode scanner: a tty or a named pipe\n"
         "  --printer DEST     receipt printer: a device file, a file or tcp://host:port\n"
         "  --profile-dir DIR  keep the settings profile in DIR\n"
         "  --scale N          enlarge the dialogs N times, N above 0 and at most 8 (also STORE_UI_SCALE)\n";
}

}  // namespace

CommandLine ApplyCommandLine(const QStringList& arguments, const QString& programName) {
  if (arguments.contains(QStringLiteral("--help")) || arguments.contains(QStringLiteral("-h"))) {
    QTextStream out(stdout);
    printUsage(out, programName);
    return CommandLine::ShowedHelp;
  }
  if (const QString error = commandLineError(arguments); !error.isEmpty()) {
    QTextStream err(stderr);
    err << programName << ": " << error << "\n";
    printUsage(err, programName);
    return CommandLine::Refused;
  }
  for (int i = 1; i + 1 < arguments.size(); i += 2) {
    if (arguments[i] == QLatin1String("--profile-dir")) platform::Profile::useDirectory(arguments[i + 1]);
    if (arguments[i] == QLatin1String("--scale")) platform::setUiScale(*parseScale(arguments[i + 1]));
  }
  CTesselConfig::ApplyArguments(arguments);
  return CommandLine::Run;
}
