#include "sellin/edit_item_dlg.h"

#include <QComboBox>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

#include "sellin/item_rules.h"
#include "sellin/stolen_items_dlg.h"
#include "sellin/ticket_item.h"
#include "tessel/global_functions.h"
#include "tessel/trim.h"
#include "wire/item_rules.h"

namespace {

platform::DialogTemplate editItemTemplate() {
  using namespace platform;
  using D = CEditItemDlg;
  DialogTemplate t;
  t.id = D::IDD;
  t.title = QStringLiteral("Edit Item");
  t.size = {160, 165};
  t.captionOk = true;  // the handheld's OK sits in the caption: closing confirms
  t.controls = {
      {100, ControlKind::Label, QStringLiteral("ISBN:"), {7, 7, 19, 8}},
      {D::IDC_ISBN, ControlKind::Label, QStringLiteral("isbn"), {29, 7, 124, 8}},
      {D::IDC_DESC, ControlKind::Label, QStringLiteral("Desc"), {7, 16, 146, 16}},
      {D::IDC_PURCHASER, ControlKind::Label, QStringLiteral("Purchaser"), {7, 38, 146, 8}},
      {D::IDC_STATUS_LABEL, ControlKind::Label, QStringLiteral("Status:"), {7, 48, 27, 8}},
      {D::IDC_STATUS, ControlKind::Label, QStringLiteral("Status"), {46, 48, 107, 8}},
      {D::IDC_NEED_LABEL, ControlKind::Label, QStringLiteral("Need Qty:"), {7, 58, 37, 8}},
      {D::IDC_NEED, ControlKind::Label, QStringLiteral("Need Qty"), {46, 58, 107, 8}},
      {D::IDC_PRICE_LABEL, ControlKind::Label, QStringLiteral("Buy Price:"), {7, 68, 36, 8}},
      {D::IDC_BUY_PRICE, ControlKind::Label, QStringLiteral("buy price"), {46, 68, 107, 8}},
      {D::IDC_CONDITION, ControlKind::Label, QStringLiteral("condition"), {7, 78, 146, 8}},
      {D::IDC_MORE, ControlKind::PushButton, QStringLiteral("More..."), {122, 90, 31, 14}},
      {D::IDC_STOLEN, ControlKind::Label, QStringLiteral("Stolen Book"), {7, 94, 44, 8}},
      {D::IDC_QTY, ControlKind::Edit, {}, {7, 106, 30, 21}, Border},
      {101, ControlKind::Label, QStringLiteral("$"), {67, 112, 10, 8}, AlignRight},
      {D::IDC_PRICE, ControlKind::ComboBox, {}, {85, 110, 68, 74}, Editable | Sorted},
      {D::IDC_LOOKUP, ControlKind::PushButton, QStringLiteral("Lookup"), {7, 144, 31, 14}},
      {D::IDC_DETAILS, ControlKind::PushButton, QStringLiteral("Details"), {43, 144, 31, 14}},
      {IDCANCEL, ControlKind::PushButton, QStringLiteral("Cancel"), {122, 144, 31, 14}},
  };
  return t;
}

constexpr int kStaticIds[] = {CEditItemDlg::IDC_PURCHASER,    CEditItemDlg::IDC_STATUS,
                              CEditItemDlg::IDC_NEED,         CEditItemDlg::IDC_BUY_PRICE,
                              CEditItemDlg::IDC_STATUS_LABEL, CEditItemDlg::IDC_NEED_LABEL,
                              CEditItemDlg::IDC_PRICE_LABEL,  CEditItemDlg::IDC_CONDITION};

}  // namespace

QString StripLeadingZeros(const QString& text) {
  qsizetype zeros = 0;
  while (zeros < text.size() && text.at(zeros) == QLatin1Char('0')) ++zeros;
  const QString rest = text.mid(zeros);
  if (rest.isEmpty()) return QStringLiteral("0");
  return rest.startsWith(QLatin1Char('.')) ? QLatin1Char('0') + rest : rest;
}

CEditItemDlg::CEditItemDlg(CTicketItem* pItem, bool bConditionCheck, QWidget* parent)
    : platform::Dialog(editItemTemplate(), parent), m_pItem(pItem), m_bConditionCheck(bConditionCheck) {
  label(IDC_DESC)->setWordWrap(true);
  connect(button(IDC_LOOKUP), &QPushButton::clicked, this, &CEditItemDlg::OnLookup);
  connect(button(IDC_DETAILS), &QPushButton::clicked, this, &CEditItemDlg::OnDetails);
  connect(button(IDC_MORE), &QPushButton::clicked, this, &CEditItemDlg::OnMore);
  edit(IDC_QTY)->installEventFilter(this);
  // The price box's edit field keeps Return to itself; it means OK here too.
  connect(comboBox(IDC_PRICE)->lineEdit(), &QLineEdit::returnPressed, this, [this] { onOk(); });
}

