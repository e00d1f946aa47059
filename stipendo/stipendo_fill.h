#pragma once
// The detail lines of one aid account: six labelled lines and an empty line
// that separates it from the next account.
#include "tessel/fill_data.h"
#include "tessel/records.h"

class CStipendoFill : public CFillDataBase {
 public:
  // False, and no lines, for a null record.
  bool Fill(const CStipendoInfo* pRecord);
};
