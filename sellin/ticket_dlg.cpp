#include "sellin/ticket_dlg.h"

#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTreeWidget>
#include <algorithm>
#include <climits>

#include "platform/message_box.h"
#include "sellin/edit_item_dlg.h"
#include "sellin/item_rules.h"
#include "sellin/purchasers_dlg.h"
#include "sellin/select_item_dlg.h"
#include "sellin/select_ticket_dlg.h"
#include "sellin/sellin_lists.h"
#include "sellin/ticket_item.h"
#include "shell/shell_app.h"
#include "tessel/global_functions.h"
#include "tessel/printer.h"
#include "tessel/query_strings.h"
#include "wire/exchange.h"
#include "wire/item_rules.h"
#include "wire/money.h"

namespace {

constexpr int kTranDelete = wire::kPacketDelete;
constexpr int kTranEnd = wire::kPacketChange;

platform::DialogTemplate ticketTemplate() {
  using namespace platform;
  using D = CTicketDlg;
  DialogTemplate t;
  t.id = D::IDD;
  t.title = QStringLiteral("Dialog");
  t.size = {160, 165};
  t.controls = {
      {D::IDC_RECEIPT, ControlKind::Label, QStringLiteral("receipt"), {7, 3, 82, 8}},
      // As wide as the Reprint button leaves, so a student ID of 20 characters stays on the one line shown.
      {D::IDC_SID, ControlKind::Label, QStringLiteral("SID:"), {7, 13, 113, 8}},
      {D::IDC_TICKETS, ControlKind::PushButton, QStringLiteral("Tickets"), {122, 2, 31, 11}},
      {D::IDC_REPRINT, ControlKind::PushButton, QStringLiteral("Reprint"), {122, 15, 31, 11}},
      {100, ControlKind::Label, QStringLiteral("Xref:"), {7, 32, 17, 8}},
      {D::IDC_XREF, ControlKind::Edit, {}, {26, 30, 78, 12}, Border},
      {D::IDC_ENTER, ControlKind::PushButton, QStringLiteral("Enter"), {129, 31, 23, 11}},
      {D::IDC_TOTAL, ControlKind::Label, QStringLiteral("total"), {7, 52, 43, 8}},
      {D::IDC_PRINT, ControlKind::PushButton, QStringLiteral("Print"), {53, 51, 23, 11}},
      {D::IDC_END, ControlKind::PushButton, QStringLiteral("End"), {79, 51, 23, 11}},
      {D::IDC_DELETE_TICKET, ControlKind::PushButton, QStringLiteral("Delete"), {126, 51, 26, 11}},
      {D::IDC_LIST, ControlKind::ListView, {}, {7, 65, 145, 77}, NoHeader | Border},
      {D::IDC_LOOKUP, ControlKind::PushButton, QStringLiteral("Lookup"), {7, 147, 29, 11}},
      {D::IDC_DETAILS, ControlKind::PushButton, QStringLiteral("Details"), {39, 147, 29, 11}},
      {D::IDC_DELETE_ITEM, ControlKind::PushButton, QStringLiteral("Delete"), {71, 147, 29, 11}},
      {D::IDC_EDIT, ControlKind::PushButton, QStringLiteral("Edit"), {124, 147, 29, 11}},
  };
  return t;
}

void showFailure(QWidget* parent, const QString& text) {
  platform::messageBox(parent, text, SellinCaption(), platform::MessageIcon::Stop, platform::MessageButtons::Ok);
}

bool ListsReceipt(const CDataArray<CSLOpenTicketInfo>& tickets, const QString& receipt) {
  for (int i = 0; i < tickets.GetSize(); ++i)
    if (CGlobalFunctions::TrimString(tickets.GetAt(i).m_strReceipt, false) == receipt) return true;
  return false;
}

// Clears a flag however the scope is left.
class CFlagScope {
 public:
  explicit CFlagScope(bool& flag) : m_flag(flag) { m_flag = true; }
  ~CFlagScope() { m_flag = false; }
  CFlagScope(const CFlagScope&) = delete;
  CFlagScope& operator=(const CFlagScope&) = delete;

 private:
  bool& m_flag;
};

}  // namespace

