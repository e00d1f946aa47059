#include "tessel/query_strings.h"

#include <QDateTime>
#include <QRandomGenerator>

#include <cstdint>
#include <cstdio>

#include "wire/requests.h"

namespace {

// A UUID whose first 48 bits are the time in milliseconds (version 7), the
// rest random: the server keeps every identity in an index, and identities
// made one after another land beside each other there instead of each on a
// page of its own.
std::string freshUpdateId() {
  const auto ms = std::uint64_t(QDateTime::currentMSecsSinceEpoch());
  QRandomGenerator* random = QRandomGenerator::system();
  const std::uint64_t high = (ms << 16) | 0x7000 | (random->generate() & 0x0fff);
  const std::uint64_t low = (random->generate64() & 0x3fffffffffffffffULL) | 0x8000000000000000ULL;
  char text[37];
  std::snprintf(text, sizeof text, "%08x-%04x-%04x-%04x-%012llx", unsigned(high >> 32), unsigned(high >> 16 & 0xffff),
                unsigned(high & 0xffff), unsigned(low >> 48), static_cast<unsigned long long>(low & 0xffffffffffffULL));
  return text;
}

}  // namespace

QString CGlobalQueryStrings::GetSLSession(const QString& user, const QString& password, int storeNum) {
  return QString::fromStdString(wire::requests::sessions(user.toStdString(), password.toStdString(), storeNum));
}

QString CGlobalQueryStrings::GetStipendo(const QString& studentId) {
  return QString::fromStdString(wire::requests::aidAccounts(studentId.toStdString()));
}

QString CGlobalQueryStrings::GetAdoptraStudent(const QString& studentId, int storeNum, bool restrict) {
  return QString::fromStdString(wire::requests::adoptionsByStudent(studentId.toStdString(), storeNum, restrict));
}

QString CGlobalQueryStrings::GetAdoptraItem(const QString& itemCode, int storeNum, bool restrict) {
  return QString::fromStdString(wire::requests::adoptionsByItem(itemCode.toStdString(), storeNum, restrict));
}

QString CGlobalQueryStrings::GetAdoptraDetail(const QString& term, const QString& department, const QString& course,
                                              const QString& section, int storeNum) {
  return QString::fromStdString(wire::requests::adoptionDetail(term.toStdString(), department.toStdString(),
                                                               course.toStdString(), section.toStdString(), storeNum));
}

QString CGlobalQueryStrings::GetAdoptraPrint(const QString& code, int storeNum, bool student) {
  return QString::fromStdString(wire::requests::adoptionPrint(code.toStdString(), storeNum, student));
}

QString CGlobalQueryStrings::GetSLItemDetail(int sessionId, const QString& code, int storeNum) {
  return QString::fromStdString(wire::requests::itemDetail(sessionId, code.toStdString(), storeNum));
}

QString CGlobalQueryStrings::GetSLPurchase(int sessionId, const QString& itemId, int storeNum) {
  return QString::fromStdString(wire::requests::purchasers(sessionId, itemId.toStdString(), storeNum));
}

QString CGlobalQueryStrings::GetSLStolenItem(int sku, const QString& studentId, int storeNum) {
  return QString::fromStdString(wire::requests::stolenItems(sku, studentId.toStdString(), storeNum));
}

QString CGlobalQueryStrings::GetProduct(const QString& code, int storeNum) {
  return QString::fromStdString(wire::requests::product(code.toStdString(), storeNum));
}

QString CGlobalQueryStrings::GetInventory(const QString& code, int storeNum) {
  return QString::fromStdString(wire::requests::inventory(code.toStdString(), storeNum));
}

QString CGlobalQueryStrings::GetSLTicket(QString user, QString studentId, int storeNum) {
  return QString::fromStdString(wire::requests::ticket(user.toStdString(), studentId.toStdString(), storeNum));
}

QString CGlobalQueryStrings::GetSLPrint(QString receipt, int storeNum, bool copy) {
  return QString::fromStdString(wire::requests::receiptPrint(receipt.toStdString(), storeNum, copy));
}

QString CGlobalQueryStrings::GetSLLines(const QString& receipt, int storeNum) {
  return QString::fromStdString(wire::requests::ticketLines(receipt.toStdString(), storeNum));
}

QString CGlobalQueryStrings::GetSLOpenTickets(int storeNum) {
  return QString::fromStdString(wire::requests::openTickets(storeNum));
}

QString CGlobalUpdateStrings::GetSLItem(QString receipt, int line, QString purchaser, int sessionId, QString itemId,
                                        int qty, QString price) {
  return QString::fromStdString(wire::requests::ticketItem(freshUpdateId(), receipt.toStdString(), line,
                                                           purchaser.toStdString(), sessionId, itemId.toStdString(),
                                                           qty, price.toStdString()));
}

QString CGlobalUpdateStrings::GetSLTran(QString receipt) {
  return QString::fromStdString(wire::requests::ticketTran(freshUpdateId(), receipt.toStdString()));
}
