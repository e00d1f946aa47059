#pragma once
// Sellin's working screen: one student's open ticket on the store server, its
// lines (book, purchaser, quantity, price) and the running total. Every change
// reaches the server first; the screen changes only when the server took it.
#include <QString>

#include "platform/dialog.h"
#include "tessel/font_controls.h"
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
  };

  // The session stays the caller's and must outlive the dialog.
  CTicketDlg(const QString& user, const CSLSessionInfo* pSession, int storeNum, QWidget* parent = nullptr);
  ~CTicketDlg() override;

  const QString& GetReceipt() const { return m_strReceipt; }
  const QString& GetStudentID() const { return m_strStudentID; }

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
  bool AskStudentID();
  void ShowReceipt(const CReceiptInfo& receipt);
  void ResetXref();
  void UpdateTotal();
  void RefreshSelectedRow();
  void SetRowTexts(int row, const CTicketItem& item);
  CTicketItem* ItemAt(int row) const;

  // One exchange of one request. On failure the clerk is shown why and
  // response holds that sentence.
  bool Exchange(int packetType, const QString& request, QString& response);
  bool RunQuery(const QString& request, QString& response);
  bool SendItem(const CTicketItem& item, int packetType);
  bool SendTran(int packetType);
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
  qintptr OnScanData(const QVariant& wParam, const QVariant& lParam);
  // A command of the ticket runs the handler; scans are ignored meanwhile.
  void RunCommand(void (CTicketDlg::*handler)());

  QString m_strUser;
  const CSLSessionInfo* m_pSession;
  int m_nStoreNum;
  CFontStatic m_receiptLabel;
  CFontStatic m_sidLabel;
  QString m_strReceipt;
  QString m_strStudentID;
  CScanner m_scanner;
  bool m_bScanForStudentID = false;
  bool m_bInCommand = false;
  QTreeWidget* m_itemList;
};
