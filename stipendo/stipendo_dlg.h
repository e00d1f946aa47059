#pragma once
// The aid account lookup: a student ID typed or scanned, the student's aid
// charge accounts listed below it. Two states: entry ("Enter") and result
// ("Clear"); any change of the ID leaves the result.
#include <memory>

#include "platform/dialog.h"
#include "tessel/data_array.h"
#include "tessel/data_list.h"
#include "tessel/records.h"

class CScanner;
class QPlainTextEdit;
class QPushButton;

class CStipendoDlg : public platform::Dialog {
  Q_OBJECT

 public:
  enum {
    IDD = 129,
    IDC_PROMPT = 1002,
    IDC_ID_LABEL = 1003,
    IDC_STUDENT_ID = 1004,
    IDC_ENTER = 1005,
    IDC_LIST_AREA = 1008,
    IDC_LIST = 10001,
  };

  explicit CStipendoDlg(QWidget* parent = nullptr);
  ~CStipendoDlg() override;

  // Sends the lookup; true when the query succeeded and the result is shown.
  // What was shown before is gone from the screen before the exchange starts.
  bool LookUp(const QString& studentId);

  bool IsShowing() const { return m_bShowing; }
  const CDataArray<CStipendoInfo>& Records() const { return m_records; }

 protected:
  bool onInitDialog() override;
  void onDestroy() override;

 private:
  void LookUpEnteredId();
  void ShowRecords();
  void ShowResultArea(const CStipendoInfo* pRecord);
  void PlaceList(const CStipendoInfo* pRecord);
  void ClearResult();
  void ShowRefusal(const QString& sentence);
  // Back to the entry state: nothing listed, the button reads "Enter".
  void LeaveResult();
  void UpdateData();

  void OnEnter();
  void OnIdChanged();
  qintptr OnScanData(const QVariant& wParam, const QVariant& lParam);

  QPlainTextEdit* m_listArea;
  QPushButton* m_enterButton;
  CDataArray<CStipendoInfo> m_records;
  bool m_bShowing = false;
  QString m_studentId;
  std::unique_ptr<CScanner> m_pScanner;
  CDataList m_list;
};
