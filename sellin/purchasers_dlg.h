#pragma once
// The purchasers of a book in a buying session: the list, and the terms of
// the selected one. A single purchaser is chosen at once.
#include <array>

#include "platform/dialog.h"
#include "tessel/data_array.h"
#include "tessel/font_controls.h"
#include "tessel/records.h"

class CPurchasersDlg : public platform::Dialog {
  Q_OBJECT

 public:
  enum {
    IDD = 134,
    IDC_STATUS = 1002,
    IDC_STATUS_LABEL = 1011,
    IDC_LIST = 1023,
    IDC_BOUGHT_LABEL = 1040,
    IDC_NEED_LABEL = 1041,
    IDC_BOUGHT = 1042,
    IDC_NEED = 1043,
    IDC_BUY_QTY_LABEL = 1044,
    IDC_BUY_PRICE_LABEL = 1045,
    IDC_RETAIL_LABEL = 1046,
    IDC_BUY_QTY = 1047,
    IDC_BUY_PRICE = 1048,
    IDC_RETAIL = 1049,
  };

  // The purchaser query of the book.
  explicit CPurchasersDlg(const QString& query, QWidget* parent = nullptr);

  // The purchaser chosen; read it only after the dialog ended with IDOK.
  CSLPurchaseDtlInfo GetSelected() const { return m_selected; }
  const CDataArray<CSLPurchaseDtlInfo>& GetPurchases() const { return m_purchases; }

 protected:
  bool onInitDialog() override;
  void onOk() override;

 private:
  void SetUpList();
  bool RunQuery();
  void FillList();
  void ShowSelected();
  int SelectedRow() const;

  QString m_strQuery;
  std::array<CFontStatic, 6> m_labels;
  CDataArray<CSLPurchaseDtlInfo> m_purchases;
  CSLPurchaseDtlInfo m_selected;
  QTreeWidget* m_listCtrl;
};
