#include "stipendo/stipendo_dlg.h"

#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTreeWidget>

#include "platform/message_box.h"
#include "shell/shell_app.h"
#include "stipendo/stipendo_fill.h"
#include "tessel/query_strings.h"
#include "tessel/scanner.h"
#include "wire/exchange.h"
#include "wire/requests.h"

namespace {

const QString kEnter = QStringLiteral("Enter");
const QString kClear = QStringLiteral("Clear");
constexpr int kListGap = 6;  // pixels between the list and the controls above and below

platform::DialogTemplate stipendoTemplate() {
  using namespace platform;
  DialogTemplate t;
  t.id = CStipendoDlg::IDD;
  t.title = QStringLiteral("Stipendo");
  t.size = {160, 165};
  t.controls = {
      {CStipendoDlg::IDC_ID_LABEL, ControlKind::Label, QStringLiteral("Student ID:"), {7, 10, 42, 8}},
      {CStipendoDlg::IDC_STUDENT_ID, ControlKind::Edit, {}, {49, 7, 104, 14}, Border},
      {CStipendoDlg::IDC_ENTER, ControlKind::DefaultPushButton, kEnter, {123, 143, 30, 15}},
      {CStipendoDlg::IDC_LIST_AREA,
       ControlKind::Edit,
       {},
       {7, 24, 146, 113},
       MultiLine | ReadOnly | VerticalScroll | Border},
      {CStipendoDlg::IDC_PROMPT, ControlKind::Label, QStringLiteral("Static"), {13, 30, 110, 24}},
  };
  return t;
}

}  // namespace

CStipendoDlg::CStipendoDlg(QWidget* parent)
    : platform::Dialog(stipendoTemplate(), parent),
      m_listArea(multiLineEdit(IDC_LIST_AREA)),
      m_enterButton(button(IDC_ENTER)) {
  connect(m_enterButton, &QPushButton::clicked, this, &CStipendoDlg::OnEnter);
  connect(edit(IDC_STUDENT_ID), &QLineEdit::textChanged, this, &CStipendoDlg::OnIdChanged);
  onMessage(platform::WM_SCANNER, [this](const QVariant& w, const QVariant& l) -> qintptr {
    return m_pScanner ? m_pScanner->OnScannerMsg(w, l) : 0;
  });
  onMessage(platform::WM_SCAN_DATA, [this](const QVariant& w, const QVariant& l) { return OnScanData(w, l); });
}

CStipendoDlg::~CStipendoDlg() = default;

bool CStipendoDlg::onInitDialog() {
  const QRect area = screenToClient(controlScreenRect(IDC_LIST_AREA));
  m_listArea->hide();
  m_list.Create(area, this, IDC_LIST);
  m_pScanner = std::make_unique<CScanner>();
  m_pScanner->Init(this);
  m_records.RemoveAll();
  ShowResultArea(nullptr);
  return true;
}

void CStipendoDlg::onDestroy() {
  if (m_pScanner) {
    m_pScanner->CloseScanner();
    m_pScanner.reset();
  }
}

void CStipendoDlg::ShowResultArea(const CStipendoInfo* pRecord) {
  m_list.GetWidget()->setVisible(pRecord != nullptr);
  setControlText(IDC_PROMPT, QStringLiteral("Scan or Enter Student ID"));
  setControlVisible(IDC_PROMPT, pRecord == nullptr);
  PlaceList(pRecord);
}

void CStipendoDlg::PlaceList(const CStipendoInfo* pRecord) {
  if (!pRecord) return;
  const QRect idEdit = controlScreenRect(IDC_STUDENT_ID);
  const QRect enter = controlScreenRect(IDC_ENTER);
  QTreeWidget* list = m_list.GetWidget();
  const QRect current(list->mapToGlobal(QPoint(0, 0)), list->size());
  const int top = idEdit.y() + idEdit.height() + kListGap;
  const int bottom = enter.y() - kListGap;
  list->setGeometry(screenToClient(QRect(current.x(), top, current.width(), bottom - top)));
  list->update();
}

bool CStipendoDlg::LookUp(const QString& studentId) {
  ClearResult();
  // Refused here as the server would refuse it, without an exchange.
  if (studentId.size() > int(wire::requests::kMaxStudentIdLength)) {
    ShowRefusal(QStringLiteral("A student ID has at most %1 characters.").arg(wire::requests::kMaxStudentIdLength));
    return false;
  }
  paintNow();
  CSocketMessage& msg = CShellApp::Instance()->m_socketMsg;
  msg.Reset();
  msg.AddQuery(wire::kPacketQuery, CGlobalQueryStrings::GetStipendo(studentId));
  if (!msg.SendQuery() || msg.IsError(0)) {
    ShowRefusal(msg.GetResponse(0));
    return false;
  }
  m_records.FillFromResponse(msg.GetResponse(0));
  ShowRecords();
  focusControl(IDC_STUDENT_ID);
  return true;
}

void CStipendoDlg::ShowRefusal(const QString& sentence) {
  platform::messageBox(this, sentence, windowTitle(), platform::MessageIcon::Stop, platform::MessageButtons::Ok);
  focusControl(IDC_STUDENT_ID);
}

void CStipendoDlg::ShowRecords() {
  if (m_records.IsEmpty()) return;
  CDataLines lines;
  for (int i = 0; i < m_records.GetSize(); ++i) {
    const CStipendoInfo record = m_records.GetAt(i);
    CStipendoFill fill;
    fill.Fill(&record);
    lines += fill.GetDataArr();
  }
  m_list.SetWindowTextW(lines);
  ShowResultArea(&m_records.GetAt(m_records.GetSize() - 1));
}

void CStipendoDlg::ClearResult() {
  m_records.RemoveAll();
  ShowResultArea(nullptr);
}

void CStipendoDlg::LeaveResult() {
  ClearResult();
  m_enterButton->setText(kEnter);
  m_bShowing = false;
}

// Blanks around a typed ID are no part of it, as a scanner never sends them.
void CStipendoDlg::UpdateData() { m_studentId = edit(IDC_STUDENT_ID)->text().trimmed(); }

// A scan of the ID already shown changes no text, so the result is left here
// too: a failed lookup must not keep "Clear" over an empty display.
void CStipendoDlg::LookUpEnteredId() {
  LeaveResult();
  UpdateData();
  if (!m_studentId.isEmpty() && LookUp(m_studentId)) {
    m_enterButton->setText(kClear);
    m_bShowing = true;
  }
}

void CStipendoDlg::OnEnter() {
  if (m_bShowing) {
    LeaveResult();
    m_studentId.clear();
    edit(IDC_STUDENT_ID)->setText(m_studentId);
    focusControl(IDC_STUDENT_ID);
    return;
  }
  LookUpEnteredId();
}

void CStipendoDlg::OnIdChanged() {
  if (m_bShowing) LeaveResult();
}

qintptr CStipendoDlg::OnScanData(const QVariant& wParam, const QVariant&) {
  edit(IDC_STUDENT_ID)->setText(QStringLiteral("%1").arg(wParam.toString()));
  LookUpEnteredId();
  return -1;
}