bool CEditItemDlg::onInitDialog() {
  for (std::size_t i = 0; i < m_statics.size(); ++i) {
    m_statics[i].Attach(control(kStaticIds[i]));
    m_statics[i].SetBold(true);
  }
  m_qtyEdit.Attach(control(IDC_QTY));
  m_qtyEdit.ChangeSize(10);
  WidenToShow(edit(IDC_QTY), {QString::number(wire::rules::kMinQty), QString::number(wire::rules::kMaxQty)});
  m_stolenLabel.Attach(control(IDC_STOLEN));
  m_stolenLabel.SetBold(true);
  FillPriceCombo();
  FillFields();
  edit(IDC_QTY)->selectAll();
  focusControl(IDC_QTY);
  return true;
}

void CEditItemDlg::FillPriceCombo() {
  QComboBox* combo = comboBox(IDC_PRICE);
  platform::addListEntry(combo, StripLeadingZeros(m_pItem->m_purchase.m_strBuyPrice), 0);
  platform::addListEntry(combo, StripLeadingZeros(m_pItem->m_purchase.m_strAltPrice), 0);
  combo->setCurrentIndex(-1);
  combo->setEditText(QString());
}

void CEditItemDlg::SetFieldText(int id, const QString& text, bool strip) {
  const QString shown = TrimLeading(text);
  setControlText(id, strip ? StripLeadingZeros(shown) : shown);
}

void CEditItemDlg::FillFields() {
  const CSLPurchaseDtlInfo& purchase = m_pItem->m_purchase;
  SetFieldText(IDC_ISBN, m_pItem->m_detail.m_strISBN, false);
  SetFieldText(IDC_DESC, m_pItem->m_detail.m_strDesc, false);
  SetFieldText(IDC_PURCHASER, purchase.m_strPurchaser, false);
  SetFieldText(IDC_STATUS, purchase.m_strStatus, false);
  SetFieldText(IDC_NEED, purchase.m_strNeedQty, true);
  SetFieldText(IDC_BUY_PRICE, purchase.m_strBuyPrice, true);
  setControlText(IDC_QTY, QString::number(m_pItem->m_nQty));
  const bool showCondition = purchase.m_nConditionCheck != 0 && m_bConditionCheck;
  if (showCondition) setControlText(IDC_CONDITION, purchase.m_strCondition);
  setControlVisible(IDC_CONDITION, showCondition);
  if (m_pItem->m_detail.m_nStolen == 0) {
    setControlVisible(IDC_STOLEN, false);
    setControlVisible(IDC_MORE, false);
  }
}

bool CEditItemDlg::eventFilter(QObject* watched, QEvent* event) {
  if (watched == control(IDC_QTY) && event->type() == QEvent::KeyPress)
    return FilterQtyKey(static_cast<QKeyEvent*>(event)->key());
  return platform::Dialog::eventFilter(watched, event);
}

bool CEditItemDlg::FilterQtyKey(int key) {
  if (focusWidget() != control(IDC_QTY)) return false;
  if (key >= Qt::Key_0 && key <= Qt::Key_9) return false;
  if (key == Qt::Key_Minus) {
    QString qty = controlText(IDC_QTY);
    if (!qty.isEmpty()) {
      if (qty.startsWith(QLatin1Char('-'))) qty.remove(0, 1);
      else qty.prepend(QLatin1Char('-'));
      setControlText(IDC_QTY, qty);
    }
  }
  return true;
}

void CEditItemDlg::onOk() {
  m_pItem->m_nQty = LeadingInteger(controlText(IDC_QTY));
  const QString price = comboBox(IDC_PRICE)->currentText();
  if (!price.isEmpty()) m_pItem->m_strPrice = CGlobalFunctions::VerifyDollarAmt(price);
  platform::Dialog::onOk();
}

void CEditItemDlg::OnLookup() { LookUpTicketItem(*m_pItem); }

void CEditItemDlg::OnDetails() { ShowTicketItemDetails(m_pItem, this); }

void CEditItemDlg::OnMore() {
  CStolenItemsDlg dlg(m_pItem->m_detail.m_nSKU, m_pItem->m_strStudentID, m_pItem->m_nStoreNum, this);
  dlg.runModal();
}
