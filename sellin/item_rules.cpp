#include "sellin/item_rules.h"

#include <climits>

#include "platform/message_box.h"
#include "sellin/ticket_item.h"
#include "tessel/records.h"
#include "wire/item_rules.h"
#include "wire/money.h"

namespace {

using platform::MessageButtons;
using platform::MessageIcon;

qsizetype skipDigits(const QString& text, qsizetype at) {
  while (at < text.size() && text.at(at).isDigit() && text.at(at).unicode() < 128) ++at;
  return at;
}

qsizetype skipSign(const QString& text, qsizetype at) {
  if (at < text.size() && (text.at(at) == QLatin1Char('-') || text.at(at) == QLatin1Char('+'))) ++at;
  return at;
}

qsizetype skipBlanks(const QString& text) {
  qsizetype at = 0;
  while (at < text.size() && text.at(at).isSpace()) ++at;
  return at;
}

int box(QWidget* parent, const std::string& text, MessageIcon icon, MessageButtons buttons) {
  return platform::messageBox(parent, QString::fromStdString(text), SellinCaption(), icon, buttons);
}

std::int64_t needOf(const CSLPurchaseDtlInfo& purchase) {
  if (purchase.m_strNeedQty.startsWith(QLatin1Char('*'))) return wire::rules::kUnlimitedNeed;
  return LeadingInteger(purchase.m_strNeedQty);
}

wire::rules::LineFacts factsOf(const CTicketItem& item, const CSLSessionInfo& session, int others) {
  const CSLPurchaseDtlInfo& purchase = item.m_purchase;
  wire::rules::LineFacts line;
  line.qty = item.m_nQty;
  line.priceCents = CentsOf(item.m_strPrice);
  line.listedCents = CentsOf(purchase.m_strListedPrice);
  line.buyPriceCents = CentsOf(purchase.m_strBuyPrice);
  line.need = needOf(purchase);
  line.bought = purchase.m_nBoughtQty;
  line.buyQty = LeadingInteger(purchase.m_strBuyQty);
  line.others = others;
  line.withinPercent = session.m_nWithinPercent;
  line.tranWarning = session.m_nTranWarningQty;
  line.tranMax = session.m_nTranMaxQty;
  line.conditionCheck = session.m_nConditionCheck != 0 && purchase.m_nConditionCheck != 0;
  return line;
}

// Shows one finding with its icon and buttons; true when the buyer's answer lets the line go on.
bool accepted(const wire::rules::Finding& finding, QWidget* parent) {
  using wire::rules::Verdict;
  const auto askYes = [&] {
    return box(parent, finding.sentence, MessageIcon::Question, MessageButtons::YesNo) == platform::IDYES;
  };
  switch (finding.verdict) {
    case Verdict::Refuse: box(parent, finding.sentence, MessageIcon::Information, MessageButtons::Ok); return false;
    case Verdict::AskNearlyMet:
      return box(parent, finding.sentence, MessageIcon::Question, MessageButtons::OkCancel) != platform::IDCANCEL;
    case Verdict::AskCondition:
      // Only a Yes ends it: the book must not go onto the ticket unchecked.
      while (!askYes()) box(parent, wire::rules::kCheckCondition, MessageIcon::Warning, MessageButtons::Ok);
      return true;
    case Verdict::AskWarning:
    case Verdict::AskNoValue: return askYes();
  }
  return false;
}

}  // namespace

QString SellinCaption() { return QStringLiteral("Sellin"); }

int LeadingInteger(const QString& text) {
  const qsizetype start = skipBlanks(text);
  const qsizetype digitsFrom = skipSign(text, start);
  const qsizetype end = skipDigits(text, digitsFrom);
  if (end == digitsFrom) return 0;
  const bool negative = text.at(start) == QLatin1Char('-');
  qint64 value = 0;
  for (qsizetype i = digitsFrom; i < end && value <= qint64(INT_MAX) + 1; ++i)
    value = value * 10 + text.at(i).digitValue();
  if (negative) return value > qint64(INT_MAX) + 1 ? INT_MIN : int(-value);
  return value > INT_MAX ? INT_MAX : int(value);
}

qint64 CentsOf(const QString& dollars) { return wire::readDollarAmount(dollars.toStdString()).value_or(0); }

QString DollarText(qint64 cents) { return QStringLiteral("$ ") + QString::fromStdString(wire::formatCents(cents)); }

bool CheckItemRules(const CTicketItem& item, const CSLSessionInfo& session, int others, QWidget* parent) {
  for (const wire::rules::Finding& finding : wire::rules::check(factsOf(item, session, others)))
    if (!accepted(finding, parent)) return false;
  return true;
}
