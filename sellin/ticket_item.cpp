#include "sellin/ticket_item.h"

#include "sellin/line_item_fill.h"
#include "sellin/sellin_app.h"
#include "tessel/global_functions.h"

void LookUpTicketItem(const CTicketItem& item) {
  auto* app = dynamic_cast<CSellinApp*>(CShellApp::Instance());
  if (!app || item.m_detail.m_nSKU <= 0) return;
  app->LookUpItem(QString::asprintf("%d", item.m_detail.m_nSKU), item.m_nStoreNum);
}

void ShowTicketItemDetails(const CTicketItem* pItem, QWidget* parent) {
  CLineItemFill fill;
  if (fill.Fill(pItem)) CGlobalFunctions::DisplayDetailDlg(fill.GetDataArr(), parent);
}
