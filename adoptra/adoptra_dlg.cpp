#include "adoptra/adoptra_dlg.h"

#include <QCheckBox>
#include <QComboBox>
#include <QHeaderView>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPushButton>
#include <QRadioButton>
#include <QTreeWidget>

#include "adoptra/adoptra_app.h"
#include "platform/message_box.h"
#include "platform/profile.h"
#include "adoptra/adoptra_fill.h"
#include "adoptra/adoptra_reply.h"
#include "tessel/global_functions.h"
#include "tessel/printer.h"
#include "tessel/query_strings.h"
#include "tessel/trim.h"
#include "wire/exchange.h"

namespace {

const QString kItemBtn = QStringLiteral("ItemBtn");
const QString kRestrictLookup = QStringLiteral("RestrictLookup");
const QString kStoreNum = QStringLiteral("StoreNum");

QString adoptraSection() { return CGlobalFunctions::GetAppName(wire::kAppAdoptra); }

platform::DialogTemplate adoptraTemplate() {
  using namespace platform;
  DialogTemplate t;
  t.id = CAdoptraDlg::IDD;
  t.title = QStringLiteral("Adoptra");
  t.size = {160, 165};
  t.controls = {
      {CAdoptraDlg::IDC_STORE, ControlKind::ComboBox, {}, {7, 7, 146, 129}, Sorted},
      {CAdoptraDlg::IDC_STUDENT, ControlKind::RadioButton, QStringLiteral("Student"), {8, 23, 39, 10}},
      {CAdoptraDlg::IDC_ITEM, ControlKind::RadioButton, QStringLiteral("Item"), {52, 23, 31, 10}},
      {CAdoptraDlg::IDC_CLEAR, ControlKind::PushButton, QStringLiteral("Clear"), {123, 22, 30, 12}},
      {CAdoptraDlg::IDC_CODE, ControlKind::Edit, {}, {7, 35, 113, 14}, Border},
      {CAdoptraDlg::IDC_ENTER, ControlKind::DefaultPushButton, QStringLiteral("Enter"), {123, 36, 30, 12}},
      {CAdoptraDlg::IDC_RESULTS, ControlKind::ListView, {}, {7, 62, 146, 66}, NoHeader | Border},
      {CAdoptraDlg::IDC_DETAILS, ControlKind::PushButton, QStringLiteral("Details"), {7, 146, 30, 12}},
      {CAdoptraDlg::IDC_PROBLEM, ControlKind::PushButton, QStringLiteral("Problem"), {40, 146, 33, 12}},
      {CAdoptraDlg::IDC_TERM, ControlKind::Label, QStringLiteral("Static"), {7, 132, 103, 8}},
      {CAdoptraDlg::IDC_PRINT, ControlKind::PushButton, QStringLiteral("Print"), {120, 146, 33, 12}},
      {CAdoptraDlg::IDC_SHOW_CLOSED, ControlKind::CheckBox, QStringLiteral("Show Closed Terms"), {7, 51, 78, 10}},
  };
  return t;
}

CAdoptraApp* adoptraApp() { return dynamic_cast<CAdoptraApp*>(CShellApp::Instance()); }

}  // namespace

CAdoptraDlg::CAdoptraDlg(QWidget* parent)
    : platform::Dialog(adoptraTemplate(), parent),
      m_bRestrictLookup(platform::Profile::readInt(adoptraSection(), kRestrictLookup, 0) != 0),
      m_bItemMode(platform::Profile::readInt(adoptraSection(), kItemBtn, 1) == 1),
      m_storeCombo(comboBox(IDC_STORE)),
      m_resultList(listView(IDC_RESULTS)) {
  connect(button(IDC_CLEAR), &QPushButton::clicked, this, &CAdoptraDlg::OnClear);
  connect(button(IDC_DETAILS), &QPushButton::clicked, this, &CAdoptraDlg::OnDetails);
  connect(button(IDC_ENTER), &QPushButton::clicked, this, &CAdoptraDlg::OnEnter);
  connect(radioButton(IDC_ITEM), &QRadioButton::clicked, this, &CAdoptraDlg::OnItemMode);
  connect(radioButton(IDC_STUDENT), &QRadioButton::clicked, this, &CAdoptraDlg::OnStudentMode);
  // Only the clerk's choice counts as a change, not the selection made on opening.
  connect(m_storeCombo, &QComboBox::activated, this, &CAdoptraDlg::OnStoreChanged);
  connect(edit(IDC_CODE), &QLineEdit::textChanged, this, &CAdoptraDlg::OnTextChanged);
  connect(button(IDC_PROBLEM), &QPushButton::clicked, this, &CAdoptraDlg::OnProblem);
  connect(m_resultList, &QTreeWidget::itemDoubleClicked, this, &CAdoptraDlg::OnResultDblClk);
  connect(button(IDC_PRINT), &QPushButton::clicked, this, &CAdoptraDlg::OnPrint);
  connect(checkBox(IDC_SHOW_CLOSED), &QCheckBox::clicked, this, &CAdoptraDlg::OnShowClosedTerms);
  m_resultList->viewport()->installEventFilter(this);
  onMessage(platform::WM_SCANNER,
            [this](const QVariant& w, const QVariant& l) { return m_scanner.OnScannerMsg(w, l); });
  onMessage(platform::WM_SCAN_DATA, [this](const QVariant& w, const QVariant&) { return OnScanData(w); });
}