CTicketDlg::CTicketDlg(const QString& user, const CSLSessionInfo* pSession, int storeNum, QWidget* parent)
    : platform::Dialog(ticketTemplate(), parent),
      m_strUser(user),
      m_pSession(pSession),
      m_nStoreNum(storeNum),
      m_itemList(listView(IDC_LIST)) {
  const std::pair<int, void (CTicketDlg::*)()> commands[] = {
      {IDC_ENTER, &CTicketDlg::OnEnter},
      {IDC_EDIT, &CTicketDlg::OnEdit},
      {IDC_DELETE_ITEM, &CTicketDlg::OnDeleteItem},
      {IDC_DETAILS, &CTicketDlg::OnDetails},
      {IDC_LOOKUP, &CTicketDlg::OnLookup},
      {IDC_DELETE_TICKET, &CTicketDlg::OnDeleteTicket},
      {IDC_END, &CTicketDlg::OnEnd},
      {IDC_PRINT, &CTicketDlg::OnPrint},
      {IDC_TICKETS, &CTicketDlg::OnTickets},
      {IDC_REPRINT, &CTicketDlg::OnReprint},
  };
  for (const auto& [id, handler] : commands)
    connect(button(id), &QPushButton::clicked, this, [this, handler = handler] { RunCommand(handler); });
  onMessage(platform::WM_SCANNER,
            [this](const QVariant& wParam, const QVariant& lParam) { return m_scanner.OnScannerMsg(wParam, lParam); });
  onMessage(platform::WM_SCAN_DATA,
            [this](const QVariant& wParam, const QVariant& lParam) { return OnScanData(wParam, lParam); });
}

CTicketDlg::~CTicketDlg() { FreeItems(); }

bool CTicketDlg::onInitDialog() {
  InitItemList();
  m_receiptLabel.Attach(control(IDC_RECEIPT));
  m_receiptLabel.SetBold(true);
  m_sidLabel.Attach(control(IDC_SID));
  m_sidLabel.SetBold(true);
  m_scanner.Init(this);
  LoadTicket();
  return true;
}

void CTicketDlg::onDestroy() {
  FreeItems();
  m_scanner.CloseScanner();
  platform::Dialog::onDestroy();
}

void CTicketDlg::InitItemList() {
  m_itemList->setSelectionMode(QAbstractItemView::SingleSelection);
  m_itemList->setSelectionBehavior(QAbstractItemView::SelectRows);
  m_itemList->setColumnCount(3);
  m_itemList->setHeaderLabels({QStringLiteral("QTY"), QStringLiteral("Price"), QStringLiteral("ISBN")});
  // Any quantity and price the store server takes are shown whole; the ISBN has the rest.
  using namespace wire::rules;
  const int qty = ColumnWidthFor(m_itemList, {QString::number(kMinQty), QString::number(kMaxQty)});
  const int price = ColumnWidthFor(m_itemList, {QString::fromStdString(wire::formatCents(kMaxPriceCents))});
  m_itemList->setColumnWidth(0, qty);
  m_itemList->setColumnWidth(1, price);
  m_itemList->setColumnWidth(2, m_itemList->contentsRect().width() - qty - price);
}

// Return runs Enter: it must not close the ticket under the buyer's hands.
void CTicketDlg::onOk() { RunCommand(&CTicketDlg::OnEnter); }

bool CTicketDlg::LoadTicket() {
  FreeItems();
  m_bLinesUnread = false;
  UpdateTotal();
  const bool studentIDs = m_pSession->m_nStudentIDRequired != 0;
  // A student ID the store server refused (a book's ISBN scanned instead) is
  // asked again rather than leaving a ticket window with no ticket; the buyer
  // leaves by cancelling the prompt.
  do {
    if (studentIDs && !AskStudentID()) return false;
    if (OpenTicket()) return true;
  } while (studentIDs);
  return false;
}

bool CTicketDlg::OpenTicket() {
  ResetXref();
  paintNow();
  if (OfferOpenTicket()) return true;
  QString response;
  if (!RunQuery(CGlobalQueryStrings::GetSLTicket(m_strUser, m_strStudentID, m_nStoreNum), response)) return false;
  CReceiptInfo receipt;
  receipt.SetFields(response);
  ShowReceipt(receipt);
  return true;
}

