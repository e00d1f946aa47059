#pragma once
// The buyer's open tickets at this store, to continue one on the ticket
// screen or to end it.
#include "sellin/chooser_dlg.h"
#include "tessel/records.h"

class CSelectTicketDlg : public CChooserDlg<CSLOpenTicketInfo> {
  Q_OBJECT

 public:
  enum { IDD = 135, IDC_TICKETS = 1000, IDC_END_TICKET = 1001 };
  // runModal's answers besides IDCANCEL.
  enum { kContinue = platform::IDOK, kEnd = IDC_END_TICKET };

  // The dialog lists a copy of the caller's tickets.
  explicit CSelectTicketDlg(const CDataArray<CSLOpenTicketInfo>* pTickets, QWidget* parent = nullptr);

  // Index into the tickets of the chosen one; -1 until Continue or End with one selected.
  int m_nSelected = -1;

 protected:
  bool onInitDialog() override;
  void onOk() override;
  QStringList RowTexts(const CSLOpenTicketInfo& ticket) const override;

 private:
  void ChooseTicket(int result);
};
