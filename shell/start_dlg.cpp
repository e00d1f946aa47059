#include "shell/start_dlg.h"

#include <QGuiApplication>
#include <QIcon>
#include <QLabel>
#include <QPainter>
#include <QPixmap>
#include <QPushButton>
#include <QScreen>

#include "platform/message_box.h"
#include "shell/start_behaviour.h"
#include "tessel/global_functions.h"

namespace {

platform::DialogTemplate startTemplate(const CProgramConstants& c) {
  using namespace platform;
  DialogTemplate t;
  t.id = CStartDlg::IDD;
  t.title = c.title;
  t.size = {160, 165};
  t.captionOk = true;
  t.controls = {
      {CStartDlg::IDC_CONFIGURE,
       ControlKind::PushButton,
       QStringLiteral("Configure"),
       {c.buttonX, 65, c.buttonWidth, 14}},
      {CStartDlg::IDC_FEATURE, ControlKind::PushButton, c.featureCaption, {c.buttonX, 85, c.buttonWidth, 14}},
      // Room for a server's sentence of several lines: the clerk reads it whole.
      {CStartDlg::IDC_STATUS, ControlKind::Label, QStringLiteral("Connecting"), {7, 104, 146, 54}, AlignCenter},
      {c.companyLabelId, ControlKind::Label, QStringLiteral("Ostrand Company"), {12, 12, 135, 12}},
  };
  return t;
}

// The programs' own icon: a closed book in the store's blue.
QIcon programIcon() {
  QPixmap pixmap(32, 32);
  pixmap.fill(Qt::transparent);
  QPainter painter(&pixmap);
  painter.setRenderHint(QPainter::Antialiasing);
  painter.setPen(Qt::NoPen);
  painter.setBrush(QColor(0x1f, 0x4e, 0x8c));
  painter.drawRoundedRect(QRectF(5, 2, 22, 28), 3, 3);
  painter.setBrush(Qt::white);
  painter.drawRect(QRectF(8, 25, 19, 3));  // the pages' edge
  painter.drawRect(QRectF(11, 8, 12, 3));  // the title on the cover
  return QIcon(pixmap);
}

}  // namespace

CStartDlg::CStartDlg(const CProgramConstants& constants, CStartBehaviour& behaviour, QWidget* parent)
    : platform::Dialog(startTemplate(constants), parent), m_constants(constants), m_behaviour(behaviour) {
  setWindowIcon(programIcon());
  connect(button(IDC_CONFIGURE), &QPushButton::clicked, this, &CStartDlg::OnConfigure);
  connect(button(IDC_FEATURE), &QPushButton::clicked, this, &CStartDlg::OnOpenFeature);
  onMessage(platform::WM_AUTOCONNECT, [this](const QVariant& w, const QVariant& l) { return OnAutoConnect(w, l); });
}

CStartDlg::~CStartDlg() { CGlobalFunctions::CleanPassword(m_constants.appType); }

void CStartDlg::SetStatus(const QString& text) {
  setControlText(IDC_STATUS, text);
  // A sentence longer than the status area holds is shown whole in a box too.
  const QLabel* status = label(IDC_STATUS);
  if (status->heightForWidth(status->width()) > status->height())
    platform::messageBox(this, text, windowTitle(), platform::MessageIcon::Information, platform::MessageButtons::Ok);
}

QString CStartDlg::Status() const { return controlText(IDC_STATUS); }

bool CStartDlg::onInitDialog() {
  if (const QScreen* screen = QGuiApplication::primaryScreen())
    move(screen->availableGeometry().center() - rect().center());
  m_companyLabel.Attach(control(m_constants.companyLabelId));
  m_companyLabel.ChangeSize(2);
  if (CGlobalFunctions::IsPasswordSet(m_constants.appType)) postMessage(platform::WM_AUTOCONNECT, 0, 0);
  else SetStatus(QStringLiteral("Enter Password"));
  return true;
}

void CStartDlg::OnConfigure() { m_behaviour.OnConfigure(*this); }

void CStartDlg::OnOpenFeature() { m_behaviour.OnOpenFeature(*this); }

qintptr CStartDlg::OnAutoConnect(const QVariant&, const QVariant&) {
  m_behaviour.OnAutoConnect(*this);
  return -1;
}
