#pragma once
// Builders of the request texts handed unchanged to CSocketMessage::AddQuery.
#include <QString>

class CGlobalQueryStrings {
 public:
  // Sellin's buying sessions of a store, for the buyer's user and password.
  static QString GetSLSession(const QString& user, const QString& password, int storeNum);
  // A student's aid charge accounts.
  static QString GetStipendo(const QString& studentId);
};
