#pragma once
// The item lookup: a book's product record and the store's inventory record
// of it, as detail lines, with an OK button.
#include "platform/dialog.h"
#include "tessel/data_array.h"
#include "tessel/data_list.h"
#include "tessel/fill_data.h"
#include "tessel/records.h"

// The lookup's lines: the product's, then the inventory's, each or a line
// saying the record is missing.
class CItemLookupFill : public CFillDataBase {
 public:
  bool Fill(int storeNum, const CProductInfo* pProduct, const CInventoryInfo* pInventory);
};

class CItemLookupDlg : public platform::Dialog {
  Q_OBJECT

 public:
  enum { IDD = 141, IDC_LIST_AREA = 1000, IDC_LIST = 10001 };

  CItemLookupDlg(int storeNum, const CDataArray<CProductInfo>& products, const CDataArray<CInventoryInfo>& inventory,
                 QWidget* parent = nullptr);

 protected:
  bool onInitDialog() override;

 private:
  CDataLines m_lines;
  CDataList m_list;
};
