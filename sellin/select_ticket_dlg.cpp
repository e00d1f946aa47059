#include "sellin/select_ticket_dlg.h"

#include <algorithm>

#include <QPushButton>
#include <QTreeWidget>

#include "sellin/item_rules.h"
#include "sellin/sellin_lists.h"
#include "tessel/global_functions.h"

namespace {

// The widest total a ticket record's twelve characters carry (returns outweighing buys).
constexpr qint64 kWidestTotalCents = -99'999'999'99;

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
  // The figures are as wide as the widest the ticket record carries; the
  // student ID has what is left, and the list scrolls sideways if it must.
  const int w = m_listCtrl->contentsRect().width();
  const int books = ColumnWidthFor(m_listCtrl, {QStringLiteral("Books"), QStringLiteral("99999")});
  const int total = ColumnWidthFor(m_listCtrl, {QStringLiteral("Total"), DollarText(kWidestTotalCents)});
  const int receipt = w * 3 / 10;
  SetUpColumns(m_listCtrl, {{QStringLiteral("Receipt"), receipt},
                            {QStringLiteral("Student"), std::max(w - receipt - books - total, w / 5)},
                            {QStringLiteral("Books"), books},
                            {QStringLiteral("Total"), total}});
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
