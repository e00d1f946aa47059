#pragma once
// The purchasers of a book in a buying session: the list, and the terms of
// the selected one. A single purchaser is chosen at once.
#include <array>

#include "sellin/chooser_dlg.h"
#include "tessel/font_controls.h"
#include "tessel/records.h"

class CPurchasersDlg : public CChooserDlg<CSLPurchaseDtlInfo> {
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

 protected:
  bool onInitDialog() override;
  // Without a selected row, OK does nothing.
  void onOk() override;
  QStringList RowTexts(const CSLPurchaseDtlInfo& purchase) const override;
  void ShowRecord(const CSLPurchaseDtlInfo& purchase) override;

 private:
  void SetUpList();

  QString m_strQuery;
  std::array<CFontStatic, 6> m_labels;
};
