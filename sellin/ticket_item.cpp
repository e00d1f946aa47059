#include "sellin/ticket_item.h"

#include "sellin/line_item_fill.h"
#include "sellin/sellin_app.h"
#include "tessel/global_functions.h"
#include "wire/framing.h"

void LookUpTicketItem(const CTicketItem& item) {
  auto* app = dynamic_cast<CSellinApp*>(CShellApp::Instance());
  if (!app || item.m_detail.m_nSKU <= 0) return;
  app->LookUpItem(QString::asprintf("%d", item.m_detail.m_nSKU), item.m_nStoreNum);
}

void ShowTicketItemDetails(const CTicketItem* pItem, QWidget* parent) {
  CLineItemFill fill;
  if (fill.Fill(pItem)) CGlobalFunctions::DisplayDetailDlg(fill.GetDataArr(), parent);
}

namespace {

// The records of one line, in the order they come.
const wire::RecordLayout* const kLineRecords[] = {&wire::layouts::ticketLine(), &wire::layouts::slDetail(),
                                                  &wire::layouts::slPurchase()};

}  // namespace

bool ReadTicketLines(const QString& reply, std::vector<std::unique_ptr<CTicketItem>>& lines) {
  lines.clear();
  if (reply.isEmpty()) return true;
  bool malformed = false;
  const std::vector<wire::RecordSpan> spans = wire::cutMixedRecords(Utf16View(reply), malformed);
  if (malformed || spans.size() % 3 != 0) return false;
  for (std::size_t i = 0; i < spans.size(); ++i) {
    const QString record = reply.mid(qsizetype(spans[i].offset), qsizetype(spans[i].length));
    const wire::RecordLayout& layout = *kLineRecords[i % 3];
    const QLatin1String tag(layout.tag().data(), qsizetype(layout.tag().size()));
    if (record.size() != qsizetype(layout.dataSize()) || !record.startsWith(tag)) {
      lines.clear();
      return false;
    }
    if (i % 3 == 0) {
      CSLTicketLineInfo stored;
      stored.SetFields(record);
      auto& line = lines.emplace_back(std::make_unique<CTicketItem>());
      std::tie(line->m_nLine, line->m_nSessionID, line->m_strItemID, line->m_strPurchaser, line->m_nQty,
               line->m_strPrice) = std::tie(stored.m_nLine, stored.m_nSessionID, stored.m_strItemID,
                                            stored.m_strPurchaser, stored.m_nQty, stored.m_strPrice);
    } else if (i % 3 == 1) {
      lines.back()->m_detail.SetFields(record);
    } else {
      lines.back()->m_purchase.SetFields(record);
    }
  }
  return true;
}
