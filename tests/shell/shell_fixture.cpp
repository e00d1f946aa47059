#include "tests/shell/shell_fixture.h"

#include <QCheckBox>
#include <QWidget>

#include "platform/profile.h"
#include "shell/start_dlg.h"
#include "tessel/global_functions.h"
#include "tessel/login_dlg.h"
#include "tessel/tessel_config.h"

namespace shell_test {

void ShellTest::SetUp() {
  QtFixture::SetUp();
  ASSERT_TRUE(server_.started());
  CTesselConfig::ClearOverrides();
  CTesselConfig::ApplyArguments({QStringLiteral("--server"), server_.url()});
}

void ShellTest::TearDown() {
  for (int app : {0, 1, 2}) CGlobalFunctions::CleanPassword(app);
  CTesselConfig::ClearOverrides();
  QtFixture::TearDown();
}

void ShellTest::keepPassword(int appType, const QString& user, const QString& password) {
  const QString section = CGlobalFunctions::GetAppName(appType);
  platform::Profile::writeString(section, QStringLiteral("UserName"), user);
  platform::Profile::writeString(section, QStringLiteral("Password"), password);
  platform::Profile::writeInt(section, QStringLiteral("KeepPassword"), 1);
}

void ShellTest::setSellinValue(const QString& name, const QString& value) {
  platform::Profile::writeString(QStringLiteral("Sellin"), name, value);
}

void logIn(QWidget* dialog, const QString& user, const QString& password, bool keep) {
  testsupport::replaceText(dialog, CLogInDlg::IDC_USER, user);
  testsupport::replaceText(dialog, CLogInDlg::IDC_PASSWORD, password);
  auto* keepBox = testsupport::findControl<QCheckBox>(dialog, CLogInDlg::IDC_REMEMBER);
  ASSERT_NE(keepBox, nullptr) << "no keep-password box: is this the log-in dialog?";
  keepBox->setChecked(keep);
  testsupport::clickControl(dialog, platform::IDOK);
}

void cancel(QWidget* dialog) { testsupport::clickControl(dialog, platform::IDCANCEL); }

void closeWindow(QWidget* dialog) { dialog->close(); }

QString statusOf(QWidget* startDialog) {
  auto* dlg = qobject_cast<CStartDlg*>(startDialog);
  return dlg ? dlg->Status() : QStringLiteral("<not a start dialog>");
}

}  // namespace shell_test