// False when the dialog was ended for want of a student ID.
bool CTicketDlg::AskStudentID() {
  CFlagScope prompting(m_bScanForStudentID);
  if (!CGlobalFunctions::ShowScanDlg(QStringLiteral("Student ID #"), m_strStudentID, &m_scanner, this)) {
    onCancel();
    return false;
  }
  if (m_strStudentID.isEmpty()) {
    platform::messageBox(this, QStringLiteral("Please Enter a Student ID"), SellinCaption(),
                         platform::MessageIcon::Stop, platform::MessageButtons::Ok);
    onCancel();
    return false;
  }
  return true;
}

void CTicketDlg::ShowReceipt(const CReceiptInfo& receipt) {
  m_strReceipt = CGlobalFunctions::TrimString(receipt.m_strReceipt, false);
  setControlText(IDC_RECEIPT, m_strReceipt);
  if (m_pSession->m_nStudentIDRequired == 0) return;
  setControlVisible(IDC_SID, true);
  setControlText(IDC_SID, QStringLiteral("SID:  %1").arg(m_strStudentID));
}

void CTicketDlg::ResetXref() {
  setControlText(IDC_XREF, QString());
  focusControl(IDC_XREF);
}

void CTicketDlg::UpdateTotal() {
  qint64 cents = 0;
  for (int row = 0; row < m_itemList->topLevelItemCount(); ++row) {
    const CTicketItem* item = ItemAt(row);
    cents += item->m_nQty * CentsOf(item->m_strPrice);
  }
  ShowTotal(DollarText(cents));
}

void CTicketDlg::ShowTotal(const QString& text) {
  setControlText(IDC_TOTAL, text);
  FitOnOneLine(label(IDC_TOTAL));
}

bool CTicketDlg::ReloadLines(int selectLine, QString& problem) {
  FreeItems();
  QString reply;
  std::vector<std::unique_ptr<CTicketItem>> lines;
  m_bLinesUnread = !ReadBack(CGlobalQueryStrings::GetSLLines(m_strReceipt, m_nStoreNum), reply);
  if (!m_bLinesUnread && !ReadTicketLines(reply, lines)) {
    m_bLinesUnread = true;
    reply = CSocketMessage::UnreadableText();
  }
  if (m_bLinesUnread) {
    m_nLineToSelect = selectLine;
    ShowTotal(QStringLiteral("$ ?"));
    problem = reply + QStringLiteral("\nThe ticket's books are read again from the store server before your next "
                                     "step.");
    return false;
  }
  for (std::unique_ptr<CTicketItem>& line : lines) {
    std::tie(line->m_strReceipt, line->m_nStoreNum, line->m_strStudentID) =
        std::tie(m_strReceipt, m_nStoreNum, m_strStudentID);
    InsertItemRow(line.release());
  }
  // The buyer's next Edit or Delete must hit the line they worked on, or none.
  SelectLine(selectLine);
  UpdateTotal();
  return true;
}

bool CTicketDlg::ReloadLines(int selectLine) {
  QString problem;
  if (ReloadLines(selectLine, problem)) return true;
  showFailure(this, problem);
  return false;
}

void CTicketDlg::SelectLine(int line) {
  m_itemList->clearSelection();
  m_itemList->setCurrentItem(nullptr);
  for (int row = 0; row < m_itemList->topLevelItemCount(); ++row)
    if (ItemAt(row)->m_nLine == line) m_itemList->setCurrentItem(m_itemList->topLevelItem(row));
}

int CTicketDlg::SelectedLine() const {
  const CTicketItem* item = GetSelectedItem();
  return item ? item->m_nLine : 0;
}

void CTicketDlg::ContinueTicket(const CSLOpenTicketInfo& ticket) {
  m_strStudentID = CGlobalFunctions::TrimString(ticket.m_strStudentID, false);
  CReceiptInfo receipt;
  receipt.m_strReceipt = ticket.m_strReceipt;
  ShowReceipt(receipt);
  ReloadLines(0);
}

