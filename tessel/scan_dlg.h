#pragma once
// A prompt for one code, typed or scanned: a scanned code (WM_SCAN_DATA sent
// to the prompt) fills the box and confirms it at once.
#include "platform/dialog.h"

class CScanDlg : public platform::Dialog {
  Q_OBJECT

 public:
  enum { IDD = 151, IDC_PROMPT = 1001, IDC_CODE = 1002 };

  explicit CScanDlg(const QString& prompt, QWidget* parent = nullptr);

  // Shown when the prompt opens; after OK, the code confirmed (trimmed).
  QString m_strCode;

 protected:
  bool onInitDialog() override;
  void onOk() override;

 private:
  qintptr OnScanData(const QVariant& wParam, const QVariant& lParam);
};
