#include "tessel/query_strings.h"

#include "wire/requests.h"

QString CGlobalQueryStrings::GetSLSession(const QString& user, const QString& password, int storeNum) {
  return QString::fromStdString(wire::requests::sessions(user.toStdString(), password.toStdString(), storeNum));
}

QString CGlobalQueryStrings::GetStipendo(const QString& studentId) {
  return QString::fromStdString(wire::requests::aidAccounts(studentId.toStdString()));
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
