#pragma once
// The course book lookup: a store location, a student ID or an item code, the
// course sections that adopted books, and from them the books of a section,
// the problem reports of the lookup and a printout. Two states: entry ("Enter"
// shown) and result (the list and its buttons shown).
#include "platform/dialog.h"
#include "tessel/data_array.h"
#include "tessel/records.h"
#include "tessel/scanner.h"

class QComboBox;
class QTreeWidget;

class CAdoptraDlg : public platform::Dialog {
  Q_OBJECT

 public:
  enum {
    IDD = 129,
    IDC_STORE = 1000,
    IDC_STUDENT = 1001,
    IDC_ITEM = 1002,
    IDC_CLEAR = 1003,
    IDC_CODE = 1004,
    IDC_ENTER = 1005,
    IDC_DETAILS = 1006,
    IDC_RESULTS = 1007,
    IDC_TERM = 1008,
    IDC_PROBLEM = 1009,
    IDC_PRINT = 1011,
    IDC_SHOW_CLOSED = 1012,
  };

  explicit CAdoptraDlg(QWidget* parent = nullptr);
  ~CAdoptraDlg() override;

  // The first selected row, or -1; with wantRecord its record index instead.
  int GetSelectedRow(bool wantRecord) const;

  CDataArray<CProblemInfo> m_problems;
  CDataArray<CAdoptraInfo> m_results;
  bool m_bRestrictLookup;
  bool m_bItemMode;

 protected:
  bool onInitDialog() override;
  void onDestroy() override;
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void FillStoreCombo();
  void SetUpResultList();
  void ShowResults(bool show);
  void SaveItemMode(bool item);
  void LookUp();
  void FillResultList();
  void ShowTerm(int record);
  // The store number of the selected location; -1 when none is selected.
  int SelectedStore() const;
  // Sends one query on the application's message; false when it failed, after
  // showing the reply text with the given icon.
  bool Exchange(const QString& query, bool stopIcon);

  void OnClear();
  void OnDetails();
  void OnEnter();
  void OnItemMode();
  void OnStudentMode();
  void OnStoreChanged();
  void OnTextChanged();
  void OnProblem();
  void OnResultDblClk();
  void OnResultClick();
  void OnPrint();
  void OnShowClosedTerms();
  qintptr OnScanData(const QVariant& wParam);

  CScanner m_scanner;
  bool m_bShowClosedTerms = false;
  QComboBox* m_storeCombo;
  QTreeWidget* m_resultList;
};