bool CTicketDlg::OfferOpenTicket() {
  CDataArray<CSLOpenTicketInfo> tickets;
  QString reply;
  if (!ReadOpenTickets(tickets, reply, false)) return false;  // the new ticket's query tells what is wrong
  for (int i = 0; i < tickets.GetSize(); ++i) {
    const CSLOpenTicketInfo& ticket = tickets.GetAt(i);
    if (CGlobalFunctions::TrimString(ticket.m_strStudentID, false).compare(m_strStudentID, Qt::CaseInsensitive) != 0)
      continue;
    const QString student =
        m_strStudentID.isEmpty() ? QString() : QStringLiteral(" for student %1").arg(m_strStudentID);
    // Lines, not books: a line may buy several copies.
    const QString lines =
        ticket.m_nLines == 1 ? QStringLiteral("1 line") : QStringLiteral("%1 lines").arg(ticket.m_nLines);
    const QString question = QStringLiteral("You have an open ticket%1: receipt %2, %3, %4.\nContinue it?")
                                 .arg(student, CGlobalFunctions::TrimString(ticket.m_strReceipt, false), lines,
                                      DollarText(CentsOf(ticket.m_strTotal)));
    if (platform::messageBox(this, question, SellinCaption(), platform::MessageIcon::Question,
                             platform::MessageButtons::YesNo) != platform::IDYES)
      return false;
    ContinueTicket(ticket);
    return true;
  }
  return false;
}

bool CTicketDlg::ReadOpenTickets(CDataArray<CSLOpenTicketInfo>& tickets, QString& reply, bool readBack) {
  const QString request = CGlobalQueryStrings::GetSLOpenTickets(m_nStoreNum);
  const bool read = readBack ? ReadBack(request, reply) : Exchange(wire::kPacketQuery, request, reply);
  if (read && !reply.isEmpty()) tickets.FillFromResponse(reply);
  return read;
}

CTicketItem* CTicketDlg::ItemAt(int row) const {
  const QTreeWidgetItem* rowItem = m_itemList->topLevelItem(row);
  return rowItem ? reinterpret_cast<CTicketItem*>(rowItem->data(0, Qt::UserRole).value<quintptr>()) : nullptr;
}

void CTicketDlg::SetRowTexts(int row, const CTicketItem& item) {
  QTreeWidgetItem* rowItem = m_itemList->topLevelItem(row);
  rowItem->setText(0, CGlobalFunctions::TrimString(item.m_nQty));
  rowItem->setText(1, CGlobalFunctions::TrimString(item.m_strPrice, true));
}

void CTicketDlg::InsertItemRow(CTicketItem* pItem) {
  auto* rowItem = new QTreeWidgetItem;
  rowItem->setData(0, Qt::UserRole, QVariant::fromValue(reinterpret_cast<quintptr>(pItem)));
  rowItem->setText(2, CGlobalFunctions::TrimString(pItem->m_detail.m_strISBN, false));
  m_itemList->addTopLevelItem(rowItem);
  const int row = m_itemList->topLevelItemCount() - 1;
  SetRowTexts(row, *pItem);
  m_itemList->setCurrentItem(rowItem);
  UpdateTotal();
}

void CTicketDlg::RefreshSelectedRow() {
  const QList<QTreeWidgetItem*> selected = m_itemList->selectedItems();
  if (selected.isEmpty()) return;
  const int row = m_itemList->indexOfTopLevelItem(selected.first());
  SetRowTexts(row, *ItemAt(row));
  UpdateTotal();
}

CTicketItem* CTicketDlg::GetSelectedItem() const {
  for (int row = 0; row < m_itemList->topLevelItemCount(); ++row)
    if (m_itemList->topLevelItem(row)->isSelected()) return ItemAt(row);
  return nullptr;
}

int CTicketDlg::SumOtherQty(const QString& itemId, int line) const {
  qint64 sum = 0;
  for (int row = 0; row < m_itemList->topLevelItemCount(); ++row) {
    const CTicketItem* item = ItemAt(row);
    if (item->m_nLine != line && item->m_strItemID.compare(itemId, Qt::CaseInsensitive) == 0) sum += item->m_nQty;
  }
  return int(std::clamp<qint64>(sum, INT_MIN, INT_MAX));
}

void CTicketDlg::FreeItems() {
  for (int row = 0; row < m_itemList->topLevelItemCount(); ++row) delete ItemAt(row);
  m_itemList->clear();
}

