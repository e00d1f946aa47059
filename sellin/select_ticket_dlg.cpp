#include "sellin/select_ticket_dlg.h"

#include <QPushButton>
#include <QTreeWidget>

#include "sellin/item_rules.h"
#include "sellin/sellin_lists.h"
#include "tessel/global_functions.h"

namespace {

platform::DialogTemplate selectTicketTemplate() {
  using namespace platform;
  using D = CSelectTicketDlg;
  DialogTemplate t;
  t.id = D::IDD;
  t.title = QStringLiteral("Open Tickets");
  t.size = {160, 165};
  t.controls = {
      {D::IDC_TICKETS, ControlKind::ListView, {}, {7, 7, 146, 131}, Border},
      {IDOK, ControlKind::DefaultPushButton, QStringLiteral("Continue"), {7, 144, 38, 14}},
      {D::IDC_END_TICKET, ControlKind::PushButton, QStringLiteral("End"), {50, 144, 30, 14}},
      {IDCANCEL, ControlKind::PushButton, QStringLiteral("Cancel"), {120, 144, 33, 14}},
  };
  return t;
}

}  // namespace

CSelectTicketDlg::CSelectTicketDlg(const CDataArray<CSLOpenTicketInfo>* pTickets, QWidget* parent)
    : platform::Dialog(selectTicketTemplate(), parent), m_pTickets(pTickets), m_listCtrl(listView(IDC_TICKETS)) {
  connect(m_listCtrl, &QTreeWidget::itemDoubleClicked, this, [this] { onOk(); });
  connect(button(IDC_END_TICKET), &QPushButton::clicked, this, [this] { Choose(kEnd); });
}

bool CSelectTicketDlg::onInitDialog() {
  const int w = m_listCtrl->contentsRect().width();
  SetUpColumns(m_listCtrl, {{QStringLiteral("Receipt"), w * 3 / 10},
                            {QStringLiteral("Student"), w * 3 / 10},
                            {QStringLiteral("Books"), w / 6},
                            {QStringLiteral("Total"), w - w * 3 / 10 * 2 - w / 6}});
  for (int i = 0; i < m_pTickets->GetSize(); ++i) {
    const CSLOpenTicketInfo& ticket = m_pTickets->GetAt(i);
    AddListRow(m_listCtrl, {CGlobalFunctions::TrimString(ticket.m_strReceipt, false),
                            CGlobalFunctions::TrimString(ticket.m_strStudentID, false),
                            CGlobalFunctions::TrimString(ticket.m_nLines), DollarText(CentsOf(ticket.m_strTotal))});
  }
  SelectFirstRow(m_listCtrl);
  return true;
}

void CSelectTicketDlg::onOk() { Choose(kContinue); }

// Only a selected ticket is chosen; without one the chooser stays open.
void CSelectTicketDlg::Choose(int result) {
  m_nSelected = SelectedListRow(m_listCtrl, m_pTickets->GetSize());
  if (m_nSelected >= 0) endDialog(result);
}
