#include "tessel/detail_dlg.h"

namespace {

platform::DialogTemplate detailTemplate(const QString& title) {
  using namespace platform;
  DialogTemplate t;
  t.id = CDetailDlg::IDD;
  t.title = title;
  t.size = {160, 165};
  t.controls = {
      {CDetailDlg::IDC_LIST_AREA, ControlKind::Label, {}, {7, 7, 146, 131}, Hidden},
      {IDOK, ControlKind::DefaultPushButton, QStringLiteral("OK"), {120, 144, 33, 14}},
  };
  return t;
}

}  // namespace

CDetailDlg::CDetailDlg(const CDataLines& lines, QWidget* parent, const QString& title)
    : platform::Dialog(detailTemplate(title), parent), m_lines(lines) {}

bool CDetailDlg::onInitDialog() {
  m_list.Create(control(IDC_LIST_AREA)->geometry(), this, IDC_LIST);
  m_list.SetWindowTextW(m_lines);
  return true;
}
