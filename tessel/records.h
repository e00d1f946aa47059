#pragma once
// Record classes: each is filled from one record text by SetFields, using the
// layout the server writes (wire/layouts.h). Fields the programs do not read
// are kept too, so copies carry every field.
#include <QString>
#include <string_view>

#include "wire/layouts.h"

// The text's UTF-16 units, as the wire functions read them; valid while text lives.
inline std::u16string_view Utf16View(const QString& text) {
  return {reinterpret_cast<const char16_t*>(text.utf16()), static_cast<std::size_t>(text.size())};
}

// Most records one reply may hold. The largest real answers, a page of an item
// list or a student's sections, hold a few hundred at most; the cap stays far
// above them and keeps any list a handheld builds small enough to hold and show.
inline constexpr qsizetype kMaxReplyRecords = 5000;

// How many records FillFromResponse makes of the reply, counted without cutting it.
qsizetype ReplyRecordCount(const QString& reply);

// True for a reply laid out as a record list (its length field is at least as
// long as a record's own tag and length) that holds more than kMaxReplyRecords.
// Texts of other kinds, a receipt to print, are never judged by it.
bool IsOversizedRecordList(const QString& reply);

// Base of every record class held in a CDataArray.
class CRecord {
 public:
  virtual ~CRecord() = default;
  // Fills the fields from one record text; a short text leaves the missing
  // fields empty or 0.
  virtual void SetFields(const QString& record) = 0;
  // Characters one record occupies in a reply, terminator included.
  virtual int GetDataSize() const = 0;

 protected:
  CRecord() = default;
  CRecord(const CRecord&) = default;
  CRecord& operator=(const CRecord&) = default;
};

// Reads the fields of one record text by name.
class CRecordFields {
 public:
  CRecordFields(const QString& record, const wire::RecordLayout& layout) : m_record(record), m_layout(layout) {}
  QString Text(std::string_view name) const;
  int Number(std::string_view name) const;

 private:
  const QString& m_record;
  const wire::RecordLayout& m_layout;
};

// One buying session of Sellin.
class CSLSessionInfo : public CRecord {
 public:
  void SetFields(const QString& record) override;
  int GetDataSize() const override;

  int m_nSessionID = 0;
  QString m_strDescription;
  int m_nStudentIDRequired = 0;
  int m_nConditionCheck = 0;
  int m_nWithinPercent = 0;
  int m_nTranWarningQty = 0;
  int m_nTranMaxQty = 0;
};

// One store location of Adoptra's location list.
class CLocationInfo : public CRecord {
 public:
  void SetFields(const QString& record) override;
  int GetDataSize() const override;

  int m_nStoreNum = 0;
  int m_nLocationID = 0;
  QString m_strCode;
  QString m_strName;
};

// One aid charge account of a student (Stipendo).
class CStipendoInfo : public CRecord {
 public:
  void SetFields(const QString& record) override;
  int GetDataSize() const override;

  QString m_strStudentID;
  QString m_strAgencyName;
  QString m_strAgencyNumber;
  QString m_strStartDate;
  QString m_strExpireDate;
  QString m_strTotalBalance;
  QString m_strCreditLimit;
  QString m_strAmountAvailable;
};

// One course section that adopted books (Adoptra's lookups).
class CAdoptraInfo : public CRecord {
 public:
  void SetFields(const QString& record) override;
  int GetDataSize() const override;

  int m_nStoreNum = 0;
  QString m_strCampus;
  QString m_strTerm;
  QString m_strDepartment;
  QString m_strCourse;
  QString m_strSection;
  int m_nTermOpen = 0;  // 0: the term is closed
};

// One book adopted for a course section, with a store's prices and stock.
class CAdoptraDetailInfo : public CRecord {
 public:
  void SetFields(const QString& record) override;
  int GetDataSize() const override;

  int m_nSKU = 0;
  QString m_strCatISBN;
  QString m_strDesc;
  QString m_strNewPrice;
  QString m_strUsedPrice;
  int m_nNewOnHand = 0;
  int m_nUsedOnHand = 0;
  int m_nRequestType = 0;  // 1 required, 2 recommended, 3 optional
  int m_nProblem = 0;
  int m_nStoreNum = 0;
};

