#pragma once
// The detail lines of one stolen-book report.
#include "tessel/fill_data.h"
#include "tessel/records.h"

class CStolenItemFill : public CFillDataBase {
 public:
  // Appends the report's 11 lines; false and nothing added for no report.
  virtual bool Fill(const CSLStolenItemInfo* pItem);
};
