#include "sellin/select_ticket_dlg.h"

#include <QHeaderView>
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
    : CChooserDlg(selectTicketTemplate(), IDC_TICKETS, parent) {
  m_records = *pTickets;
  connect(m_listCtrl, &QTreeWidget::itemDoubleClicked, this, [this] { onOk(); });
  connect(button(IDC_END_TICKET), &QPushButton::clicked, this, [this] { ChooseTicket(kEnd); });
}

QStringList CSelectTicketDlg::RowTexts(const CSLOpenTicketInfo& ticket) const {
  return {CGlobalFunctions::TrimString(ticket.m_strReceipt, false),
          CGlobalFunctions::TrimString(ticket.m_strStudentID, false), CGlobalFunctions::TrimString(ticket.m_nLines),
          DollarText(CentsOf(ticket.m_strTotal))};
}

bool CSelectTicketDlg::onInitDialog() {
  QList<QStringList> rows;
  for (int i = 0; i < m_records.GetSize(); ++i) rows << RowTexts(m_records.GetAt(i));
  const auto widest = [&](int column, const QString& title) {
    QStringList texts = {title};
    for (const QStringList& row : rows) texts << row[column];
    return ColumnWidthFor(m_listCtrl, texts);
  };
  // The receipt and the figures are as wide as the widest of them; the student
  // ID takes what is left of the list's width, elided when longer, so the list
  // never scrolls sideways, also once a vertical scroll bar takes its room.
  SetUpColumns(m_listCtrl, {{QStringLiteral("Receipt"), widest(0, QStringLiteral("Receipt"))},
                            {QStringLiteral("Student"), 0},
                            {QStringLiteral("Books"), widest(2, QStringLiteral("Books"))},
                            {QStringLiteral("Total"), widest(3, QStringLiteral("Total"))}});
  m_listCtrl->header()->setStretchLastSection(false);
  m_listCtrl->header()->setSectionResizeMode(1, QHeaderView::Stretch);
  FillList();
  return true;
}

void CSelectTicketDlg::onOk() { ChooseTicket(kContinue); }

// Only a selected ticket is chosen; without one the chooser stays open.
void CSelectTicketDlg::ChooseTicket(int result) {
  m_nSelected = SelectedRow();
  Choose(result);
}
