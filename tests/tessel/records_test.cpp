// Record arrays cut from replies the way the server writes them.
#include <gtest/gtest.h>

#include "tessel/data_array.h"
#include "tessel/fill_data.h"
#include "tessel/records.h"
#include "wire/framing.h"

namespace {

QString sessionRecord(int id, const std::string& description, int studentIdRequired = 0) {
  wire::RecordWriter w(wire::layouts::session());
  auto text = w.integer(id).text(description).integer(studentIdRequired).integer(1).integer(15).integer(8).integer(
                   12).finish();
  EXPECT_TRUE(text) << w.error();
  return QString::fromStdString(text.value_or(""));
}

// A record class that reads fewer characters than a record holds.
class CShortRecord : public CRecord {
 public:
  void SetFields(const QString& record) override { m_strText = record; }
  int GetDataSize() const override { return 4; }
  QString m_strText;
};

TEST(FillFromResponse, ParsesEveryServerRecordField) {
  CDataArray<CSLSessionInfo> sessions;
  sessions.FillFromResponse(sessionRecord(7, "  Fall Buyback  ", 1) + sessionRecord(12, "Été — rachat"));
  ASSERT_EQ(sessions.GetSize(), 2);
  const CSLSessionInfo first = sessions[0];
  EXPECT_EQ(first.m_nSessionID, 7);
  EXPECT_EQ(first.m_strDescription, QStringLiteral("  Fall Buyback"));
  EXPECT_EQ(first.m_nStudentIDRequired, 1);
  EXPECT_EQ(first.m_nConditionCheck, 1);
  EXPECT_EQ(first.m_nWithinPercent, 15);
  EXPECT_EQ(first.m_nTranWarningQty, 8);
  EXPECT_EQ(first.m_nTranMaxQty, 12);
  EXPECT_EQ(sessions[1].m_strDescription, QStringLiteral("Été — rachat"));
}

TEST(FillFromResponse, AppendsWithoutEmptyingAndCopiesCarryEveryField) {
  CDataArray<CSLSessionInfo> sessions;
  sessions.FillFromResponse(sessionRecord(1, "Spring"));
  sessions.FillFromResponse(sessionRecord(2, "Fall") + sessionRecord(3, "Summer"));
  ASSERT_EQ(sessions.GetSize(), 3);
  EXPECT_EQ(sessions[0].m_strDescription, QStringLiteral("Spring"));
  EXPECT_EQ(sessions[2].m_nSessionID, 3);
  CSLSessionInfo copy;
  copy = sessions[2];
  EXPECT_EQ(copy.m_strDescription, QStringLiteral("Summer"));
  EXPECT_EQ(copy.m_nTranMaxQty, 12);
}

TEST(FillFromResponse, EmptyReplyGivesOneEmptyRecord) {
  CDataArray<CSLSessionInfo> sessions;
  sessions.FillFromResponse(QString());
  ASSERT_EQ(sessions.GetSize(), 1);
  EXPECT_EQ(sessions[0].m_nSessionID, 0);
  EXPECT_TRUE(sessions[0].m_strDescription.isEmpty());
}

TEST(FillFromResponse, SmallerRecordClassGetsThePrefixOfEachRecord) {
  CDataArray<CShortRecord> records;
  records.FillFromResponse(QStringLiteral("ABC00009X\rDEF00009Y\r"));
  ASSERT_EQ(records.GetSize(), 2);
  EXPECT_EQ(records[0].m_strText, QStringLiteral("ABC0"));
  EXPECT_EQ(records[1].m_strText, QStringLiteral("DEF0"));
}

TEST(FillFromResponse, MalformedLengthsStillEnd) {
  CDataArray<CShortRecord> records;
  records.FillFromResponse(QStringLiteral("ABCxxxxxQR"));
  EXPECT_EQ(records.GetSize(), 10);
  records.RemoveAll();
  records.FillFromResponse(QStringLiteral("ABC-0001whatever"));
  ASSERT_EQ(records.GetSize(), 1);
  EXPECT_EQ(records[0].m_strText, QStringLiteral("ABC-"));
}

TEST(FillFromResponse, ShortRecordLeavesMissingFieldsEmpty) {
  CDataArray<CStipendoInfo> accounts;
  accounts.FillFromResponse(QStringLiteral("AID00142S100"));
  ASSERT_EQ(accounts.GetSize(), 1);
  EXPECT_EQ(accounts[0].m_strStudentID, QStringLiteral("S100"));
  EXPECT_TRUE(accounts[0].m_strAmountAvailable.isEmpty());
}

TEST(FillFromResponse, LocationsAndAidAccountsReadTheirLayouts) {
  wire::RecordWriter loc(wire::layouts::location());
  const auto location = loc.integer(2).integer(31).text("ANX").text("  Annex — Müller Hall").finish();
  ASSERT_TRUE(location) << loc.error();
  CDataArray<CLocationInfo> locations;
  locations.FillFromResponse(QString::fromStdString(*location));
  ASSERT_EQ(locations.GetSize(), 1);
  EXPECT_EQ(locations[0].m_nStoreNum, 2);
  EXPECT_EQ(locations[0].m_nLocationID, 31);
  EXPECT_EQ(locations[0].m_strName, QStringLiteral("  Annex — Müller Hall"));

  wire::RecordWriter aid(wire::layouts::aidAccount());
  const auto account = aid.text("s100200").text("Fundação").text("AG-0042").text("2026-08-01").text("2027-05-31")
                           .money(1250).money(100000).money(98750).finish();
  ASSERT_TRUE(account) << aid.error();
  CDataArray<CStipendoInfo> accounts;
  accounts.FillFromResponse(QString::fromStdString(*account));
  ASSERT_EQ(accounts.GetSize(), 1);
  EXPECT_EQ(accounts[0].m_strAgencyName, QStringLiteral("Fundação"));
  EXPECT_EQ(accounts[0].m_strAgencyNumber, QStringLiteral("AG-0042"));
  EXPECT_EQ(accounts[0].m_strTotalBalance, QStringLiteral("0000012.50"));
  EXPECT_EQ(accounts[0].m_strAmountAvailable, QStringLiteral("0000987.50"));
}

TEST(FormatMoney, StripsLeadingZerosAndKeepsOtherTexts) {
  EXPECT_EQ(FormatMoney(QStringLiteral("0000012.50")), QStringLiteral("$12.50"));
  EXPECT_EQ(FormatMoney(QStringLiteral("0000000.05")), QStringLiteral("$0.05"));
  EXPECT_EQ(FormatMoney(QStringLiteral("-000003.05")), QStringLiteral("-$3.05"));
  EXPECT_EQ(FormatMoney(QStringLiteral("1,000")), QStringLiteral("1,000"));
  EXPECT_EQ(FormatMoney(QString()), QString());
}

}  // namespace
