#include "shell/start_dlg.h"

#include <QGuiApplication>
#include <QLabel>
#include <QPushButton>
#include <QScreen>

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
      {CStartDlg::IDC_CONFIGURE, ControlKind::PushButton, QStringLiteral("Configure"),
       {c.buttonX, 65, c.buttonWidth, 14}},
      {CStartDlg::IDC_FEATURE, ControlKind::PushButton, c.featureCaption, {c.buttonX, 85, c.buttonWidth, 14}},
      {CStartDlg::IDC_STATUS, ControlKind::Label, QStringLiteral("Connecting"), {26, 150, 107, 8}, AlignCenter},
      {c.companyLabelId, ControlKind::Label, QStringLiteral("Ostrand Company"), {12, 12, 135, 12}},
  };
  return t;
}

}  // namespace

CStartDlg::CStartDlg(const CProgramConstants& constants, CStartBehaviour& behaviour, QWidget* parent)
    : platform::Dialog(startTemplate(constants), parent), m_constants(constants), m_behaviour(behaviour) {
  connect(button(IDC_CONFIGURE), &QPushButton::clicked, this, &CStartDlg::OnConfigure);
  connect(button(IDC_FEATURE), &QPushButton::clicked, this, &CStartDlg::OnOpenFeature);
  onMessage(platform::WM_AUTOCONNECT,
            [this](const QVariant& w, const QVariant& l) { return OnAutoConnect(w, l); });
}

CStartDlg::~CStartDlg() { CGlobalFunctions::CleanPassword(m_constants.appType); }

void CStartDlg::SetStatus(const QString& text) { setControlText(IDC_STATUS, text); }

QString CStartDlg::Status() const { return controlText(IDC_STATUS); }

bool CStartDlg::onInitDialog() {
  if (const QScreen* screen = QGuiApplication::primaryScreen())
    move(screen->availableGeometry().center() - rect().center());
  m_companyLabel.Attach(control(m_constants.companyLabelId));
  m_companyLabel.ChangeSize(2);
  if (CGlobalFunctions::IsPasswordSet(m_constants.appType))
    postMessage(platform::WM_AUTOCONNECT, 0, 0);
  else
    SetStatus(QStringLiteral("Enter Password"));
  return true;
}

void CStartDlg::OnConfigure() { m_behaviour.OnConfigure(*this); }

void CStartDlg::OnOpenFeature() { m_behaviour.OnOpenFeature(*this); }

qintptr CStartDlg::OnAutoConnect(const QVariant&, const QVariant&) {
  m_behaviour.OnAutoConnect(*this);
  return -1;
}
