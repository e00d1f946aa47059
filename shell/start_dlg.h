#pragma once
// The start dialog every program opens with: the company line, the connection
// status line, "Configure" and the program's feature button. What the buttons
// and the automatic connect do comes from the program's CStartBehaviour.
#include "platform/dialog.h"
#include "tessel/font_controls.h"

class CStartBehaviour;

// The constants that tell the programs' start dialogs apart.
struct CProgramConstants {
  int appType = 0;
  QString title;
  QString featureCaption;
  int companyLabelId = 0;
  int buttonX = 0;  // dialog units, both buttons
  int buttonWidth = 0;
};

class CStartDlg : public platform::Dialog {
  Q_OBJECT

 public:
  enum { IDD = 102, IDC_CONFIGURE = 1000, IDC_FEATURE = 1001, IDC_STATUS = 1002 };

  CStartDlg(const CProgramConstants& constants, CStartBehaviour& behaviour, QWidget* parent = nullptr);
  // Forgets the password (unless kept) before anything else is torn down.
  ~CStartDlg() override;

  int AppType() const { return m_constants.appType; }
  void SetStatus(const QString& text);
  QString Status() const;

  bool m_bConnected = false;

 protected:
  bool onInitDialog() override;

 private:
  void OnConfigure();
  void OnOpenFeature();
  qintptr OnAutoConnect(const QVariant& wParam, const QVariant& lParam);

  CProgramConstants m_constants;
  CStartBehaviour& m_behaviour;
  CFontStatic m_companyLabel;
};
