#include "tessel/fill_data.h"

#include <QRegularExpression>

void CFillDataBase::AddLine(const QString& label, const QString& value, bool money) {
  m_lines.append({label, money ? FormatMoney(value) : value, money});
}

void CFillDataBase::AddLine(const QString& label, int value) {
  m_lines.append({label, QString::number(value), false});
}

QString CFillDataBase::GetYesNoValue(int flag) { return flag ? QStringLiteral("Yes") : QStringLiteral("No"); }

QString FormatMoney(const QString& amount) {
  static const QRegularExpression pattern(QStringLiteral("^\\s*(-?)0*(\\d*)\\.(\\d\\d)\\s*$"));
  const QRegularExpressionMatch m = pattern.match(amount);
  if (!m.hasMatch()) return amount;
  const QString dollars = m.captured(2).isEmpty() ? QStringLiteral("0") : m.captured(2);
  return m.captured(1) + QLatin1Char('$') + dollars + QLatin1Char('.') + m.captured(3);
}
