#include "sellin/sellin_app.h"

#include "platform/message_box.h"
#include "sellin/sellin_start.h"
#include "tessel/global_functions.h"
#include "tessel/query_strings.h"
#include "wire/exchange.h"

CSellinApp::CSellinApp()
    : CShellApp({wire::kAppSellin, QStringLiteral("Sellin"), QStringLiteral("Sellin"), 1045, 54, 50}) {}

std::unique_ptr<CStartBehaviour> CSellinApp::CreateStartBehaviour() {
  return std::make_unique<CSellinStart>(m_socketMsg);
}

namespace {

// The store keeps no inventory record of the book: nothing to tell the buyer.
bool IsNoInventoryText(const QString& text) { return text.contains(QStringLiteral("501")); }

}  // namespace

void CSellinApp::LookUpItem(const QString& code, int storeNum) {
  const QString productQuery = CGlobalQueryStrings::GetProduct(code, storeNum);
  const QString inventoryQuery = CGlobalQueryStrings::GetInventory(code, storeNum);
  m_socketMsg.Reset();
  m_socketMsg.AddQuery(wire::kPacketQuery, productQuery);
  m_socketMsg.AddQuery(wire::kPacketQuery, inventoryQuery);
  // A failed exchange is always told, with its own reason: the "501" test is
  // the inventory query's, and an address may hold 501 too.
  if (!m_socketMsg.SendQuery()) {
    platform::messageBox(nullptr, m_socketMsg.GetResponse(0), Constants().title, platform::MessageIcon::Stop,
                         platform::MessageButtons::Ok);
    return;
  }
  if (m_socketMsg.IsError(1)) {
    const QString text = m_socketMsg.GetResponse(1);
    if (!IsNoInventoryText(text))
      platform::messageBox(nullptr, text, Constants().title, platform::MessageIcon::Stop, platform::MessageButtons::Ok);
    return;
  }
  // A refused product query is no records, never its sentence cut into records.
  CDataArray<CProductInfo> products;
  if (!m_socketMsg.IsError(0)) products.FillFromResponse(m_socketMsg.GetResponse(0));
  CDataArray<CInventoryInfo> inventory;
  inventory.FillFromResponse(m_socketMsg.GetResponse(1));
  CGlobalFunctions::DoOnItemLookupDlg(&m_socketMsg, storeNum, products, inventory);
}
