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
  // Sellin: the books matching a code or title words, paged by the server.
  static QString GetSLItemDetail(int sessionId, const QString& code, int storeNum);
  // Sellin: the purchasers of a book (its item ID) in a session.
  static QString GetSLPurchase(int sessionId, const QString& itemId, int storeNum);
  // Sellin: the stolen-book reports of a SKU at a store.
  static QString GetSLStolenItem(int sku, const QString& studentId, int storeNum);
  // The item lookup of a SKU: product record, and the store's inventory record.
  static QString GetProduct(const QString& code, int storeNum);
  static QString GetInventory(const QString& code, int storeNum);
};