CAdoptraDlg::~CAdoptraDlg() = default;

bool CAdoptraDlg::onInitDialog() {
  platform::Dialog::onInitDialog();
  FillStoreCombo();
  ShowResults(false);
  SetUpResultList();
  radioButton(m_bItemMode ? IDC_ITEM : IDC_STUDENT)->setChecked(true);
  m_scanner.Init(this);
  focusControl(IDC_CODE);
  return false;
}

void CAdoptraDlg::onDestroy() {
  platform::Dialog::onDestroy();
  m_scanner.CloseScanner();
}

// A click on the empty part of the list leaves no row selected, as on the handheld.
bool CAdoptraDlg::eventFilter(QObject* watched, QEvent* event) {
  if (watched == m_resultList->viewport() && event->type() == QEvent::MouseButtonRelease) {
    const auto* mouse = static_cast<QMouseEvent*>(event);
    if (!m_resultList->itemAt(mouse->position().toPoint())) m_resultList->clearSelection();
    OnResultClick();
  }
  return platform::Dialog::eventFilter(watched, event);
}

void CAdoptraDlg::FillStoreCombo() {
  const int storeNum = platform::Profile::readInt(CGlobalFunctions::GetAppName(wire::kAppStoreDefaults), kStoreNum, 1);
  if (CAdoptraApp* app = adoptraApp()) CGlobalFunctions::FillLocationCombo(m_storeCombo, app->m_locations, storeNum);
}

void CAdoptraDlg::SetUpResultList() {
  m_resultList->setSelectionMode(QAbstractItemView::SingleSelection);
  m_resultList->setSelectionBehavior(QAbstractItemView::SelectRows);
  m_resultList->setColumnCount(3);
  m_resultList->setHeaderLabels({QStringLiteral("DEPT"), QStringLiteral("CRS"), QStringLiteral("SEC")});
  const int width = m_resultList->frameGeometry().width();
  m_resultList->setColumnWidth(0, width / 3);
  m_resultList->setColumnWidth(1, width / 3);
  m_resultList->setColumnWidth(2, width / 3 - 2);
}

void CAdoptraDlg::ShowResults(bool show) {
  for (int id : {IDC_RESULTS, IDC_DETAILS, IDC_TERM, IDC_PRINT}) setControlVisible(id, show);
  setControlVisible(IDC_PROBLEM, show && !m_problems.IsEmpty());
  setControlVisible(IDC_ENTER, !show);
}

void CAdoptraDlg::SaveItemMode(bool item) {
  platform::Profile::writeInt(adoptraSection(), kItemBtn, item ? 1 : 0);
  m_bItemMode = item;
}

void CAdoptraDlg::OnStudentMode() {
  if (!m_bItemMode) return;
  SaveItemMode(false);
  OnClear();
}

void CAdoptraDlg::OnItemMode() {
  if (m_bItemMode) return;
  SaveItemMode(true);
  OnClear();
}

void CAdoptraDlg::OnClear() {
  ShowResults(false);
  setControlText(IDC_CODE, QString());
  focusControl(IDC_CODE);
}

void CAdoptraDlg::OnTextChanged() { ShowResults(false); }

void CAdoptraDlg::OnEnter() { LookUp(); }

void CAdoptraDlg::OnStoreChanged() {
  const int store = SelectedStore();
  platform::Profile::writeInt(adoptraSection(), kStoreNum, store);
  LookUp();
}

qintptr CAdoptraDlg::OnScanData(const QVariant& wParam) {
  setControlText(IDC_CODE, QStringLiteral("%1").arg(wParam.toString()));
  LookUp();
  return -1;
}

int CAdoptraDlg::SelectedStore() const {
  return int(platform::listEntryData(m_storeCombo, m_storeCombo->currentIndex()));
}

bool CAdoptraDlg::Exchange(const QString& query, bool stopIcon) {
  // The exchange blocks the window; show what it has become before it does.
  paintNow();
  CSocketMessage& msg = CShellApp::Instance()->m_socketMsg;
  msg.Reset();
  msg.AddQuery(wire::kPacketQuery, query);
  if (msg.SendQuery() && !msg.IsError(0)) return true;
  platform::messageBox(this, msg.GetResponse(0), windowTitle(),
                       stopIcon ? platform::MessageIcon::Stop : platform::MessageIcon::None,
                       platform::MessageButtons::Ok);
  return false;
}

