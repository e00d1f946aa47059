#include "tessel/records.h"

#include "wire/framing.h"

QString CRecordFields::Text(std::string_view name) const {
  const std::u16string_view field = wire::fieldText(Utf16View(m_record), m_layout, m_layout.indexOf(name));
  return QString::fromUtf16(field.data(), static_cast<qsizetype>(field.size()));
}

int CRecordFields::Number(std::string_view name) const {
  return wire::parseInteger(wire::fieldText(Utf16View(m_record), m_layout, m_layout.indexOf(name)));
}

void CSLSessionInfo::SetFields(const QString& record) {
  const CRecordFields f(record, wire::layouts::session());
  m_nSessionID = f.Number("session_id");
  m_strDescription = f.Text("description");
  m_nStudentIDRequired = f.Number("student_id_required");
  m_nConditionCheck = f.Number("condition_check");
  m_nWithinPercent = f.Number("within_percent");
  m_nTranWarningQty = f.Number("tran_warning_qty");
  m_nTranMaxQty = f.Number("tran_max_qty");
}

int CSLSessionInfo::GetDataSize() const { return int(wire::layouts::session().dataSize()); }

void CLocationInfo::SetFields(const QString& record) {
  const CRecordFields f(record, wire::layouts::location());
  m_nStoreNum = f.Number("store_num");
  m_nLocationID = f.Number("location_id");
  m_strCode = f.Text("code");
  m_strName = f.Text("name");
}

int CLocationInfo::GetDataSize() const { return int(wire::layouts::location().dataSize()); }

void CStipendoInfo::SetFields(const QString& record) {
  const CRecordFields f(record, wire::layouts::aidAccount());
  m_strStudentID = f.Text("student_id");
  m_strAgencyName = f.Text("agency_name");
  m_strAgencyNumber = f.Text("agency_number");
  m_strStartDate = f.Text("start_date");
  m_strExpireDate = f.Text("expire_date");
  m_strTotalBalance = f.Text("total_balance");
  m_strCreditLimit = f.Text("credit_limit");
  m_strAmountAvailable = f.Text("amount_available");
}

int CStipendoInfo::GetDataSize() const { return int(wire::layouts::aidAccount().dataSize()); }

void CSLDetailInfo::SetFields(const QString& record) {
  const CRecordFields f(record, wire::layouts::slDetail());
  m_strItemID = f.Text("item_id");
  m_nSKU = f.Number("sku");
  m_strBookKey = f.Text("book_key");
  m_strDesc = f.Text("description");
  m_strISBN = f.Text("isbn");
  m_strImprint = f.Text("imprint");
  m_strEdition = f.Text("edition");
  m_strCopyright = f.Text("copyright");
  m_strBinding = f.Text("binding");
  m_nStolen = f.Number("stolen");
  m_nGuide = f.Number("guide");
}

int CSLDetailInfo::GetDataSize() const { return int(wire::layouts::slDetail().dataSize()); }

void CSLPurchaseDtlInfo::SetFields(const QString& record) {
  const CRecordFields f(record, wire::layouts::slPurchase());
  m_strPurchaser = f.Text("purchaser");
  m_nOSTPurchaser = f.Number("ost_purchaser");
  m_strBuyQty = f.Text("buy_qty");
  m_nBoughtQty = f.Number("bought_qty");
  m_strNeedQty = f.Text("need_qty");
  m_strBuyPrice = f.Text("buy_price");
  m_strAltPrice = f.Text("alt_price");
  m_strRetailPrice = f.Text("retail_price");
  m_strListedPrice = f.Text("listed_price");
  m_strStatus = f.Text("status");
  m_strCondition = f.Text("condition");
  m_nConditionCheck = f.Number("condition_check");
}

int CSLPurchaseDtlInfo::GetDataSize() const { return int(wire::layouts::slPurchase().dataSize()); }

void CSLStolenItemInfo::SetFields(const QString& record) {
  const CRecordFields f(record, wire::layouts::slStolenItem());
  m_strStudentID = f.Text("student_id");
  m_strStudentName = f.Text("student_name");
  m_strStolen = f.Text("stolen");
  m_strComment = f.Text("comment");
  m_nSKU = f.Number("sku");
  m_strBookKey = f.Text("book_key");
  m_strDesc = f.Text("description");
  m_strISBN = f.Text("isbn");
  m_strEdition = f.Text("edition");
  m_strCopyright = f.Text("copyright");
  m_strBinding = f.Text("binding");
}

int CSLStolenItemInfo::GetDataSize() const { return int(wire::layouts::slStolenItem().dataSize()); }

void CProductInfo::SetFields(const QString& record) {
  const CRecordFields f(record, wire::layouts::product());
  m_nSKU = f.Number("sku");
  m_strISBN = f.Text("isbn");
  m_strDesc = f.Text("description");
  m_strAuthor = f.Text("author");
  m_strImprint = f.Text("imprint");
  m_strEdition = f.Text("edition");
  m_strBinding = f.Text("binding");
  m_strNewPrice = f.Text("new_price");
  m_strUsedPrice = f.Text("used_price");
}

int CProductInfo::GetDataSize() const { return int(wire::layouts::product().dataSize()); }

void CInventoryInfo::SetFields(const QString& record) {
  const CRecordFields f(record, wire::layouts::inventory());
  m_nStoreNum = f.Number("store_num");
  m_nSKU = f.Number("sku");
  m_nNewOnHand = f.Number("new_on_hand");
  m_nUsedOnHand = f.Number("used_on_hand");
  m_nOnOrder = f.Number("on_order");
  m_strLocation = f.Text("location");
  m_strLastReceived = f.Text("last_received");
}

int CInventoryInfo::GetDataSize() const { return int(wire::layouts::inventory().dataSize()); }
