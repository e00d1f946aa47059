#pragma once
// The stolen-book reports filed against a book: listed by ISBN and SKU, the
// title and comment of the selected one, and all its fields on request. A
// single report opens its details at once.
#include "sellin/chooser_dlg.h"
#include "tessel/records.h"

class CStolenItemsDlg : public CChooserDlg<CSLStolenItemInfo> {
  Q_OBJECT

 public:
  enum { IDD = 132, IDC_DETAIL = 1008, IDC_DESC = 1014, IDC_COMMENT = 1015, IDC_LIST = 1023 };

  CStolenItemsDlg(int sku, const QString& studentId, int storeNum, QWidget* parent = nullptr);

 protected:
  bool onInitDialog() override;
  QStringList RowTexts(const CSLStolenItemInfo& item) const override;
  void ShowRecord(const CSLStolenItemInfo& item) override;

 private:
  void SetUpList();
  void ShowDetail();

  int m_nSKU;
  QString m_strStudentID;
  int m_nStoreNum;
};
