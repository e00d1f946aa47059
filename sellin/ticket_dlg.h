#pragma once
// Sellin's working screen: one student's open ticket on the store server, its
// lines (book, purchaser, quantity, price) and the running total. Every change
// reaches the server first; the screen changes only when the server took it.
// When a change's outcome was in doubt (see CSocketMessage::SendQuery), the
// lines are read again from the server whatever came of it. If they cannot be
// read, the list stays empty, the total reads "$ ?" and the next command reads
// them first: no command works on lines that may differ from the server's.
// An End or a delete of the ticket in doubt is read back the same way, and the
// ticket is left only once the server shows it ended or emptied.
#include <QString>

#include "platform/dialog.h"
#include "tessel/font_controls.h"
#include "tessel/data_array.h"
#include "tessel/records.h"
#include "tessel/scanner.h"

class CReceiptInfo;
class CTicketItem;
class QTreeWidget;

class CTicketDlg : public platform::Dialog {
  Q_OBJECT

 public:
  enum {
    IDD = 130,
    IDC_RECEIPT = 1003,
    IDC_SID = 1004,
    IDC_LIST = 1005,
    IDC_XREF = 1006,
    IDC_LOOKUP = 1007,
    IDC_DETAILS = 1008,
    IDC_DELETE_ITEM = 1009,
    IDC_EDIT = 1010,
    IDC_ENTER = 1011,
    IDC_PRINT = 1012,
    IDC_END = 1013,
    IDC_DELETE_TICKET = 1014,
    IDC_TOTAL = 1044,
    IDC_TICKETS = 1045,
    IDC_REPRINT = 1046,
  };

  // The session stays the caller's and must outlive the dialog.
  CTicketDlg(const QString& user, const CSLSessionInfo* pSession, int storeNum, QWidget* parent = nullptr);
  ~CTicketDlg() override;

  const QString& GetReceipt() const { return m_strReceipt; }

  // The selected line; nullptr without a selection.
  CTicketItem* GetSelectedItem() const;
  // Quantity of the book (item ID, letter case ignored) on every line but `line`.
  int SumOtherQty(const QString& itemId, int line) const;
  // Removes every line and deletes its item.
  void FreeItems();
  // A new line of the book for the purchaser: quantity 1 at the buy price.
  CTicketItem* CreateItem(const CSLDetailInfo& detail, const CSLPurchaseDtlInfo& purchase, int line);
  // Appends a row for the line, which it then owns, selects it and updates the total.
  void InsertItemRow(CTicketItem* pItem);
  // One more than the highest line number on the ticket, so a new line never
  // takes the number of a line still there after a delete.
  int NextLineNumber() const;

  // The edit dialog on the line; true when the buyer pressed OK.
  bool EditItem(CTicketItem* pItem);
  // The quantity and price rules; true when the line may go to the server.
  bool ValidateItem(const CTicketItem* pItem);

 protected:
  bool onInitDialog() override;
  void onOk() override;
  void onDestroy() override;

 private:
  void InitItemList();
  bool LoadTicket();
  // Continues the student's open ticket or opens a new one; false when neither happened.
  bool OpenTicket();
  bool AskStudentID();
  void ShowReceipt(const CReceiptInfo& receipt);
  void ResetXref();
  void UpdateTotal();
  void ShowTotal(const QString& text);
  void RefreshSelectedRow();
  void SetRowTexts(int row, const CTicketItem& item);
  CTicketItem* ItemAt(int row) const;

  // The ticket's lines as the server stored them replace those listed, with
  // line selectLine selected (no row when it is not there). When they cannot be
  // read the list stays empty, the total reads "$ ?", and problem holds the
  // sentence for the buyer, who is not shown it here.
  bool ReloadLines(int selectLine, QString& problem);
  // The same; a failure is shown.
  bool ReloadLines(int selectLine);
  void SelectLine(int line);
  int SelectedLine() const;
  // Shows one of the user's open tickets with its stored lines.
  void ContinueTicket(const CSLOpenTicketInfo& ticket);
  // Offers the user's open ticket for this student (none in a session without
  // student IDs); true when the buyer continues it.
  bool OfferOpenTicket();
  // The user's open tickets with lines at this store; false, with why in
  // reply, when they could not be read. readBack: see ReadBack.
  bool ReadOpenTickets(CDataArray<CSLOpenTicketInfo>& tickets, QString& reply, bool readBack);
  void EndTicket(const CSLOpenTicketInfo& ticket);
  void PrintReceipt(const QString& text);

  // One exchange of one request; response holds the reply or the sentence for
  // the clerk, who is not shown it here.
  bool Exchange(int packetType, const QString& request, QString& response, bool* outcomeUnknown = nullptr);
  // A query whose answer settles what the screen shows: the buyer sees the
  // wait and may stop it.
  bool ReadBack(const QString& request, QString& reply);
  // The exchange of a query; on failure the clerk is shown why.
  bool RunQuery(const QString& request, QString& response);
  // True when the server took the line change and the screen may follow it.
  // A refusal is shown; after an outcome in doubt the lines are read again
  // instead, and false is returned.
  bool SendItem(const CTicketItem& item, int packetType);
  // True when the server ended or emptied the ticket, also when a read after
  // an outcome in doubt shows it did. Otherwise the buyer is told why, and
  // that the ticket is still open.
  bool SendTran(int packetType, const QString& receipt);
  // After an End or delete of the ticket in doubt: true when the server shows
  // it took effect; otherwise why becomes what the buyer is told of it.
  bool TranTookEffect(int packetType, const QString& receipt, QString& why);
  bool SelectItemDetail(const QString& xref, CSLDetailInfo& detail);
  bool SelectPurchase(const QString& itemId, CSLPurchaseDtlInfo& purchase);

  void AddItem(const CSLDetailInfo& detail);
  bool NeedsEditFirst(const CTicketItem& item) const;
  bool EditUntilValid(CTicketItem* pItem);

  void OnEnter();
  void OnEdit();
  void OnDeleteItem();
  void OnDetails();
  void OnLookup();
  void OnDeleteTicket();
  void OnEnd();
  void OnPrint();
  void OnTickets();
  void OnReprint();
  qintptr OnScanData(const QVariant& wParam, const QVariant& lParam);
  // A command of the ticket runs the handler, once the lines are read; scans
  // are ignored meanwhile.
  void RunCommand(void (CTicketDlg::*handler)());

  QString m_strUser;
  const CSLSessionInfo* m_pSession;
  int m_nStoreNum;
  CFontStatic m_receiptLabel;
  CFontStatic m_sidLabel;
  QString m_strReceipt;
  QString m_strStudentID;
  CScanner m_scanner;
  bool m_bScanForStudentID = false;  // a scan prompt is open: the student ID's or a receipt's
  bool m_bInCommand = false;
  bool m_bLinesUnread = false;
  int m_nLineToSelect = 0;  // once the unread lines are read
  QTreeWidget* m_itemList;
};
