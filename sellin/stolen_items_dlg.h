#pragma once
// The stolen-book reports filed against a book: listed by ISBN and SKU, the
// title and comment of the selected one, and all its fields on request. A
// single report opens its details at once.
#include "platform/dialog.h"
#include "tessel/data_array.h"
#include "tessel/records.h"

class CStolenItemsDlg : public platform::Dialog {
  Q_OBJECT

 public:
  enum { IDD = 132, IDC_DETAIL = 1008, IDC_DESC = 1014, IDC_COMMENT = 1015, IDC_LIST = 1023 };

  CStolenItemsDlg(int sku, const QString& studentId, int storeNum, QWidget* parent = nullptr);

  const CDataArray<CSLStolenItemInfo>& GetItems() const { return m_items; }

 protected:
  bool onInitDialog() override;

 private:
  bool RunQuery();
  void SetUpList();
  void FillList();
  void ShowSelected();
  void ShowDetail();
  int SelectedRow() const;

  CDataArray<CSLStolenItemInfo> m_items;
  int m_nSKU;
  QString m_strStudentID;
  int m_nStoreNum;
  QTreeWidget* m_listCtrl;
};
