#pragma once
// The library's global operations: log-in and stored password, preparing the
// message object, the log-in exchange, profile section names, detail display.
//
// Passwords: the log-in dialog keeps the password in memory for this program.
// When the clerk ticks "Keep password on this handheld", it is also written to
// the program's profile section ("Password"), so the next start connects by
// itself; otherwise CleanPassword forgets it when the program ends. Unticking
// the box at a later log-in removes the kept password.
#include <QString>

#include "tessel/data_array.h"
#include "tessel/fill_data.h"
#include "tessel/records.h"

class CScanner;
class CSocketMessage;
class QComboBox;
class QWidget;

class CGlobalFunctions {
 public:
  // Profile section of a program: "Sellin", "Adoptra", "Stipendo"; 4 names the
  // store-wide defaults ("StoreDefaults").
  static QString GetAppName(int appType);

  // True when a password is known for the program (typed in this run or kept).
  static bool IsPasswordSet(int appType);
  // Runs the log-in dialog. False when the clerk cancelled it.
  static bool DoOnLogIn(int appType, QWidget* parent = nullptr);
  // Forgets the password unless the clerk asked to keep it.
  static void CleanPassword(int appType);

  // Prepares msg with the server address and the credentials. False, and
  // nothing is sent, when no server address is configured (a message box then
  // says where to set it) or no user name and password are known.
  static bool FillSocketMsg(int appType, CSocketMessage& msg, QWidget* window);
  // The log-in exchange. True when logged in; text is for the status line;
  // reply 0 of msg holds what the server sent with the log-in.
  static bool GetQLCPacket(int appType, CSocketMessage* msg, QString& text);

  // Shows detail lines modally; returns when the clerk closes them.
  static void DisplayDetailDlg(const CDataLines& lines, QWidget* parent = nullptr);

  // Replaces the combo's entries by the locations' names, each with its store
  // number as item data, and selects the first location of storeNum; when
  // none has it, the first entry, so the clerk can look up at once.
  static void FillLocationCombo(QComboBox* combo, const CDataArray<CLocationInfo>& locations, int storeNum);
  // A field for display: leading white space removed; for a number (bNumber),
  // leading zeros too, one digit kept before the point ("0012.50" reads
  // "12.50", "00000" reads "0", "-003.05" reads "-3.05"). "*" stays "*".
  static QString TrimString(const QString& text, bool bNumber);
  static QString TrimString(int value);
  // A SKU as the lists show it; empty for no SKU (0 or less).
  static QString TrimSKU(int sku);

  // Asks for one code, typed or scanned, in a modal prompt showing code's
  // current value. While the prompt is open, the scanner's codes are let
  // through to its window, which hands them on to the prompt. True with the
  // code (trimmed, maybe empty) in code when confirmed; false when cancelled.
  static bool ShowScanDlg(const QString& prompt, QString& code, CScanner* pScanner, QWidget* parent = nullptr);

  // A typed price as the stored dollar amount: blanks, a leading "$" and
  // leading zeros go, two decimals are written ("12.5" reads "12.50", ".5"
  // "0.50", "$7" "7.00", "-2" "-2.00"). A text that is not such an amount
  // (letters, a third decimal, a minus before the "$") reads "0.00",
  // which no price rule accepts, so junk never becomes a price; an amount
  // too high is kept, for the price rules to name the highest price.
  static QString VerifyDollarAmt(const QString& text);

  // Shows the item lookup: the product record and the store's inventory
  // record of a book, modally; an empty array says there is no such record.
  // The message object is not used for any exchange.
  static void DoOnItemLookupDlg(CSocketMessage* msg, int storeNum, const CDataArray<CProductInfo>& products,
                                const CDataArray<CInventoryInfo>& inventory, QWidget* parent = nullptr);
};
