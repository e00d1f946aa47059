#include "sellin/select_item_dlg.h"

#include <QLabel>
#include <QPushButton>
#include <QTreeWidget>

#include "sellin/sellin_lists.h"
#include "tessel/global_functions.h"

namespace {

platform::DialogTemplate selectItemTemplate() {
  using namespace platform;
  using D = CSelectItemDlg;
  DialogTemplate t;
  t.id = D::IDD;
  t.title = QStringLiteral("Dialog");
  t.size = {160, 165};
  t.controls = {
      StaticControl(D::IDC_PAGE, "Page xxx of xxx", {98, 0, 54, 8}),
      {D::IDC_LIST, ControlKind::ListView, {}, {7, 9, 146, 56}, NoHeader | Border},
      StaticControl(D::IDC_BOOKKEY_LABEL, "Book Key:", {7, 68, 41, 8}),
      StaticControl(D::IDC_BOOKKEY, "bookkey", {65, 68, 88, 8}),
      StaticControl(D::IDC_BOOKKEY_LABEL + 1, "Imprint:", {7, 76, 41, 8}),
      StaticControl(D::IDC_IMPRINT, "imprint", {65, 76, 88, 8}),
      StaticControl(D::IDC_BOOKKEY_LABEL + 2, "Binding:", {7, 84, 41, 8}),
      StaticControl(D::IDC_BINDING, "binding", {65, 84, 88, 8}),
      StaticControl(D::IDC_BOOKKEY_LABEL + 3, "ED:", {7, 92, 16, 8}),
      StaticControl(D::IDC_EDITION, "ed", {25, 92, 10, 8}),
      StaticControl(D::IDC_BOOKKEY_LABEL + 4, "Stolen:", {45, 92, 26, 8}),
      StaticControl(D::IDC_STOLEN, "s", {72, 92, 10, 8}),
      StaticControl(D::IDC_BOOKKEY_LABEL + 5, "Guide:", {92, 92, 24, 8}),
      StaticControl(D::IDC_GUIDE, "g", {117, 92, 20, 8}),
      StaticControl(D::IDC_DESC, "desc", {7, 101, 146, 35}),
      {D::IDC_PREV, ControlKind::PushButton, QStringLiteral("Prev"), {7, 144, 28, 14}},
      {D::IDC_NEXT, ControlKind::PushButton, QStringLiteral("Next"), {38, 144, 28, 14}},
      {IDCANCEL, ControlKind::PushButton, QStringLiteral("Cancel"), {119, 144, 34, 14}},
  };
  return t;
}

QString yesNo(int flag) { return flag != 0 ? QStringLiteral("Y") : QStringLiteral("N"); }

}  // namespace

CSelectItemDlg::CSelectItemDlg(const QString& query, QWidget* parent)
    : CChooserDlg(selectItemTemplate(), IDC_LIST, parent), m_strQuery(query) {
  connect(button(IDC_NEXT), &QPushButton::clicked, this, &CSelectItemDlg::OnNext);
  connect(button(IDC_PREV), &QPushButton::clicked, this, &CSelectItemDlg::OnPrev);
  label(IDC_DESC)->setWordWrap(true);
}

bool CSelectItemDlg::onInitDialog() {
  for (std::size_t i = 0; i < m_labels.size(); ++i) {
    m_labels[i].Attach(control(IDC_BOOKKEY_LABEL + int(i)));
    m_labels[i].SetBold(true);
  }
  SetUpList();
  if (!QueryPage(m_nPage)) {
    endDialog(platform::IDCANCEL);
  } else if (m_records.GetSize() == 1) {
    onOk();
  }
  return true;
}

void CSelectItemDlg::SetUpList() {
  const int w = m_listCtrl->contentsRect().width();
  SetUpColumns(m_listCtrl, {{QStringLiteral("ISBN"), int(w * 0.5)}, {QStringLiteral("SKU"), int(w * 0.42)}});
}

bool CSelectItemDlg::QueryPage(int page) {
  const std::optional<CListReply> reply = QueryRecords(m_strQuery, page);
  if (!reply) return false;
  m_nPage = reply->page;
  ShowPaging(reply->pageCount);
  return true;
}

void CSelectItemDlg::ShowPaging(int pageCount) {
  setControlVisible(IDC_PREV, m_nPage >= 2);
  setControlVisible(IDC_NEXT, pageCount != -1 && pageCount != m_nPage);
  if (m_nPage == -1) setControlVisible(IDC_PAGE, false);
  else setControlText(IDC_PAGE, QStringLiteral("Page %1 of %2").arg(m_nPage).arg(pageCount));
}

QStringList CSelectItemDlg::RowTexts(const CSLDetailInfo& detail) const {
  return {CGlobalFunctions::TrimString(detail.m_strISBN, false), CGlobalFunctions::TrimSKU(detail.m_nSKU)};
}

void CSelectItemDlg::ShowRecord(const CSLDetailInfo& d) {
  setControlText(IDC_BOOKKEY, CGlobalFunctions::TrimString(d.m_strBookKey, false));
  setControlText(IDC_IMPRINT, CGlobalFunctions::TrimString(d.m_strImprint, false));
  setControlText(IDC_BINDING, CGlobalFunctions::TrimString(d.m_strBinding, false));
  setControlText(IDC_EDITION, CGlobalFunctions::TrimString(d.m_strEdition, false));
  setControlText(IDC_STOLEN, yesNo(d.m_nStolen));
  setControlText(IDC_GUIDE, yesNo(d.m_nGuide));
  setControlText(IDC_DESC, CGlobalFunctions::TrimString(d.m_strDesc, false));
}

void CSelectItemDlg::OnNext() { QueryPage(m_nPage + 1); }

void CSelectItemDlg::OnPrev() { QueryPage(m_nPage - 1); }

void CSelectItemDlg::onOk() { Choose(platform::IDOK); }