CTicketItem* CTicketDlg::CreateItem(const CSLDetailInfo& detail, const CSLPurchaseDtlInfo& purchase, int line) {
  auto* item = new (std::nothrow) CTicketItem;
  if (!item) return nullptr;
  item->m_nQty = 1;
  item->m_strReceipt = m_strReceipt;
  item->m_strItemID = detail.m_strItemID;
  item->m_nLine = line;
  item->m_strPrice = purchase.m_strBuyPrice;
  item->m_strPurchaser = purchase.m_strPurchaser;
  item->m_nSessionID = m_pSession->m_nSessionID;
  item->m_nStoreNum = m_nStoreNum;
  item->m_strStudentID = m_strStudentID;
  return item;
}

int CTicketDlg::NextLineNumber() const {
  int highest = 0;
  for (int row = 0; row < m_itemList->topLevelItemCount(); ++row) highest = qMax(highest, ItemAt(row)->m_nLine);
  return highest + 1;
}

bool CTicketDlg::EditItem(CTicketItem* pItem) {
  CEditItemDlg dlg(pItem, m_pSession->m_nConditionCheck != 0, this);
  return dlg.runModal() == platform::IDOK;
}

bool CTicketDlg::ValidateItem(const CTicketItem* pItem) {
  return CheckItemRules(*pItem, *m_pSession, SumOtherQty(pItem->m_strItemID, pItem->m_nLine), this);
}

bool CTicketDlg::Exchange(int packetType, const QString& request, QString& response, bool* outcomeUnknown) {
  CShellApp* app = CShellApp::Instance();
  if (!app) return false;
  CSocketMessage& msg = app->m_socketMsg;
  msg.Reset();
  msg.AddQuery(packetType, request);
  const bool ok = msg.SendQuery() && !msg.IsError(0);
  response = msg.GetResponse(0);
  if (outcomeUnknown) *outcomeUnknown = msg.WasOutcomeUnknown();
  return ok;
}

bool CTicketDlg::ReadBack(const QString& request, QString& reply) {
  if (CShellApp* app = CShellApp::Instance()) app->m_socketMsg.ShowNextWait();
  return Exchange(wire::kPacketQuery, request, reply);
}

bool CTicketDlg::RunQuery(const QString& request, QString& response) {
  if (Exchange(wire::kPacketQuery, request, response)) return true;
  showFailure(this, response);
  return false;
}

bool CTicketDlg::SendItem(const CTicketItem& item, int packetType) {
  QString response;
  bool unknown = false;
  const bool ok =
      Exchange(packetType,
               CGlobalUpdateStrings::GetSLItem(item.m_strReceipt, item.m_nLine, item.m_strPurchaser, item.m_nSessionID,
                                               item.m_strItemID, item.m_nQty, item.m_strPrice),
               response, &unknown);
  if (!unknown) {
    if (!ok) showFailure(this, response);
    return ok;
  }
  // Whatever came of it, the screen shows what the server stored, with one box at most.
  QString problem;
  const bool read = ReloadLines(item.m_nLine, problem);
  if (!ok)
    showFailure(this, response + QLatin1Char('\n') +
                          (read ? QStringLiteral("The list shows the ticket's books as the store server has them now.")
                                : problem));
  else if (!read) showFailure(this, problem);
  return false;
}

bool CTicketDlg::SendTran(int packetType, const QString& receipt) {
  QString response;
  bool unknown = false;
  if (Exchange(packetType, CGlobalUpdateStrings::GetSLTran(receipt), response, &unknown)) return true;
  if (unknown && TranTookEffect(packetType, receipt, response)) return true;
  showFailure(this, response);
  return false;
}

