#include "shell/shell_app.h"

#include <QTextStream>

#include "platform/message_box.h"
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

bool ApplyCommandLine(const QStringList& arguments, const QString& programName) {
  if (arguments.contains(QStringLiteral("--help")) || arguments.contains(QStringLiteral("-h"))) {
    QTextStream(stdout) << "Usage: " << programName
                        << " [--server URL] [--scanner PATH] [--printer DEST] [--profile-dir DIR] [--scale N]\n"
                           "  --server URL       store server, e.g. http://127.0.0.1:8080\n"
                           "  --scanner PATH     barcode scanner: a tty or a named pipe\n"
                           "  --printer DEST     receipt printer: a device file, a file or tcp://host:port\n"
                           "  --profile-dir DIR  keep the settings profile in DIR\n"
                           "  --scale N          enlarge the dialogs N times (also STORE_UI_SCALE)\n";
    return false;
  }
  for (int i = 0; i + 1 < arguments.size(); ++i) {
    if (arguments[i] == QLatin1String("--profile-dir")) platform::Profile::useDirectory(arguments[i + 1]);
    if (arguments[i] == QLatin1String("--scale")) {
      bool ok = false;
      const double scale = arguments[i + 1].toDouble(&ok);
      if (ok && scale > 0 && scale <= 8) platform::setUiScale(scale);
    }
  }
  CTesselConfig::ApplyArguments(arguments);
  return true;
}

void ShowFeatureNotReady(QWidget* parent, const QString& feature) {
  platform::messageBox(parent, feature + QStringLiteral(" is not available in this version yet."), feature,
                       platform::MessageIcon::Information, platform::MessageButtons::Ok);
}
