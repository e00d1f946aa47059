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
  // Sellin: the buyer's open ticket for a student (empty when the session takes none).
  static QString GetSLTicket(QString user, QString studentId, int storeNum);
  // Sellin: the printable receipt of a ticket; copy: printed again later, of
  // any ticket of the store, headed as a copy.
  static QString GetSLPrint(QString receipt, int storeNum, bool copy = false);
  // Sellin: the stored lines of one of the user's tickets (CSLTicketLineInfo,
  // CSLDetailInfo and CSLPurchaseDtlInfo per line).
  static QString GetSLLines(const QString& receipt, int storeNum);
  // Sellin: the user's open tickets with lines at a store (CSLOpenTicketInfo).
  static QString GetSLOpenTickets(int storeNum);
};

// Builders of the update texts. Each call makes a fresh identity for the
// change it describes (see wire/requests.h): build a change's text once and
// send that same text again when retrying it.
class CGlobalUpdateStrings {
 public:
  // One ticket line; sent as a new (0), removed (1) or changed (2) line.
  static QString GetSLItem(QString receipt, int line, QString purchaser, int sessionId, QString itemId, int qty,
                           QString price);
  // The whole ticket; sent to remove its lines (1) or to end it (2).
  static QString GetSLTran(QString receipt);
};