// A ticket that cannot be shown ended or emptied counts as open: the student
// must not be paid, nor the next ticket opened, on a guess.
bool CTicketDlg::TranTookEffect(int packetType, const QString& receipt, QString& why) {
  QString problem;
  bool open = true;
  if (packetType == kTranEnd) {
    // An open ticket without books is not listed: there is nothing on it to pay.
    CDataArray<CSLOpenTicketInfo> tickets;
    QString reply;
    const bool read = ReadOpenTickets(tickets, reply, true);
    if (!read) problem = reply;
    open = !read || ListsReceipt(tickets, receipt);
  } else if (ReloadLines(SelectedLine(), problem)) {
    open = m_itemList->topLevelItemCount() > 0;
  }
  if (!open) return true;
  const bool end = packetType == kTranEnd;
  if (problem.isEmpty()) {  // what the wait left open is settled
    why = end ? QStringLiteral("Receipt %1 is still open on the store server: it has not ended, so do not pay the "
                               "student yet. Press End again to end it.")
              : QStringLiteral("Receipt %1 still has its books on the store server: they have not been deleted. "
                               "Press Delete again to delete them.");
  } else {
    why += QLatin1Char('\n') + problem + QLatin1Char('\n') +
           (end ? QStringLiteral("Receipt %1 may still be open on the store server, so do not pay the student yet. "
                                 "Press End again to end it.")
                : QStringLiteral("Receipt %1 may still have its books on the store server. Press Delete again to "
                                 "delete them."));
  }
  why = why.arg(receipt);
  return false;
}

bool CTicketDlg::SelectItemDetail(const QString& xref, CSLDetailInfo& detail) {
  CSelectItemDlg dlg(CGlobalQueryStrings::GetSLItemDetail(m_pSession->m_nSessionID, xref, m_nStoreNum), this);
  if (dlg.runModal() != platform::IDOK) return false;
  detail = dlg.GetSelected();
  return true;
}

bool CTicketDlg::SelectPurchase(const QString& itemId, CSLPurchaseDtlInfo& purchase) {
  CPurchasersDlg dlg(CGlobalQueryStrings::GetSLPurchase(m_pSession->m_nSessionID, itemId, m_nStoreNum), this);
  if (dlg.runModal() != platform::IDOK) return false;
  purchase = dlg.GetSelected();
  return true;
}

void CTicketDlg::OnEnter() {
  const QString xref = controlText(IDC_XREF);
  if (xref.isEmpty()) return;
  CSLDetailInfo detail;
  if (SelectItemDetail(xref, detail)) AddItem(detail);
  ResetXref();
}

void CTicketDlg::AddItem(const CSLDetailInfo& detail) {
  CSLPurchaseDtlInfo purchase;
  if (!SelectPurchase(detail.m_strItemID, purchase)) return;
  std::unique_ptr<CTicketItem> item(CreateItem(detail, purchase, NextLineNumber()));
  if (!item) return;
  item->m_purchase = purchase;
  item->m_detail = detail;
  if (NeedsEditFirst(*item) && !EditItem(item.get())) return;
  if (!EditUntilValid(item.get())) return;
  if (!SendItem(*item, wire::kPacketNewItem)) return;
  InsertItemRow(item.release());
}

// The buyer sees the line before the rules unless the book needs no look:
// no condition check, no fixed need, not reported stolen.
bool CTicketDlg::NeedsEditFirst(const CTicketItem& item) const {
  const bool conditionCheck = m_pSession->m_nConditionCheck != 0 && item.m_purchase.m_nConditionCheck != 0;
  return conditionCheck || LeadingInteger(item.m_purchase.m_strNeedQty) != 0 || item.m_detail.m_nStolen != 0;
}

bool CTicketDlg::EditUntilValid(CTicketItem* pItem) {
  while (!ValidateItem(pItem))
    if (!EditItem(pItem)) return false;
  return true;
}

void CTicketDlg::OnEdit() {
  CTicketItem* listed = GetSelectedItem();
  if (!listed) return;
  CTicketItem copy(*listed);
  if (!EditItem(&copy) || !EditUntilValid(&copy)) return;
  if (!SendItem(copy, wire::kPacketChange)) return;
  *listed = copy;
  RefreshSelectedRow();
}

void CTicketDlg::OnDeleteItem() {
  CTicketItem* item = GetSelectedItem();
  if (!item) return;
  if (platform::messageBox(this, QStringLiteral("Are you sure you want to delete this item?"), SellinCaption(),
                           platform::MessageIcon::Question, platform::MessageButtons::YesNo) != platform::IDYES)
    return;
  if (!SendItem(*item, wire::kPacketDelete)) return;
  const QList<QTreeWidgetItem*> selected = m_itemList->selectedItems();
  delete m_itemList->takeTopLevelItem(m_itemList->indexOfTopLevelItem(selected.first()));
  delete item;
  UpdateTotal();
}

