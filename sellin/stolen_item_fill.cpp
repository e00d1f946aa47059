#include "sellin/stolen_item_fill.h"

bool CStolenItemFill::Fill(const CSLStolenItemInfo* pItem) {
  if (!pItem) return false;
  AddLine(QStringLiteral("Student ID:"), pItem->m_strStudentID, false);
  AddLine(QStringLiteral("Student Name:"), pItem->m_strStudentName, false);
  AddLine(QStringLiteral("Stolen:"), pItem->m_strStolen, false);
  AddLine(QString(), pItem->m_strComment, false);
  AddLine(QStringLiteral("SKU:"), pItem->m_nSKU);
  AddLine(QStringLiteral("Book Key:"), pItem->m_strBookKey, false);
  AddLine(QString(), pItem->m_strDesc, false);
  AddLine(QStringLiteral("ISBN:"), pItem->m_strISBN, false);
  AddLine(QStringLiteral("Edition:"), pItem->m_strEdition, false);
  AddLine(QStringLiteral("Copyright:"), pItem->m_strCopyright, false);
  AddLine(QStringLiteral("Binding:"), pItem->m_strBinding, false);
  return true;
}
