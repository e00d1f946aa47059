// Record arrays cut from replies the way the server writes them, and update identities.
#include <gtest/gtest.h>

#include <QRegularExpression>
#include <QVariant>
#include <set>
#include <thread>

#include "tessel/data_array.h"
#include "tessel/query_strings.h"
#include "tessel/records.h"
#include "wire/framing.h"

namespace {

QString written(wire::RecordWriter& writer) {
  const auto text = writer.finish();
  EXPECT_TRUE(text) << writer.error();
  return QString::fromStdString(text.value_or(""));
}

// A record's values joined by "|", to compare it as one.
QString fields(std::initializer_list<QVariant> values) {
  QStringList all;
  for (const QVariant& value : values) all << value.toString();
  return all.join('|');
}

QString sessionRecord(int id, const char* description, int studentIdRequired) {
  return written(wire::RecordWriter(wire::layouts::session())
                     .integer(id)
                     .text(description)
                     .integer(studentIdRequired)
                     .integer(1)
                     .integer(15)
                     .integer(8)
                     .integer(12));
}

// A record class that reads fewer characters than a record holds.
class CShortRecord : public CRecord {
 public:
  void SetFields(const QString& record) override { m_strText = record; }
  int GetDataSize() const override { return 4; }
  QString m_strText;
};

TEST(FillFromResponse, EachRecordClassReadsWhatTheServerWritesAndRepliesAppend) {
  CDataArray<CSLSessionInfo> sessions;
  sessions.FillFromResponse(sessionRecord(7, "  Fall Buyback  ", 1));
  sessions.FillFromResponse(sessionRecord(12, "Été — rachat", 0).repeated(2));
  ASSERT_EQ(sessions.GetSize(), 3) << "a second reply must append";
  const CSLSessionInfo& s = sessions[0];
  EXPECT_EQ(fields({s.m_nSessionID, s.m_strDescription, s.m_nStudentIDRequired, s.m_nConditionCheck, s.m_nWithinPercent,
                    s.m_nTranWarningQty, s.m_nTranMaxQty}),
            "7|  Fall Buyback|1|1|15|8|12");
  EXPECT_EQ(sessions[2].m_strDescription, QStringLiteral("Été — rachat"));

  CDataArray<CStipendoInfo> accounts;
  accounts.FillFromResponse(written(wire::RecordWriter(wire::layouts::aidAccount())
                                        .text("s100200")
                                        .text("Fundação")
                                        .text("AG-0042")
                                        .text("2026-08-01")
                                        .text("2027-05-31")
                                        .money(1250)
                                        .money(100000)
                                        .money(98750)));
  accounts.FillFromResponse(QStringLiteral("AID00142S100"));  // short: the missing fields stay empty
  ASSERT_EQ(accounts.GetSize(), 2);
  const CStipendoInfo& a = accounts[0];
  EXPECT_EQ(fields({a.m_strAgencyName, a.m_strAgencyNumber, a.m_strTotalBalance, a.m_strAmountAvailable}),
            "Fundação|AG-0042|0000012.50|0000987.50");
  EXPECT_EQ(fields({accounts[1].m_strStudentID, accounts[1].m_strAmountAvailable}), "S100|");

  wire::RecordWriter detail(wire::layouts::slDetail());
  detail.text("B0000043U").integer(50000043).text("K2006").text("Álgebra Lineal").text("9780001001590");
  detail.text("Editorial Andina").text("2").text("2013").text("Paperback").integer(1).integer(0);
  wire::RecordWriter purchase(wire::layouts::slPurchase());
  purchase.text("Ostrand Company").integer(1).text("*").integer(13).text("0").money(3075).money(1825);
  purchase.money(6155).money(3175).text("Quota filled").text("No water damage").integer(1);
  CDataArray<CSLDetailInfo> details;
  details.FillFromResponse(written(detail));
  CDataArray<CSLPurchaseDtlInfo> purchases;
  purchases.FillFromResponse(written(purchase));
  ASSERT_TRUE(details.GetSize() == 1 && purchases.GetSize() == 1);
  const CSLDetailInfo& d = details[0];
  EXPECT_EQ(fields({d.m_strItemID, d.m_nSKU, d.m_strDesc, d.m_strISBN, d.m_strCopyright, d.m_strBinding, d.m_nStolen,
                    d.m_nGuide}),
            "B0000043U|50000043|Álgebra Lineal|9780001001590|2013|Paperback|1|0");
  const CSLPurchaseDtlInfo& p = purchases[0];
  EXPECT_EQ(fields({p.m_strBuyQty, p.m_nBoughtQty, p.m_strNeedQty, p.m_strBuyPrice, p.m_strListedPrice,
                    p.m_strCondition, p.m_nConditionCheck}),
            "*|13|0|00030.75|00031.75|No water damage|1");

  // A server of the first detail layout sends no whole title: the handheld shows its cut one.
  const wire::RecordLayout& bookLayout = wire::layouts::adoptionDetail();
  const wire::RecordLayout firstBookLayout("ADD", {bookLayout.fields().begin(), bookLayout.fields().end() - 1});
  const auto book = [&](bool wholeTitle) {
    const char* title = "A Course Book Title Longer Than Forty Characters";
    wire::RecordWriter writer(wholeTitle ? bookLayout : firstBookLayout);
    writer.integer(10005).text("9780078021305").text(title).money(28999).money(21750).integer(8).integer(2);
    writer.integer(1).integer(0).integer(1);
    if (wholeTitle) writer.text(title);
    return written(writer);
  };
  CDataArray<CAdoptraDetailInfo> books;
  books.FillFromResponse(book(false).repeated(2));
  books.FillFromResponse(book(true));
  ASSERT_EQ(books.GetSize(), 3);
  EXPECT_EQ(fields({books[1].m_strDesc, books[1].m_nStoreNum, books[2].m_strDesc}),
            "A Course Book Title Longer Than Forty C…|1|A Course Book Title Longer Than Forty Characters");
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

// Every change carries an identity of its own, a UUID whose time comes first,
// so a later change's identity sorts after an earlier one's.
TEST(UpdateIdentity, EachChangeHasItsOwnAndLaterChangesSortAfter) {
  const QRegularExpression identity(
      R"re("update_id":"([0-9a-f]{8}-[0-9a-f]{4}-7[0-9a-f]{3}-[89ab][0-9a-f]{3}-[0-9a-f]{12})")re");
  const auto identityOf = [&](const QString& update) {
    const auto match = identity.match(update);
    EXPECT_TRUE(match.hasMatch()) << "no time-ordered UUID in " << update.toStdString();
    return match.captured(1).toStdString();
  };
  std::set<std::string> seen;
  for (int i = 0; i < 2000; ++i) seen.insert(identityOf(CGlobalUpdateStrings::GetSLTran("00000001")));
  EXPECT_EQ(seen.size(), 2000u) << "two changes got the same identity";
  const std::string earlier = identityOf(CGlobalUpdateStrings::GetSLTran("00000001"));
  std::this_thread::sleep_for(std::chrono::milliseconds(3));
  EXPECT_LT(earlier, identityOf(CGlobalUpdateStrings::GetSLItem("00000001", 1, "P", 1002, "B1", 1, "1.00")))
      << "a later change's identity sorts before an earlier one's";
}

}  // namespace
