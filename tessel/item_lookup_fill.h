#pragma once
// The item lookup: a book's product record and the store's inventory record
// of it, as detail lines.
#include "tessel/data_array.h"
#include "tessel/fill_data.h"
#include "tessel/records.h"

// The lookup's lines: the product's, then the inventory's, each or a line
// saying the record is missing.
class CItemLookupFill : public CFillDataBase {
 public:
  // Empty arrays stand for missing records.
  bool Fill(int storeNum, const CDataArray<CProductInfo>& products, const CDataArray<CInventoryInfo>& inventory);
};
