#pragma once
// A program's application object on the demo server in this process, as one user, no command-line overrides.
#include <QCheckBox>
#include <functional>
#include <memory>

#include "platform/dialog.h"
#include "shell/start_dlg.h"
#include "tessel/login_dlg.h"
#include "tessel/socket_message.h"
#include "tessel/tessel_config.h"
#include "tests/support/demo_server.h"
#include "tests/support/qt_fixture.h"

namespace testsupport {

// Fills the log-in dialog and presses OK; keep ticks the keep-password box.
inline void logIn(QWidget* dialog, const QString& user, const QString& password, bool keep = false) {
  replaceText(dialog, CLogInDlg::IDC_USER, user);
  replaceText(dialog, CLogInDlg::IDC_PASSWORD, password);
  auto* keepBox = findControl<QCheckBox>(dialog, CLogInDlg::IDC_REMEMBER);
  ASSERT_NE(keepBox, nullptr) << "no keep-password box: is this the log-in dialog?";
  keepBox->setChecked(keep);
  clickControl(dialog, platform::IDOK);
}

// Queues the start dialog's feature button (closing the start dialog after) and the log-in it asks for.
inline void queueFeatureLogIn(const QString& user, const QString& password) {
  ModalDriver::whenModal([](QWidget* start) {
    clickControl(start, CStartDlg::IDC_FEATURE);
    start->close();
  });
  ModalDriver::whenModal([=](QWidget* dialog) { logIn(dialog, user, password); });
}

// App is the program's application object; Dlg the dialog runDialog runs.
template <class App, class Dlg = platform::Dialog>
class AppFixture : public QtFixture {
 protected:
  AppFixture(const char* user, const char* password) : user_(user), password_(password) {}
  void SetUp() override {
    QtFixture::SetUp();
    CTesselConfig::ClearOverrides();  // no scanner: scans come as posted messages
    ASSERT_TRUE(m_server.started());
    m_app = std::make_unique<App>();
    useServer(m_app->m_socketMsg);
  }
  void TearDown() override {
    m_app.reset();
    CTesselConfig::ClearOverrides();
    QtFixture::TearDown();
  }
  void useServer(CSocketMessage& msg) const {
    msg.SetServer(m_server.url());
    msg.SetCredentials(user_, password_);
  }
  void runDialog(const std::function<void(Dlg&)>& steps) {
    Dlg dlg;
    EXPECT_EQ(runClosing(dlg, steps), platform::IDCANCEL) << "the close box did not end the dialog";
  }
  // What a program says once m_server has stopped.
  std::string unreachable() const {
    return CSocketMessage::CannotReachText(QStringLiteral("127.0.0.1:%1").arg(m_server.port())).toStdString();
  }

  DemoServer m_server;
  std::unique_ptr<App> m_app;

 private:
  QString user_, password_;
};

}  // namespace testsupport
