#include "sellin/line_item_fill.h"

#include "sellin/ticket_item.h"

bool CLineItemFill::Fill(const CTicketItem* pItem) {
  if (!pItem) return false;
  const CSLPurchaseDtlInfo& p = pItem->m_purchase;
  const CSLDetailInfo& d = pItem->m_detail;
  AddLine(QStringLiteral("Purchaser:"), p.m_strPurchaser, false);
  AddLine(QStringLiteral("OST Pur:"), GetYesNoValue(p.m_nOSTPurchaser), false);
  AddLine(QStringLiteral("Buy Qty:"), p.m_strBuyQty, false);
  AddLine(QStringLiteral("Bought Qty:"), p.m_nBoughtQty);
  AddLine(QStringLiteral("Need Qty:"), p.m_strNeedQty, false);
  AddLine(QStringLiteral("Buy Price:"), p.m_strBuyPrice, true);
  AddLine(QStringLiteral("Alt Price:"), p.m_strAltPrice, true);
  AddLine(QStringLiteral("POS Retail:"), p.m_strRetailPrice, true);
  AddLine(QStringLiteral("Status:"), p.m_strStatus, false);
  AddLine(QStringLiteral("SKU:"), d.m_nSKU);
  AddLine(QStringLiteral("Book key:"), d.m_strBookKey, false);
  AddLine(QStringLiteral("ISBN:"), d.m_strISBN, false);
  AddLine(QStringLiteral("Edition:"), d.m_strEdition, false);
  AddLine(QStringLiteral("Copyright:"), d.m_strCopyright, false);
  AddLine(QStringLiteral("Binding:"), d.m_strBinding, false);
  AddLine(QStringLiteral("Stolen ID:"), GetYesNoValue(d.m_nStolen), false);
  AddLine(QStringLiteral("Guide Item:"), GetYesNoValue(d.m_nGuide), false);
  AddLine(QString(), d.m_strDesc, false);
  return true;
}
