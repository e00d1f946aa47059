#pragma once
// The detail lines of one ticket line: the purchaser's terms and the book.
#include "tessel/fill_data.h"

class CTicketItem;

class CLineItemFill : public CFillDataBase {
 public:
  // Appends the line's 18 detail lines; false and nothing added for no line.
  virtual bool Fill(const CTicketItem* pItem);
};
