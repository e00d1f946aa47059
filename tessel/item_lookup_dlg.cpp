#include "tessel/item_lookup_dlg.h"

namespace {

platform::DialogTemplate itemLookupTemplate() {
  using namespace platform;
  DialogTemplate t;
  t.id = CItemLookupDlg::IDD;
  t.title = QStringLiteral("Item Lookup");
  t.size = {160, 165};
  t.controls = {
      {CItemLookupDlg::IDC_LIST_AREA, ControlKind::Label, {}, {7, 7, 146, 131}, Hidden},
      {IDOK, ControlKind::DefaultPushButton, QStringLiteral("OK"), {120, 144, 33, 14}},
  };
  return t;
}

// The first record of an array, or nullptr when it holds none.
template <class TRecord>
const TRecord* firstRecord(const CDataArray<TRecord>& records) {
  return records.IsEmpty() ? nullptr : &records.GetAt(0);
}

}  // namespace

bool CItemLookupFill::Fill(int storeNum, const CProductInfo* pProduct, const CInventoryInfo* pInventory) {
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

CItemLookupDlg::CItemLookupDlg(int storeNum, const CDataArray<CProductInfo>& products,
                               const CDataArray<CInventoryInfo>& inventory, QWidget* parent)
    : platform::Dialog(itemLookupTemplate(), parent) {
  CItemLookupFill fill;
  fill.Fill(storeNum, firstRecord(products), firstRecord(inventory));
  m_lines = fill.GetDataArr();
}

bool CItemLookupDlg::onInitDialog() {
  m_list.Create(control(IDC_LIST_AREA)->geometry(), this, IDC_LIST);
  m_list.SetWindowTextW(m_lines);
  return true;
}
