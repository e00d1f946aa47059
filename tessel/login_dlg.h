#pragma once
// The log-in dialog: user name, password and whether this handheld keeps the
// password after the program ends.
#include "platform/dialog.h"

class CLogInDlg : public platform::Dialog {
  Q_OBJECT

 public:
  enum {
    IDD = 150,
    IDC_USER = 1001,
    IDC_PASSWORD = 1002,
    IDC_REMEMBER = 1003,
    IDC_SERVER = 1004,
  };

  CLogInDlg(const QString& appName, const QString& serverAddress, QWidget* parent = nullptr);

  QString m_strUser;
  QString m_strPassword;
  bool m_bRemember = false;

 protected:
  bool onInitDialog() override;
  void onOk() override;
};
