#include "stipendo/stipendo_fill.h"

bool CStipendoFill::Fill(const CStipendoInfo* pRecord) {
  Reset();
  if (!pRecord) return false;
  AddLine(QStringLiteral("Agency Number:"), pRecord->m_strAgencyNumber, false);
  AddLine(QStringLiteral("Start Date:"), pRecord->m_strStartDate, false);
  AddLine(QStringLiteral("Expire Date:"), pRecord->m_strExpireDate, false);
  AddLine(QStringLiteral("Total Balance:"), pRecord->m_strTotalBalance, true);
  AddLine(QStringLiteral("Credit Limit:"), pRecord->m_strCreditLimit, true);
  AddLine(QStringLiteral("Amount Available:"), pRecord->m_strAmountAvailable, true);
  AddLine(QString(), QString(), false);
  return true;
}