// One problem report on an adopted book, sent after the sections of a lookup.
class CProblemInfo : public CRecord {
 public:
  void SetFields(const QString& record) override;
  int GetDataSize() const override;

  QString m_strTerm;
  int m_nSKU = 0;
  QString m_strReason;
  QString m_strComment;
};

// One book of the store: a row of Sellin's item chooser.
class CSLDetailInfo : public CRecord {
 public:
  void SetFields(const QString& record) override;
  int GetDataSize() const override;

  QString m_strItemID;
  int m_nSKU = 0;
  QString m_strBookKey;
  QString m_strDesc;
  QString m_strISBN;
  QString m_strImprint;
  QString m_strEdition;
  QString m_strCopyright;
  QString m_strBinding;
  int m_nStolen = 0;
  int m_nGuide = 0;
};

// The terms on which one purchaser buys a book in a buying session.
class CSLPurchaseDtlInfo : public CRecord {
 public:
  void SetFields(const QString& record) override;
  int GetDataSize() const override;

  QString m_strPurchaser;
  int m_nOSTPurchaser = 0;
  QString m_strBuyQty;
  int m_nBoughtQty = 0;
  QString m_strNeedQty;
  QString m_strBuyPrice;
  QString m_strAltPrice;
  QString m_strRetailPrice;
  QString m_strListedPrice;
  QString m_strStatus;
  QString m_strCondition;
  int m_nConditionCheck = 0;
};

// One stolen-book report.
class CSLStolenItemInfo : public CRecord {
 public:
  void SetFields(const QString& record) override;
  int GetDataSize() const override;

  QString m_strStudentID;
  QString m_strStudentName;
  QString m_strStolen;
  QString m_strComment;
  int m_nSKU = 0;
  QString m_strBookKey;
  QString m_strDesc;
  QString m_strISBN;
  QString m_strEdition;
  QString m_strCopyright;
  QString m_strBinding;
};

// The product record of a SKU: what the book is and what it sells for.
class CProductInfo : public CRecord {
 public:
  void SetFields(const QString& record) override;
  int GetDataSize() const override;

  int m_nSKU = 0;
  QString m_strISBN;
  QString m_strDesc;
  QString m_strAuthor;
  QString m_strImprint;
  QString m_strEdition;
  QString m_strBinding;
  QString m_strNewPrice;
  QString m_strUsedPrice;
};

// A store's inventory record of a SKU.
class CInventoryInfo : public CRecord {
 public:
  void SetFields(const QString& record) override;
  int GetDataSize() const override;

  int m_nStoreNum = 0;
  int m_nSKU = 0;
  int m_nNewOnHand = 0;
  int m_nUsedOnHand = 0;
  int m_nOnOrder = 0;
  QString m_strLocation;
  QString m_strLastReceived;
};

// Sellin's open ticket, as the open-ticket query answers it.
class CReceiptInfo : public CRecord {
 public:
  void SetFields(const QString& record) override;
  int GetDataSize() const override;

  QString m_strReceipt;
  int m_nStoreNum = 0;
  QString m_strStudentID;
  QString m_strOpenedOn;  // YYYY-MM-DD
};

// One line of a Sellin ticket as the store server stored it, first of the
// three records the ticket's lines query answers per line.
class CSLTicketLineInfo : public CRecord {
 public:
  void SetFields(const QString& record) override;
  int GetDataSize() const override;

  int m_nLine = 0;
  int m_nSessionID = 0;
  QString m_strItemID;
  QString m_strPurchaser;
  int m_nQty = 0;
  QString m_strPrice;  // dollars, zero-filled: 00012.50
};

// One of the user's open tickets at a store, to continue or end it.
class CSLOpenTicketInfo : public CRecord {
 public:
  void SetFields(const QString& record) override;
  int GetDataSize() const override;

  QString m_strReceipt;
  QString m_strStudentID;
  QString m_strOpenedOn;  // YYYY-MM-DD
  int m_nLines = 0;
  QString m_strTotal;  // dollars; negative when returns outweigh buys
};
