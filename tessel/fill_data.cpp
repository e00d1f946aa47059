#include "tessel/fill_data.h"

#include "wire/money.h"

void CFillDataBase::AddLine(const QString& label, const QString& value, bool money) {
  m_lines.append({label, money ? FormatMoney(value) : value, money});
}

void CFillDataBase::AddLine(const QString& label, int value) { m_lines.append({label, QString::number(value), false}); }

QString CFillDataBase::GetYesNoValue(int flag) { return flag ? QStringLiteral("Yes") : QStringLiteral("No"); }

QString FormatMoney(const QString& amount) {
  const std::optional<std::int64_t> cents = wire::readDollarAmount(amount.toStdString());
  if (!cents) return amount;
  const std::string dollars = wire::formatCents(*cents < 0 ? -*cents : *cents);
  return (*cents < 0 ? QStringLiteral("-$") : QStringLiteral("$")) + QString::fromStdString(dollars);
}
