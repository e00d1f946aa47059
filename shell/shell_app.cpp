#include "shell/shell_app.h"

#include <QTextStream>
#include <optional>

#include "platform/profile.h"
#include "shell/start_behaviour.h"
#include "tessel/tessel_config.h"

namespace {
CShellApp* s_instance = nullptr;
}  // namespace

CShellApp::CShellApp(const CProgramConstants& constants) : m_socketMsg(constants.appType), m_constants(constants) {
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

void printUsage(QTextStream& out, const QString& programName) {
  out << "Usage: " << programName
      << " [--server URL] [--scanner PATH] [--printer DEST] [--profile-dir DIR] [--scale N]\n"
         "  --server URL       store server, e.g. http://127.0.0.1:8080\n"
         "  --scanner PATH     barcode scanner: a tty or a named pipe\n"
         "  --printer DEST     receipt printer: a device file, a file or tcp://host:port\n"
         "  --profile-dir DIR  keep the settings profile in DIR\n"
         "  --scale N          enlarge the dialogs N times, N above 0 and at most 8 (also STORE_UI_SCALE)\n"
         "Each option also takes the form --name=value.\n";
}

}  // namespace

QStringList ArgumentsOf(int argc, char** argv) {
  QStringList arguments;
  for (int i = 0; i < argc; ++i) arguments << QString::fromLocal8Bit(argv[i]);
  return arguments;
}

CommandLine ApplyCommandLine(const QStringList& arguments, const QString& programName) {
  QString error;
  const std::optional<ProgramOptions> options = parseProgramOptions(arguments, error);
  if (!options) {
    QTextStream err(stderr);
    err << programName << ": " << error << "\n";
    printUsage(err, programName);
    return CommandLine::Refused;
  }
  if (options->help) {
    QTextStream out(stdout);
    printUsage(out, programName);
    return CommandLine::ShowedHelp;
  }
  if (options->profileDirectory) platform::Profile::useDirectory(*options->profileDirectory);
  if (options->scale) platform::setUiScale(*options->scale);
  CTesselConfig::Override(*options);
  return CommandLine::Run;
}
