// Record arrays cut from replies the way the server writes them.
#include <gtest/gtest.h>

#include "tessel/data_array.h"
#include "tessel/fill_data.h"
#include "tessel/records.h"
#include "wire/framing.h"

namespace {

QString written(wire::RecordWriter& writer) {
  const auto text = writer.finish();
  EXPECT_TRUE(text) << writer.error();
  return QString::fromStdString(text.value_or(""));
}

QString sessionRecord(int id, const char* description, int studentIdRequired) {
  return written(wire::RecordWriter(wire::layouts::session())
                     .integer(id).text(description).integer(studentIdRequired).integer(1).integer(15).integer(8)
                     .integer(12));
}

// A record class that reads fewer characters than a record holds.
class CShortRecord : public CRecord {
 public:
  void SetFields(const QString& record) override { m_strText = record; }
  int GetDataSize() const override { return 4; }
  QString m_strText;
};

TEST(FillFromResponse, EachRecordClassReadsItsLayoutAndRepliesAppend) {
  CDataArray<CSLSessionInfo> sessions;
  sessions.FillFromResponse(sessionRecord(7, "  Fall Buyback  ", 1));
  sessions.FillFromResponse(sessionRecord(12, "Été — rachat", 0).repeated(2));
  ASSERT_EQ(sessions.GetSize(), 3) << "a second reply must append";
  const CSLSessionInfo& first = sessions[0];
  EXPECT_TRUE(first.m_nSessionID == 7 && first.m_nStudentIDRequired == 1 && first.m_nConditionCheck == 1 &&
              first.m_nWithinPercent == 15 && first.m_nTranWarningQty == 8 && first.m_nTranMaxQty == 12);
  EXPECT_EQ(first.m_strDescription, QStringLiteral("  Fall Buyback"));
  EXPECT_EQ(sessions[2].m_strDescription, QStringLiteral("Été — rachat"));

  CDataArray<CLocationInfo> locations;
  locations.FillFromResponse(written(
      wire::RecordWriter(wire::layouts::location()).integer(2).integer(31).text("ANX").text("  Annex — Müller Hall")));
  ASSERT_EQ(locations.GetSize(), 1);
  EXPECT_TRUE(locations[0].m_nStoreNum == 2 && locations[0].m_nLocationID == 31);
  EXPECT_EQ(locations[0].m_strName, QStringLiteral("  Annex — Müller Hall"));

  CDataArray<CStipendoInfo> accounts;
  accounts.FillFromResponse(written(wire::RecordWriter(wire::layouts::aidAccount())
                                        .text("s100200").text("Fundação").text("AG-0042").text("2026-08-01")
                                        .text("2027-05-31").money(1250).money(100000).money(98750)));
  accounts.FillFromResponse(QStringLiteral("AID00142S100"));  // short: the missing fields stay empty
  ASSERT_EQ(accounts.GetSize(), 2);
  EXPECT_EQ(accounts[0].m_strAgencyName, QStringLiteral("Fundação"));
  EXPECT_EQ(accounts[0].m_strAgencyNumber, QStringLiteral("AG-0042"));
  EXPECT_EQ(accounts[0].m_strTotalBalance, QStringLiteral("0000012.50"));
  EXPECT_EQ(accounts[0].m_strAmountAvailable, QStringLiteral("0000987.50"));
  EXPECT_EQ(accounts[1].m_strStudentID, QStringLiteral("S100"));
  EXPECT_TRUE(accounts[1].m_strAmountAvailable.isEmpty());
}

TEST(FillFromResponse, AnyReplyIsCutIntoABoundedNumberOfRecords) {
  const QString nineLong = QStringLiteral("ABC00009X\r");
  const struct {
    const char* what;
    QString reply;
    qsizetype count;
    QString first, last;  // each cut to the class's 4 characters
  } cases[] = {
      {"records of length 9", nineLong + QStringLiteral("DEF00009Y\r"), 2, "ABC0", "DEF0"},
      {"an empty reply", QString(), 1, "", ""},
      {"no digits in the length field", QStringLiteral("ABCxxxxxQR"), 10, "A", "R"},
      {"a negative length field", QStringLiteral("ABC-0001whatever"), 1, "ABC-", "ABC-"},
      {"as many records as a reply may hold", nineLong.repeated(kMaxReplyRecords), kMaxReplyRecords, "ABC0", "ABC0"},
      {"one record more", nineLong.repeated(kMaxReplyRecords + 1), 1, "", ""},
      {"a long text without a length", QString(kMaxReplyRecords * 10, QLatin1Char('x')), 1, "", ""},
  };
  for (const auto& c : cases) {
    CDataArray<CShortRecord> records;
    records.FillFromResponse(c.reply);
    ASSERT_EQ(records.GetSize(), c.count) << c.what;
    EXPECT_EQ(records[0].m_strText, c.first) << c.what;
    EXPECT_EQ(records[c.count - 1].m_strText, c.last) << c.what;
  }
}

TEST(FormatMoney, StripsLeadingZerosAndKeepsOtherTexts) {
  EXPECT_EQ(FormatMoney(QStringLiteral("0000012.50")), QStringLiteral("$12.50"));
  EXPECT_EQ(FormatMoney(QStringLiteral("0000000.05")), QStringLiteral("$0.05"));
  EXPECT_EQ(FormatMoney(QStringLiteral("-000003.05")), QStringLiteral("-$3.05"));
  EXPECT_EQ(FormatMoney(QStringLiteral("1,000")), QStringLiteral("1,000"));
  EXPECT_EQ(FormatMoney(QString()), QString());
}

}  // namespace