void CAdoptraDlg::LookUp() {
  const QString code = controlText(IDC_CODE);
  if (code.isEmpty()) return;
  const int store = SelectedStore();
  if (store == -1) return;
  const QString query = m_bItemMode ? CGlobalQueryStrings::GetAdoptraItem(code, store, m_bRestrictLookup)
                                    : CGlobalQueryStrings::GetAdoptraStudent(code, store, m_bRestrictLookup);
  if (!CShellApp::Instance()) return;
  m_problems.RemoveAll();
  m_results.RemoveAll();
  if (Exchange(query, true)) {
    const CAdoptraReply reply = SplitAdoptraReply(CShellApp::Instance()->m_socketMsg.GetResponse(0));
    if (reply.m_bHasProblems) m_problems.FillFromResponse(reply.m_strProblems);
    m_results.FillFromResponse(reply.m_strCourses);
    ShowResults(true);
    FillResultList();
  }
  focusControl(IDC_CODE);
}

void CAdoptraDlg::FillResultList() {
  m_resultList->clear();
  for (int i = 0; i < m_results.GetSize(); ++i) {
    const CAdoptraInfo& course = m_results[i];
    if (!m_bShowClosedTerms && course.m_nTermOpen == 0) continue;
    auto* row = new QTreeWidgetItem(m_resultList, {TrimLeading(course.m_strDepartment), TrimLeading(course.m_strCourse),
                                                   TrimLeading(course.m_strSection)});
    row->setData(0, Qt::UserRole, i);
  }
  if (m_resultList->topLevelItemCount() == 0) return;
  QTreeWidgetItem* first = m_resultList->topLevelItem(0);
  ShowTerm(first->data(0, Qt::UserRole).toInt());
  m_resultList->setCurrentItem(first);
}

void CAdoptraDlg::ShowTerm(int record) {
  if (record < 0 || record >= m_results.GetSize()) return;
  setControlText(IDC_TERM, TrimLeading(m_results[record].m_strTerm));
}

int CAdoptraDlg::GetSelectedRow(bool wantRecord) const {
  const QList<QTreeWidgetItem*> selected = m_resultList->selectedItems();
  if (selected.isEmpty()) return -1;
  QTreeWidgetItem* row = selected.first();
  return wantRecord ? row->data(0, Qt::UserRole).toInt() : m_resultList->indexOfTopLevelItem(row);
}

void CAdoptraDlg::OnResultClick() {
  const int record = GetSelectedRow(true);
  if (record >= 0) ShowTerm(record);
}

void CAdoptraDlg::OnResultDblClk() { OnDetails(); }

void CAdoptraDlg::OnShowClosedTerms() {
  m_bShowClosedTerms = checkBox(IDC_SHOW_CLOSED)->isChecked();
  ShowResults(true);
  FillResultList();
}

void CAdoptraDlg::OnDetails() {
  const int record = GetSelectedRow(true);
  if (record < 0) return;
  const int store = SelectedStore();
  if (store == -1) return;
  if (record >= m_results.GetSize()) return;
  const CAdoptraInfo course = m_results[record];
  const QString query = CGlobalQueryStrings::GetAdoptraDetail(course.m_strTerm, course.m_strDepartment,
                                                              course.m_strCourse, course.m_strSection, store);
  if (!CShellApp::Instance() || !Exchange(query, true)) return;
  CDataArray<CAdoptraDetailInfo> books;
  books.FillFromResponse(CShellApp::Instance()->m_socketMsg.GetResponse(0));
  CAdoptraFill fill;
  fill.FillCourse(course, &books);
  CGlobalFunctions::DisplayDetailDlg(fill.GetDataArr(), this);
}

void CAdoptraDlg::OnProblem() {
  if (m_problems.IsEmpty()) return;
  CProblemFill fill;
  fill.Fill(&m_problems);
  CGlobalFunctions::DisplayDetailDlg(fill.GetDataArr(), this);
}

void CAdoptraDlg::OnPrint() {
  const QString code = controlText(IDC_CODE);
  if (code.isEmpty()) return;
  const int store = SelectedStore();
  if (store == -1) return;
  const QString query = CGlobalQueryStrings::GetAdoptraPrint(code, store, !m_bItemMode);
  if (!CShellApp::Instance() || !Exchange(query, false)) return;
  CPrinter printer;
  if (!printer.Open()) return;
  printer.Print(CShellApp::Instance()->m_socketMsg.GetResponse(0));
  printer.Close();
}
