#include "sellin/item_rules.h"

#include <QLocale>
#include <cfloat>
#include <climits>

#include "platform/message_box.h"
#include "sellin/ticket_item.h"
#include "tessel/records.h"

namespace {

using platform::MessageButtons;
using platform::MessageIcon;

// A need of "*": the purchaser takes any number.
constexpr int kUnlimitedNeed = 99999;
constexpr int kMinQty = -9999;
constexpr int kMaxQty = 99999;

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

// End of the decimal number starting at `start`, or start when there is none.
qsizetype decimalEnd(const QString& text, qsizetype start) {
  const qsizetype digitsFrom = skipSign(text, start);
  qsizetype at = skipDigits(text, digitsFrom);
  bool digits = at > digitsFrom;
  if (at < text.size() && text.at(at) == QLatin1Char('.')) {
    const qsizetype fraction = skipDigits(text, at + 1);
    if (fraction > at + 1 || digits) {
      digits = digits || fraction > at + 1;
      at = fraction;
    }
  }
  if (!digits) return start;
  if (at < text.size() && (text.at(at) == QLatin1Char('e') || text.at(at) == QLatin1Char('E'))) {
    const qsizetype expDigits = skipSign(text, at + 1);
    const qsizetype expEnd = skipDigits(text, expDigits);
    if (expEnd > expDigits) at = expEnd;
  }
  return at;
}

int box(QWidget* parent, const QString& text, MessageIcon icon, MessageButtons buttons) {
  return platform::messageBox(parent, text, SellinCaption(), icon, buttons);
}

bool refuse(QWidget* parent, const QString& text) {
  box(parent, text, MessageIcon::Information, MessageButtons::Ok);
  return false;
}

bool askYes(QWidget* parent, const QString& text) {
  return box(parent, text, MessageIcon::Question, MessageButtons::YesNo) == platform::IDYES;
}

int needOf(const CSLPurchaseDtlInfo& purchase) {
  if (purchase.m_strNeedQty.startsWith(QLatin1Char('*'))) return kUnlimitedNeed;
  return LeadingInteger(purchase.m_strNeedQty);
}

bool checkPrice(double price, double listed, QWidget* parent) {
  if (price <= 0) return refuse(parent, QStringLiteral("Price must be greater than 0.00"));
  if (price > listed && listed > 0)
    return refuse(parent, QStringLiteral("Temporary buy price must be less than the listed buy price."));
  return true;
}

bool checkQuantity(int qty, int need, QWidget* parent) {
  if (qty == 0) return refuse(parent, QStringLiteral("Sellin quantity cannot be 0."));
  if (qty < kMinQty || qty > kMaxQty) return refuse(parent, QStringLiteral("Invalid Quantity."));
  if (need == 0 && qty > 0) return refuse(parent, QStringLiteral("Can only do a negative buy for this purchaser."));
  if (need != 0 && qty > need && need > 0)
    return refuse(parent, QStringLiteral("Sellin quantity cannot exceed the need."));
  return true;
}

bool checkTransactionLimits(qint64 ticketQty, const CSLSessionInfo& session, QWidget* parent) {
  if (session.m_nTranMaxQty > 0 && ticketQty > session.m_nTranMaxQty)
    return refuse(parent,
                  QStringLiteral("Sellin quantity exceeds the transaction maximum of %1.").arg(session.m_nTranMaxQty));
  if (session.m_nTranWarningQty > 0 && ticketQty > session.m_nTranWarningQty)
    return askYes(parent, QStringLiteral("Sellin quantity exceeds the transaction warning of %1.  Accept it anyway?")
                              .arg(session.m_nTranWarningQty));
  return true;
}

bool checkBoughtAndBuyQty(int qty, int need, const CSLPurchaseDtlInfo& purchase, const CSLSessionInfo& session,
                          QWidget* parent) {
  const qint64 bought = purchase.m_nBoughtQty;
  if (qty < 0 && bought + qty < 0)
    return refuse(parent, QStringLiteral("Cannot do negative sellin for more than the bought quantity."));
  const qint64 nearlyMet = qint64(session.m_nWithinPercent) * LeadingInteger(purchase.m_strBuyQty) / 100;
  if (qty > 0 && need != kUnlimitedNeed && bought + qty > nearlyMet)
    return box(parent,
               QStringLiteral("Sellin quantity is within %1 of meeting the Buy quantity.").arg(qint64(need) - qty),
               MessageIcon::Question, MessageButtons::OkCancel) != platform::IDCANCEL;
  return true;
}

// Only a Yes ends it: the book must not go onto the ticket unchecked.
void confirmCondition(QWidget* parent) {
  while (!askYes(parent, QStringLiteral("Have you checked this books condition?")))
    box(parent, QStringLiteral("Please check this books condition."), MessageIcon::Warning, MessageButtons::Ok);
}

}  // namespace

QString SellinCaption() { return QStringLiteral("Sellin"); }

double LeadingDecimal(const QString& text) {
  const qsizetype start = skipBlanks(text);
  const qsizetype end = decimalEnd(text, start);
  if (end == start) return 0;
  const QString number = text.mid(start, end - start);
  bool ok = false;
  const double value = QLocale::c().toDouble(number, &ok);
  if (ok) return value;
  return number.startsWith(QLatin1Char('-')) ? -DBL_MAX : DBL_MAX;
}

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

bool CheckItemRules(const CTicketItem& item, const CSLSessionInfo& session, int others, QWidget* parent) {
  const CSLPurchaseDtlInfo& purchase = item.m_purchase;
  const int need = needOf(purchase);
  if (!checkPrice(LeadingDecimal(item.m_strPrice), LeadingDecimal(purchase.m_strListedPrice), parent)) return false;
  if (!checkQuantity(item.m_nQty, need, parent)) return false;
  if (!checkTransactionLimits(qint64(others) + item.m_nQty, session, parent)) return false;
  if (!checkBoughtAndBuyQty(item.m_nQty, need, purchase, session, parent)) return false;
  if (session.m_nConditionCheck != 0 && purchase.m_nConditionCheck != 0) confirmCondition(parent);
  if (LeadingDecimal(purchase.m_strBuyPrice) == 0)
    return askYes(parent, QStringLiteral("THIS BOOK HAS NO VALUE!\nAre you sure you want to buy it?"));
  return true;
}
