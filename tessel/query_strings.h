#pragma once
// Builders of the request texts handed unchanged to CSocketMessage::AddQuery.
#include <QString>

class CGlobalQueryStrings {
 public:
  // Sellin's buying sessions of a store, for the buyer's user and password.
  static QString GetSLSession(const QString& user, const QString& password, int storeNum);
  // A student's aid charge accounts.
  static QString GetStipendo(const QString& studentId);
  // Adoptra: the course sections of a student or of an item at a store, and
  // their problem reports. restrict: only the user's own store may be asked.
  static QString GetAdoptraStudent(const QString& studentId, int storeNum, bool restrict);
  static QString GetAdoptraItem(const QString& itemCode, int storeNum, bool restrict);
  // Adoptra: the books of one course section, texts as the section record holds them.
  static QString GetAdoptraDetail(const QString& term, const QString& department, const QString& course,
                                  const QString& section, int storeNum);
  // Adoptra: the printout for a student ID (student true) or an item code.
  static QString GetAdoptraPrint(const QString& code, int storeNum, bool student);
};
