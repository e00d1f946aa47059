#include "sellin/purchasers_dlg.h"

#include <QTreeWidget>

#include "sellin/sellin_lists.h"
#include "tessel/global_functions.h"

namespace {

platform::DialogTemplate purchasersTemplate() {
  using namespace platform;
  using D = CPurchasersDlg;
  DialogTemplate t;
  t.id = D::IDD;
  t.title = QStringLiteral("Dialog");
  t.size = {160, 165};
  t.controls = {
      {D::IDC_LIST, ControlKind::ListView, {}, {7, 7, 146, 66}, NoHeader | Border},
      StaticControl(D::IDC_STATUS_LABEL, "Status:", {7, 75, 48, 8}),
      StaticControl(D::IDC_STATUS, "status", {65, 75, 88, 8}),
      StaticControl(D::IDC_BOUGHT_LABEL, "Bought Qty:", {7, 85, 48, 8}),
      StaticControl(D::IDC_BOUGHT, "bought qty", {65, 85, 88, 8}),
      StaticControl(D::IDC_NEED_LABEL, "Need Qty:", {7, 95, 48, 8}),
      StaticControl(D::IDC_NEED, "need qty", {65, 95, 88, 8}),
      StaticControl(D::IDC_BUY_QTY_LABEL, "Buy Qty:", {7, 105, 48, 8}),
      StaticControl(D::IDC_BUY_QTY, "buy qty", {65, 105, 88, 8}),
      StaticControl(D::IDC_BUY_PRICE_LABEL, "Buy Price:", {7, 115, 48, 8}),
      StaticControl(D::IDC_BUY_PRICE, "buy price", {65, 115, 88, 8}),
      StaticControl(D::IDC_RETAIL_LABEL, "Retail Price:", {7, 125, 48, 8}),
      StaticControl(D::IDC_RETAIL, "retail price", {65, 125, 88, 8}),
      {IDCANCEL, ControlKind::PushButton, QStringLiteral("Cancel"), {119, 144, 34, 14}},
  };
  return t;
}

constexpr int kLabelIds[] = {CPurchasersDlg::IDC_STATUS_LABEL,    CPurchasersDlg::IDC_BOUGHT_LABEL,
                             CPurchasersDlg::IDC_NEED_LABEL,      CPurchasersDlg::IDC_BUY_QTY_LABEL,
                             CPurchasersDlg::IDC_BUY_PRICE_LABEL, CPurchasersDlg::IDC_RETAIL_LABEL};

}  // namespace

CPurchasersDlg::CPurchasersDlg(const QString& query, QWidget* parent)
    : CChooserDlg(purchasersTemplate(), IDC_LIST, parent), m_strQuery(query) {}

bool CPurchasersDlg::onInitDialog() {
  for (std::size_t i = 0; i < m_labels.size(); ++i) {
    m_labels[i].Attach(control(kLabelIds[i]));
    m_labels[i].SetBold(true);
  }
  SetUpList();
  if (!QueryRecords(m_strQuery)) endDialog(platform::IDCANCEL);
  else if (m_records.GetSize() == 1) onOk();
  return true;
}

void CPurchasersDlg::SetUpList() {
  SetUpColumns(m_listCtrl, {{QStringLiteral("Purchasers"), m_listCtrl->contentsRect().width()}});
}

QStringList CPurchasersDlg::RowTexts(const CSLPurchaseDtlInfo& purchase) const {
  return {CGlobalFunctions::TrimString(purchase.m_strPurchaser, false)};
}

void CPurchasersDlg::ShowRecord(const CSLPurchaseDtlInfo& p) {
  setControlText(IDC_STATUS, CGlobalFunctions::TrimString(p.m_strStatus, false));
  setControlText(IDC_BOUGHT, CGlobalFunctions::TrimString(p.m_nBoughtQty));
  setControlText(IDC_NEED, CGlobalFunctions::TrimString(p.m_strNeedQty, true));
  setControlText(IDC_BUY_QTY, CGlobalFunctions::TrimString(p.m_strBuyQty, true));
  setControlText(IDC_BUY_PRICE, CGlobalFunctions::TrimString(p.m_strBuyPrice, true));
  setControlText(IDC_RETAIL, CGlobalFunctions::TrimString(p.m_strRetailPrice, true));
}

void CPurchasersDlg::onOk() { Choose(platform::IDOK); }
