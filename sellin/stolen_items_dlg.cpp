#include "sellin/stolen_items_dlg.h"

#include <QLabel>
#include <QPushButton>
#include <QTreeWidget>

#include "sellin/sellin_lists.h"
#include "sellin/stolen_item_fill.h"
#include "tessel/global_functions.h"
#include "tessel/query_strings.h"
#include "tessel/trim.h"

namespace {

platform::DialogTemplate stolenItemsTemplate() {
  using namespace platform;
  using D = CStolenItemsDlg;
  DialogTemplate t;
  t.id = D::IDD;
  t.title = QStringLiteral("Dialog");
  t.size = {160, 165};
  t.controls = {
      {D::IDC_LIST, ControlKind::ListView, {}, {7, 7, 146, 78}, NoHeader | Border},
      {D::IDC_DESC, ControlKind::Label, QStringLiteral("desc"), {7, 92, 146, 15}},
      {D::IDC_COMMENT, ControlKind::Label, QStringLiteral("comment"), {7, 114, 146, 15}},
      {D::IDC_DETAIL, ControlKind::PushButton, QStringLiteral("Detail"), {7, 144, 33, 14}},
  };
  return t;
}

}  // namespace

CStolenItemsDlg::CStolenItemsDlg(int sku, const QString& studentId, int storeNum, QWidget* parent)
    : CChooserDlg(stolenItemsTemplate(), IDC_LIST, parent),
      m_nSKU(sku),
      m_strStudentID(studentId),
      m_nStoreNum(storeNum) {
  connect(m_listCtrl, &QTreeWidget::itemDoubleClicked, this, &CStolenItemsDlg::ShowDetail);
  connect(button(IDC_DETAIL), &QPushButton::clicked, this, &CStolenItemsDlg::ShowDetail);
  label(IDC_DESC)->setWordWrap(true);
  label(IDC_COMMENT)->setWordWrap(true);
}

bool CStolenItemsDlg::onInitDialog() {
  SetUpList();
  if (!QueryRecords(CGlobalQueryStrings::GetSLStolenItem(m_nSKU, m_strStudentID, m_nStoreNum))) {
    endDialog(platform::IDCANCEL);
    return true;
  }
  if (m_records.GetSize() == 1) ShowDetail();
  return true;
}

void CStolenItemsDlg::SetUpList() {
  const int w = width();
  SetUpColumns(m_listCtrl, {{QStringLiteral("ISBN"), int(w * 0.58)}, {QStringLiteral("SKU"), 11 - int(w * -0.25)}});
}

QStringList CStolenItemsDlg::RowTexts(const CSLStolenItemInfo& item) const {
  return {TrimLeading(item.m_strISBN), QString::asprintf("%d", item.m_nSKU)};
}

void CStolenItemsDlg::ShowRecord(const CSLStolenItemInfo& item) {
  setControlText(IDC_DESC, item.m_strDesc);
  setControlText(IDC_COMMENT, item.m_strComment);
}

void CStolenItemsDlg::ShowDetail() {
  const int row = SelectedRow();
  if (row < 0) return;
  CStolenItemFill fill;
  if (!fill.Fill(&m_records.GetAt(row))) return;
  CGlobalFunctions::DisplayDetailDlg(fill.GetDataArr(), this);
  if (m_records.GetSize() == 1) endDialog(platform::IDOK);
}
