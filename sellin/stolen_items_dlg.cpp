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
    : platform::Dialog(stolenItemsTemplate(), parent),
      m_nSKU(sku),
      m_strStudentID(studentId),
      m_nStoreNum(storeNum),
      m_listCtrl(listView(IDC_LIST)) {
  connect(m_listCtrl, &QTreeWidget::itemDoubleClicked, this, &CStolenItemsDlg::ShowDetail);
  connect(button(IDC_DETAIL), &QPushButton::clicked, this, &CStolenItemsDlg::ShowDetail);
  connect(m_listCtrl, &QTreeWidget::itemSelectionChanged, this, &CStolenItemsDlg::ShowSelected);
  label(IDC_DESC)->setWordWrap(true);
  label(IDC_COMMENT)->setWordWrap(true);
}

bool CStolenItemsDlg::onInitDialog() {
  if (!RunQuery()) {
    endDialog(platform::IDCANCEL);
    return true;
  }
  SetUpList();
  FillList();
  if (m_items.GetSize() == 1) ShowDetail();
  return true;
}

bool CStolenItemsDlg::RunQuery() {
  const QString query = CGlobalQueryStrings::GetSLStolenItem(m_nSKU, m_strStudentID, m_nStoreNum);
  const std::optional<CListReply> reply = SendListQuery(this, query);
  if (!reply) return false;
  m_items.FillFromResponse(reply->text);
  return true;
}

void CStolenItemsDlg::SetUpList() {
  const int w = width();
  SetUpColumns(m_listCtrl, {{QStringLiteral("ISBN"), int(w * 0.58)}, {QStringLiteral("SKU"), 11 - int(w * -0.25)}});
}

void CStolenItemsDlg::FillList() {
  for (int i = 0; i < m_items.GetSize(); ++i) {
    const CSLStolenItemInfo& item = m_items.GetAt(i);
    AddListRow(m_listCtrl, {TrimLeading(item.m_strISBN), QString::asprintf("%d", item.m_nSKU)});
  }
  SelectFirstRow(m_listCtrl);
  ShowSelected();
}

int CStolenItemsDlg::SelectedRow() const { return SelectedListRow(m_listCtrl, m_items.GetSize()); }

void CStolenItemsDlg::ShowSelected() {
  const int row = SelectedRow();
  if (row < 0) return;
  setControlText(IDC_DESC, m_items.GetAt(row).m_strDesc);
  setControlText(IDC_COMMENT, m_items.GetAt(row).m_strComment);
}

void CStolenItemsDlg::ShowDetail() {
  const int row = SelectedRow();
  if (row < 0) return;
  CStolenItemFill fill;
  if (!fill.Fill(&m_items.GetAt(row))) return;
  CGlobalFunctions::DisplayDetailDlg(fill.GetDataArr(), this);
  if (m_items.GetSize() == 1) endDialog(platform::IDOK);
}
