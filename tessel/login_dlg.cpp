#include "tessel/login_dlg.h"

#include <QCheckBox>
#include <QLineEdit>

#include "platform/message_box.h"

namespace {

platform::DialogTemplate logInTemplate(const QString& appName, const QString& serverAddress) {
  using namespace platform;
  const QString server =
      serverAddress.isEmpty() ? QStringLiteral("Server: not configured") : QStringLiteral("Server: ") + serverAddress;
  DialogTemplate t;
  t.id = CLogInDlg::IDD;
  t.title = appName + QStringLiteral(" Log In");
  t.size = {160, 165};
  t.controls = {
      {100, ControlKind::Label, QStringLiteral("User:"), {7, 10, 40, 8}},
      {CLogInDlg::IDC_USER, ControlKind::Edit, {}, {50, 7, 103, 14}, Border},
      {101, ControlKind::Label, QStringLiteral("Password:"), {7, 28, 40, 8}},
      {CLogInDlg::IDC_PASSWORD, ControlKind::Edit, {}, {50, 25, 103, 14}, Border | Password},
      {CLogInDlg::IDC_REMEMBER,
       ControlKind::CheckBox,
       QStringLiteral("Keep password on this handheld"),
       {7, 45, 146, 10}},
      {CLogInDlg::IDC_SERVER, ControlKind::Label, server, {7, 62, 146, 20}},
      {IDOK, ControlKind::DefaultPushButton, QStringLiteral("OK"), {66, 144, 40, 14}},
      {IDCANCEL, ControlKind::PushButton, QStringLiteral("Cancel"), {113, 144, 40, 14}},
  };
  return t;
}

}  // namespace

CLogInDlg::CLogInDlg(const QString& appName, const QString& serverAddress, QWidget* parent)
    : platform::Dialog(logInTemplate(appName, serverAddress), parent) {}

bool CLogInDlg::onInitDialog() {
  edit(IDC_USER)->setText(m_strUser);
  edit(IDC_PASSWORD)->setText(m_strPassword);
  checkBox(IDC_REMEMBER)->setChecked(m_bRemember);
  focusControl(m_strUser.isEmpty() ? IDC_USER : IDC_PASSWORD);
  return true;
}

void CLogInDlg::onOk() {
  const QString user = edit(IDC_USER)->text().trimmed();
  const QString password = edit(IDC_PASSWORD)->text();
  if (user.isEmpty() || password.isEmpty()) {
    platform::messageBox(this, QStringLiteral("Enter a user name and a password."), windowTitle(),
                         platform::MessageIcon::Information, platform::MessageButtons::Ok);
    focusControl(user.isEmpty() ? IDC_USER : IDC_PASSWORD);
    return;
  }
  m_strUser = user;
  m_strPassword = password;
  m_bRemember = checkBox(IDC_REMEMBER)->isChecked();
  platform::Dialog::onOk();
}
