#pragma once
// The buyer picks the buying session to work in, from the sessions the server
// offered at log-in.
#include "platform/dialog.h"
#include "tessel/data_array.h"
#include "tessel/records.h"

class QListWidget;

class CSelectSessionDlg : public platform::Dialog {
  Q_OBJECT

 public:
  enum { IDD = 129, IDC_SESSIONS = 1000 };

  // The sessions stay the caller's; the dialog only reads them.
  explicit CSelectSessionDlg(const CDataArray<CSLSessionInfo>* pSessions, QWidget* parent = nullptr);

  // Index into the sessions of the chosen one; -1 until OK with one selected.
  int m_nSelected = -1;

 protected:
  bool onInitDialog() override;
  void onOk() override;

 private:
  const CDataArray<CSLSessionInfo>* m_pSessions;
  QListWidget* m_listBox;
};
