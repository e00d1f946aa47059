#include "tessel/item_lookup_fill.h"

namespace {

// The first record of an array, or nullptr when it holds none.
template <class TRecord>
const TRecord* firstRecord(const CDataArray<TRecord>& records) {
  return records.IsEmpty() ? nullptr : &records.GetAt(0);
}

}  // namespace

bool CItemLookupFill::Fill(int storeNum, const CDataArray<CProductInfo>& products,
                           const CDataArray<CInventoryInfo>& inventory) {
  const CProductInfo* pProduct = firstRecord(products);
  const CInventoryInfo* pInventory = firstRecord(inventory);
  if (pProduct) {
    AddLine(QStringLiteral("SKU:"), pProduct->m_nSKU);
    AddLine(QStringLiteral("ISBN:"), pProduct->m_strISBN, false);
    AddLine(QString(), pProduct->m_strDesc, false);
    AddLine(QStringLiteral("Author:"), pProduct->m_strAuthor, false);
    AddLine(QStringLiteral("Imprint:"), pProduct->m_strImprint, false);
    AddLine(QStringLiteral("Edition:"), pProduct->m_strEdition, false);
    AddLine(QStringLiteral("Binding:"), pProduct->m_strBinding, false);
    AddLine(QStringLiteral("New Price:"), pProduct->m_strNewPrice, true);
    AddLine(QStringLiteral("Used Price:"), pProduct->m_strUsedPrice, true);
  } else {
    AddLine(QStringLiteral("Product:"), QStringLiteral("no product record"), false);
  }
  AddLine(QStringLiteral("Store:"), storeNum);
  if (pInventory) {
    AddLine(QStringLiteral("New On Hand:"), pInventory->m_nNewOnHand);
    AddLine(QStringLiteral("Used On Hand:"), pInventory->m_nUsedOnHand);
    AddLine(QStringLiteral("On Order:"), pInventory->m_nOnOrder);
    AddLine(QStringLiteral("Location:"), pInventory->m_strLocation, false);
    AddLine(QStringLiteral("Received:"), pInventory->m_strLastReceived, false);
  } else {
    AddLine(QStringLiteral("Inventory:"), QStringLiteral("no inventory record"), false);
  }
  return true;
}