void CTicketDlg::OnDetails() { ShowTicketItemDetails(GetSelectedItem(), this); }

void CTicketDlg::OnLookup() {
  if (const CTicketItem* item = GetSelectedItem()) LookUpTicketItem(*item);
}

void CTicketDlg::OnDeleteTicket() {
  if (platform::messageBox(this, QStringLiteral("Delete current data?\n(This refreshes ticket)"), SellinCaption(),
                           platform::MessageIcon::Question, platform::MessageButtons::YesNo) != platform::IDYES)
    return;
  if (SendTran(kTranDelete, m_strReceipt)) LoadTicket();
}

void CTicketDlg::OnEnd() {
  if (SendTran(kTranEnd, m_strReceipt)) LoadTicket();
}

void CTicketDlg::OnPrint() {
  QString text;
  if (RunQuery(CGlobalQueryStrings::GetSLPrint(m_strReceipt, m_nStoreNum), text)) PrintReceipt(text);
}

void CTicketDlg::PrintReceipt(const QString& text) {
  CPrinter printer;
  if (!printer.Open()) return;
  printer.Print(text);
  printer.Close();
}

void CTicketDlg::OnTickets() {
  CDataArray<CSLOpenTicketInfo> tickets;
  QString reply;
  if (!ReadOpenTickets(tickets, reply, false)) {
    showFailure(this, reply);
    return;
  }
  if (tickets.IsEmpty()) {
    platform::messageBox(this, QStringLiteral("You have no open tickets with books at this store."), SellinCaption(),
                         platform::MessageIcon::Information, platform::MessageButtons::Ok);
    return;
  }
  CSelectTicketDlg dlg(&tickets, this);
  const int result = dlg.runModal();
  if (dlg.m_nSelected < 0) return;
  if (result == CSelectTicketDlg::kContinue) ContinueTicket(tickets.GetAt(dlg.m_nSelected));
  if (result == CSelectTicketDlg::kEnd) EndTicket(tickets.GetAt(dlg.m_nSelected));
}

void CTicketDlg::EndTicket(const CSLOpenTicketInfo& ticket) {
  const QString receipt = CGlobalFunctions::TrimString(ticket.m_strReceipt, false);
  if (SendTran(kTranEnd, receipt) && receipt == m_strReceipt) LoadTicket();
}

// Any receipt of the store, typed or scanned, printed again as a copy.
void CTicketDlg::OnReprint() {
  QString receipt;
  {
    CFlagScope prompting(m_bScanForStudentID);
    if (!CGlobalFunctions::ShowScanDlg(QStringLiteral("Receipt #"), receipt, &m_scanner, this)) return;
  }
  if (receipt.isEmpty()) return;
  QString text;
  if (RunQuery(CGlobalQueryStrings::GetSLPrint(receipt, m_nStoreNum, true), text)) PrintReceipt(text);
}

void CTicketDlg::RunCommand(void (CTicketDlg::*handler)()) {
  if (m_bInCommand) return;
  {
    CFlagScope command(m_bInCommand);
    if (!m_bLinesUnread || ReloadLines(m_nLineToSelect)) (this->*handler)();
  }
  // After any box or window of the command, the buyer's next book goes where books are typed.
  focusControl(IDC_XREF);
}

// A scan during a prompt (student ID, receipt) goes to the prompt only. Any other scan
// starts Enter, unless a command of the ticket or another window is still
// open: a second add must never start inside one still pending.
qintptr CTicketDlg::OnScanData(const QVariant& wParam, const QVariant& lParam) {
  QWidget* active = QApplication::activeModalWidget();
  if (m_bScanForStudentID) {
    if (auto* prompt = qobject_cast<platform::Dialog*>(active); prompt && prompt != this)
      prompt->sendMessage(platform::WM_SCAN_DATA, wParam, lParam);
    return -1;
  }
  if (m_bInCommand || (active && active != this)) {
    QApplication::beep();
    return -1;
  }
  setControlText(IDC_XREF, wParam.toString());
  RunCommand(&CTicketDlg::OnEnter);
  return -1;
}
