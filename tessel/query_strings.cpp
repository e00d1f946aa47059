#include "tessel/query_strings.h"

#include "wire/requests.h"

QString CGlobalQueryStrings::GetSLSession(const QString& user, const QString& password, int storeNum) {
  return QString::fromStdString(wire::requests::sessions(user.toStdString(), password.toStdString(), storeNum));
}

QString CGlobalQueryStrings::GetStipendo(const QString& studentId) {
  return QString::fromStdString(wire::requests::aidAccounts(studentId.toStdString()));
}
