// Sellin's records read what the server writes, and the display trims.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include "tessel/data_array.h"
#include "tessel/global_functions.h"
#include "tessel/query_strings.h"
#include "tessel/records.h"
#include "wire/framing.h"

namespace {

TEST(SellinRecords, ReadWhatTheServerWrites) {
  wire::RecordWriter detail(wire::layouts::slDetail());
  detail.text("B0000043U").integer(50000043).text("K2006").text("Álgebra Lineal").text("9780001001590");
  detail.text("Editorial Andina").text("2").text("2013").text("Paperback").integer(1).integer(0);
  wire::RecordWriter purchase(wire::layouts::slPurchase());
  purchase.text("Ostrand Company").integer(1).text("*").integer(13).text("0").money(3075).money(1825);
  purchase.money(6155).money(3175).text("Quota filled").text("No water damage").integer(1);

  CDataArray<CSLDetailInfo> details;
  details.FillFromResponse(QString::fromStdString(detail.finish().value_or("")));
  ASSERT_EQ(details.GetSize(), 1);
  const CSLDetailInfo d = details[0];
  EXPECT_EQ(d.m_strItemID, QStringLiteral("B0000043U"));
  EXPECT_EQ(d.m_nSKU, 50000043);
  EXPECT_EQ(d.m_strDesc, QStringLiteral("Álgebra Lineal"));
  EXPECT_EQ(d.m_strISBN, QStringLiteral("9780001001590"));
  EXPECT_EQ(d.m_strCopyright, QStringLiteral("2013"));
  EXPECT_EQ(d.m_strBinding, QStringLiteral("Paperback"));
  EXPECT_EQ(d.m_nStolen, 1);
  EXPECT_EQ(d.m_nGuide, 0);

  CDataArray<CSLPurchaseDtlInfo> purchases;
  purchases.FillFromResponse(QString::fromStdString(purchase.finish().value_or("")));
  ASSERT_EQ(purchases.GetSize(), 1);
  const CSLPurchaseDtlInfo p = purchases[0];
  EXPECT_EQ(p.m_strBuyQty, QStringLiteral("*"));
  EXPECT_EQ(p.m_nBoughtQty, 13);
  EXPECT_EQ(p.m_strNeedQty, QStringLiteral("0"));
  EXPECT_EQ(p.m_strBuyPrice, QStringLiteral("00030.75"));
  EXPECT_EQ(p.m_strListedPrice, QStringLiteral("00031.75"));
  EXPECT_EQ(p.m_strCondition, QStringLiteral("No water damage"));
  EXPECT_EQ(p.m_nConditionCheck, 1);
}

TEST(SellinRecords, TrimsForDisplay) {
  const std::vector<std::tuple<QString, bool, QString>> cases = {
      {QStringLiteral("00030.75"), true, QStringLiteral("30.75")},
      {QStringLiteral("  0000.50"), true, QStringLiteral("0.50")},
      {QStringLiteral("-0003.05"), true, QStringLiteral("-3.05")},
      {QStringLiteral("00000"), true, QStringLiteral("0")},
      {QStringLiteral("*"), true, QStringLiteral("*")},
      {QString(), true, QString()},
      {QStringLiteral("  Adopted"), false, QStringLiteral("Adopted")},
      {QStringLiteral("0012"), false, QStringLiteral("0012")},
  };
  for (const auto& [text, number, expected] : cases)
    EXPECT_EQ(CGlobalFunctions::TrimString(text, number), expected) << text.toStdString() << " " << number;
  EXPECT_EQ(CGlobalFunctions::TrimString(-4), QStringLiteral("-4"));
  EXPECT_EQ(CGlobalFunctions::TrimSKU(200001), QStringLiteral("200001"));
  EXPECT_EQ(CGlobalFunctions::TrimSKU(0), QString());
}

}  // namespace

namespace {

TEST(TicketProtocol, TheReceiptRecordReadsWhatTheServerWrites) {
  wire::RecordWriter record(wire::layouts::receipt());
  record.text("00000042").integer(1).text("S100200").text("2026-12-07");
  CReceiptInfo receipt;
  receipt.SetFields(QString::fromStdString(record.finish().value_or("")));
  EXPECT_EQ(receipt.m_strReceipt, QStringLiteral("00000042"));
  EXPECT_EQ(receipt.m_nStoreNum, 1);
  EXPECT_EQ(receipt.m_strStudentID, QStringLiteral("S100200"));
  EXPECT_EQ(receipt.m_strOpenedOn, QStringLiteral("2026-12-07"));
}

// Each built update names a change of its own; the server keeps one answer per name.
TEST(TicketProtocol, EachUpdateTextCarriesAllItsValuesAndAFreshIdentity) {
  const auto item = [] {
    return nlohmann::json::parse(
        CGlobalUpdateStrings::GetSLItem("00000042", 3, "Ostrand Company", 1002, "B0000001", -2, "12.50").toStdString());
  };
  const nlohmann::json first = item(), second = item();
  EXPECT_EQ(first["request"], "sl_item");
  EXPECT_EQ(first["receipt"], "00000042");
  EXPECT_EQ(first["line"], 3);
  EXPECT_EQ(first["purchaser"], "Ostrand Company");
  EXPECT_EQ(first["session"], 1002);
  EXPECT_EQ(first["item_id"], "B0000001");
  EXPECT_EQ(first["qty"], -2);
  EXPECT_EQ(first["price"], "12.50");
  EXPECT_EQ(first["update_id"].get<std::string>().size(), 36u);
  EXPECT_NE(first["update_id"], second["update_id"]) << "two changes share an identity";
  const auto tran = [] { return nlohmann::json::parse(CGlobalUpdateStrings::GetSLTran("00000042").toStdString()); };
  EXPECT_NE(tran()["update_id"], tran()["update_id"]);
}

}  // namespace
