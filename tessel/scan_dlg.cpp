#include "tessel/scan_dlg.h"

#include <QLineEdit>

namespace {

platform::DialogTemplate scanTemplate(const QString& prompt) {
  using namespace platform;
  DialogTemplate t;
  t.id = CScanDlg::IDD;
  t.title = QStringLiteral("Scan");
  t.size = {160, 60};
  t.controls = {
      {CScanDlg::IDC_PROMPT, ControlKind::Label, prompt, {7, 7, 146, 8}},
      {CScanDlg::IDC_CODE, ControlKind::Edit, {}, {7, 19, 146, 14}, Border},
      {IDOK, ControlKind::DefaultPushButton, QStringLiteral("OK"), {66, 40, 40, 14}},
      {IDCANCEL, ControlKind::PushButton, QStringLiteral("Cancel"), {113, 40, 40, 14}},
  };
  return t;
}

}  // namespace

CScanDlg::CScanDlg(const QString& prompt, QWidget* parent) : platform::Dialog(scanTemplate(prompt), parent) {
  onMessage(platform::WM_SCAN_DATA,
            [this](const QVariant& wParam, const QVariant& lParam) { return OnScanData(wParam, lParam); });
}

// The code shown is selected, so typing or scanning replaces it.
bool CScanDlg::onInitDialog() {
  edit(IDC_CODE)->setText(m_strCode);
  edit(IDC_CODE)->selectAll();
  focusControl(IDC_CODE);
  return true;
}

void CScanDlg::onOk() {
  m_strCode = edit(IDC_CODE)->text().trimmed();
  platform::Dialog::onOk();
}

qintptr CScanDlg::OnScanData(const QVariant& wParam, const QVariant&) {
  edit(IDC_CODE)->setText(wParam.toString());
  onOk();
  return -1;
}
