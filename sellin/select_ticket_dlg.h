#pragma once
// The buyer's open tickets at this store, to continue one on the ticket
// screen or to end it.
#include "platform/dialog.h"
#include "tessel/data_array.h"
#include "tessel/records.h"

class QTreeWidget;

class CSelectTicketDlg : public platform::Dialog {
  Q_OBJECT

 public:
  enum { IDD = 135, IDC_TICKETS = 1000, IDC_END_TICKET = 1001 };
  // runModal's answers besides IDCANCEL.
  enum { kContinue = platform::IDOK, kEnd = IDC_END_TICKET };

  // The tickets stay the caller's; the dialog only reads them.
  explicit CSelectTicketDlg(const CDataArray<CSLOpenTicketInfo>* pTickets, QWidget* parent = nullptr);

  // Index into the tickets of the chosen one; -1 until Continue or End with one selected.
  int m_nSelected = -1;

 protected:
  bool onInitDialog() override;
  void onOk() override;

 private:
  void Choose(int result);

  const CDataArray<CSLOpenTicketInfo>* m_pTickets;
  QTreeWidget* m_listCtrl;
};
