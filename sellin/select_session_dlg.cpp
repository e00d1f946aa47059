#include "sellin/select_session_dlg.h"

#include <QListWidget>

#include "tessel/trim.h"

namespace {

platform::DialogTemplate selectSessionTemplate() {
  using namespace platform;
  DialogTemplate t;
  t.id = CSelectSessionDlg::IDD;
  t.title = QStringLiteral("Select Session");
  t.size = {160, 165};
  t.controls = {
      {CSelectSessionDlg::IDC_SESSIONS, ControlKind::ListBox, {}, {7, 7, 146, 131}, Sorted | VerticalScroll | Border},
      {IDCANCEL, ControlKind::PushButton, QStringLiteral("Cancel"), {120, 144, 33, 14}},
  };
  return t;
}

}  // namespace

CSelectSessionDlg::CSelectSessionDlg(const CDataArray<CSLSessionInfo>* pSessions, QWidget* parent)
    : platform::Dialog(selectSessionTemplate(), parent), m_pSessions(pSessions), m_listBox(listBox(IDC_SESSIONS)) {
  connect(m_listBox, &QListWidget::itemDoubleClicked, this, [this] { onOk(); });
}

bool CSelectSessionDlg::onInitDialog() {
  for (int i = 0; i < m_pSessions->GetSize(); ++i) {
    const CSLSessionInfo session = m_pSessions->GetAt(i);
    platform::addListEntry(m_listBox, TrimLeading(session.m_strDescription), i);
  }
  m_listBox->setCurrentRow(0);
  return true;
}

// The current row may be unselected (a Ctrl+click clears it): only a selected
// session is chosen, and OK with none leaves the chooser open.
void CSelectSessionDlg::onOk() {
  const QList<QListWidgetItem*> selected = m_listBox->selectedItems();
  if (selected.isEmpty()) return;
  m_nSelected = selected.first()->data(Qt::UserRole).toInt();
  endDialog(platform::IDOK);
}
