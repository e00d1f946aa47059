#pragma once
// One line of a Sellin ticket: the book, the purchaser who buys it, and the
// quantity and unit price the buyer confirmed.
#include <QString>
#include <memory>
#include <vector>

#include "tessel/records.h"

class CTicketItem {
 public:
  CTicketItem() = default;
  CTicketItem(const CTicketItem&) = default;
  CTicketItem& operator=(const CTicketItem&) = default;
  virtual ~CTicketItem() = default;

  CSLPurchaseDtlInfo m_purchase;
  CSLDetailInfo m_detail;
  QString m_strReceipt;
  int m_nLine = -1;
  QString m_strPurchaser;
  int m_nSessionID = -1;
  QString m_strItemID;
  int m_nQty = -1;     // negative: a return of books bought earlier
  QString m_strPrice;  // unit price in dollars
  int m_nStoreNum = -1;
  QString m_strStudentID;
};

class QWidget;

// The item lookup of the line's book, for a book with a SKU.
void LookUpTicketItem(const CTicketItem& item);
// The line's detail lines, shown modally; nothing for no line.
void ShowTicketItemDetails(const CTicketItem* pItem, QWidget* parent);

// The lines of a ticket from the reply of its lines query: per line its
// stored values, the book and the purchaser's terms. Receipt, store and
// student are the caller's to set. False, and no lines, when the reply is not
// laid out that way.
bool ReadTicketLines(const QString& reply, std::vector<std::unique_ptr<CTicketItem>>& lines);
