#include "tessel/records.h"

#include "wire/framing.h"

namespace {
// A record starts with its 3-character tag and its 5-digit length.
constexpr std::int64_t kRecordHeaderLength = 8;
}  // namespace

qsizetype ReplyRecordCount(const QString& reply) {
  const std::int64_t length = wire::recordLengthField(Utf16View(reply));
  if (reply.isEmpty() || length < 0) return 1;  // as the cut treats them: one record
  const std::int64_t step = length + 1;
  return qsizetype((reply.size() + step - 1) / step);
}

bool IsOversizedRecordList(const QString& reply) {
  return wire::recordLengthField(Utf16View(reply)) >= kRecordHeaderLength && ReplyRecordCount(reply) > kMaxReplyRecords;
}

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

void CAdoptraInfo::SetFields(const QString& record) {
  const CRecordFields f(record, wire::layouts::adoption());
  m_nStoreNum = f.Number("store_num");
  m_strCampus = f.Text("campus");
  m_strTerm = f.Text("term");
  m_strDepartment = f.Text("department");
  m_strCourse = f.Text("course");
  m_strSection = f.Text("section");
  m_nTermOpen = f.Number("term_open");
}

int CAdoptraInfo::GetDataSize() const { return int(wire::layouts::adoption().dataSize()); }

void CAdoptraDetailInfo::SetFields(const QString& record) {
  const CRecordFields f(record, wire::layouts::adoptionDetail());
  m_nSKU = f.Number("sku");
  m_strCatISBN = f.Text("cat_isbn");
  // A server of the first layout sends no whole title: its cut one is all there is.
  const QString title = f.Text("title");
  m_strDesc = title.isEmpty() ? f.Text("description") : title;
  m_strNewPrice = f.Text("new_price");
  m_strUsedPrice = f.Text("used_price");
  m_nNewOnHand = f.Number("new_on_hand");
  m_nUsedOnHand = f.Number("used_on_hand");
  m_nRequestType = f.Number("request_type");
  m_nProblem = f.Number("problem");
  m_nStoreNum = f.Number("store_num");
}

int CAdoptraDetailInfo::GetDataSize() const { return int(wire::layouts::adoptionDetail().dataSize()); }

void CProblemInfo::SetFields(const QString& record) {
  const CRecordFields f(record, wire::layouts::adoptionProblem());
  m_strTerm = f.Text("term");
  m_nSKU = f.Number("sku");
  m_strReason = f.Text("reason");
  m_strComment = f.Text("comment");
}

int CProblemInfo::GetDataSize() const { return int(wire::layouts::adoptionProblem().dataSize()); }

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

void CReceiptInfo::SetFields(const QString& record) {
  const CRecordFields f(record, wire::layouts::receipt());
  m_strReceipt = f.Text("receipt");
  m_nStoreNum = f.Number("store_num");
  m_strStudentID = f.Text("student_id");
  m_strOpenedOn = f.Text("opened_on");
}

int CReceiptInfo::GetDataSize() const { return int(wire::layouts::receipt().dataSize()); }

void CSLTicketLineInfo::SetFields(const QString& record) {
  const CRecordFields f(record, wire::layouts::ticketLine());
  m_nLine = f.Number("line");
  m_nSessionID = f.Number("session_id");
  m_strItemID = f.Text("item_id");
  m_strPurchaser = f.Text("purchaser");
  m_nQty = f.Number("qty");
  m_strPrice = f.Text("price");
}

int CSLTicketLineInfo::GetDataSize() const { return int(wire::layouts::ticketLine().dataSize()); }

void CSLOpenTicketInfo::SetFields(const QString& record) {
  const CRecordFields f(record, wire::layouts::openTicket());
  m_strReceipt = f.Text("receipt");
  m_strStudentID = f.Text("student_id");
  m_strOpenedOn = f.Text("opened_on");
  m_nLines = f.Number("lines");
  m_strTotal = f.Text("total");
}

int CSLOpenTicketInfo::GetDataSize() const { return int(wire::layouts::openTicket().dataSize()); }
