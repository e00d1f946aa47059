#include <gtest/gtest.h>

#include "wire/framing.h"
#include "wire/text.h"

namespace {

using wire::cutRecords;
using wire::RecordSpan;

std::u16string reply(std::initializer_list<std::string> records) {
  std::string all;
  for (const auto& r : records) all += r;
  return wire::toUtf16(all);
}

std::string sessionRecord(std::int64_t id, std::string_view description) {
  wire::RecordWriter w(wire::layouts::session());
  auto record = w.integer(id).text(description).integer(1).integer(0).integer(10).integer(5).integer(20).finish();
  EXPECT_TRUE(record) << w.error();
  return record.value_or("");
}

TEST(RecordWriter, WritesHeaderPaddingAndTerminator) {
  const auto& layout = wire::layouts::aidAccount();
  wire::RecordWriter w(layout);
  auto record = w.text("S100").text("State Grant").text("AG-7").text("2026-08-01").text("2027-05-31")
                    .money(1250).money(-305).money(0).finish();
  ASSERT_TRUE(record) << w.error();
  const std::u16string text = wire::toUtf16(*record);
  ASSERT_EQ(text.size(), layout.dataSize());
  EXPECT_EQ(text.substr(0, 8), u"AID" + wire::toUtf16(std::to_string(layout.length()).insert(0, 5 - std::to_string(layout.length()).size(), '0')));
  EXPECT_EQ(text.back(), u'\r');
  EXPECT_EQ(wire::fieldText(text, layout, layout.indexOf("total_balance")), u"0000012.50");
  EXPECT_EQ(wire::fieldText(text, layout, layout.indexOf("credit_limit")), u"-000003.05");
  EXPECT_EQ(wire::fieldText(text, layout, layout.indexOf("amount_available")), u"0000000.00");
  EXPECT_EQ(wire::fieldText(text, layout, layout.indexOf("agency_name")), u"State Grant");
}

TEST(RecordWriter, RefusesMisuseInsteadOfWritingACorruptRecord) {
  wire::RecordWriter wrongKind(wire::layouts::session());
  EXPECT_FALSE(wrongKind.text("1").finish());
  EXPECT_NE(wrongKind.error().find("session_id"), std::string::npos) << wrongKind.error();

  wire::RecordWriter tooWide(wire::layouts::session());
  EXPECT_FALSE(tooWide.integer(123456789).text("x").integer(1).integer(0).integer(1).integer(1).integer(1).finish());
  EXPECT_NE(tooWide.error().find("does not fit"), std::string::npos) << tooWide.error();

  wire::RecordWriter missing(wire::layouts::session());
  EXPECT_FALSE(missing.integer(1).finish());
}

TEST(RecordWriter, ControlCharactersAndLongTextsNeverBreakTheFraming) {
  const auto& layout = wire::layouts::location();
  const std::string longName(60, 'x');
  wire::RecordWriter w(layout);
  auto record = w.integer(1).integer(2).text("A\rB\nC").text(longName).finish();
  ASSERT_TRUE(record) << w.error();
  const std::u16string text = wire::toUtf16(*record);
  EXPECT_EQ(text.size(), layout.dataSize());
  EXPECT_EQ(text.find(u'\r'), text.size() - 1);
  EXPECT_EQ(wire::fieldText(text, layout, 2), u"A B C");
  EXPECT_EQ(wire::fieldText(text, layout, 3).size(), 40u);
}

TEST(RecordWriter, WidthsCountUtf16UnitsAndNeverSplitASurrogatePair) {
  const auto& layout = wire::layouts::location();
  // 39 ASCII letters then a character outside the BMP: it would need units 40 and 41.
  const std::string name = std::string(39, 'a') + "\xF0\x9F\x93\x9A";
  wire::RecordWriter w(layout);
  auto record = w.integer(1).integer(2).text("Müller").text(name).finish();
  ASSERT_TRUE(record) << w.error();
  const std::u16string text = wire::toUtf16(*record);
  EXPECT_EQ(text.size(), layout.dataSize());
  EXPECT_EQ(wire::fieldText(text, layout, 2), u"Müller");
  EXPECT_EQ(wire::fieldText(text, layout, 3), std::u16string(39, u'a'));
}

TEST(CutRecords, ThreeRecordsOfLength49StartAt0_50_100) {
  const std::string body(41, 'x');
  const std::u16string r = reply({"ABC00049" + body + "\r", "ABC00049" + body + "\r", "ABC00049" + body + "\r"});
  const auto spans = cutRecords(r, 1000);
  ASSERT_EQ(spans.size(), 3u);
  EXPECT_EQ(spans[0].offset, 0u);
  EXPECT_EQ(spans[1].offset, 50u);
  EXPECT_EQ(spans[2].offset, 100u);
  for (const RecordSpan& s : spans) EXPECT_EQ(s.length, 50u);
}

TEST(CutRecords, EmptyReplyGivesOneEmptyRecord) {
  const auto spans = cutRecords(u"", 100);
  ASSERT_EQ(spans.size(), 1u);
  EXPECT_EQ(spans[0].length, 0u);
}

TEST(CutRecords, LengthWithoutDigitsCutsOneCharacterRecords) {
  const auto spans = cutRecords(u"ABCxxxxxQR", 100);
  ASSERT_EQ(spans.size(), 10u);
  for (std::size_t i = 0; i < spans.size(); ++i) {
    EXPECT_EQ(spans[i].offset, i);
    EXPECT_EQ(spans[i].length, 1u);
  }
}

TEST(CutRecords, SmallerDataSizeCutsEachRecordButKeepsTheStep) {
  const std::u16string r = u"ABC00009X\rABC00009Y\r";
  const auto spans = cutRecords(r, 4);
  ASSERT_EQ(spans.size(), 2u);
  EXPECT_EQ(spans[0].offset, 0u);
  EXPECT_EQ(spans[0].length, 4u);
  EXPECT_EQ(spans[1].offset, 10u);
  EXPECT_EQ(spans[1].length, 4u);
}

TEST(CutRecords, LengthFieldReadLikeANumber) {
  EXPECT_EQ(wire::recordLengthField(u"ABC   12zz"), 12);
  EXPECT_EQ(wire::recordLengthField(u"ABC+0012"), 12);
  EXPECT_EQ(wire::recordLengthField(u"ABC12x45"), 12);
  EXPECT_EQ(wire::recordLengthField(u"AB"), 0);
}

TEST(CutRecords, NegativeOrMinusOneLengthEndsWithOneRecord) {
  for (const std::u16string r : {u"ABC-0001xxxxxxxxx", u"ABC-9999yy", u"ABC-0000"}) {
    const auto spans = cutRecords(r, 6);
    if (wire::recordLengthField(r) < 0) {
      ASSERT_EQ(spans.size(), 1u) << wire::toUtf8(r);
      EXPECT_EQ(spans[0].offset, 0u);
      EXPECT_EQ(spans[0].length, 6u);
    } else {
      EXPECT_EQ(spans.size(), r.size());  // "-0000" reads as 0: records of one character
    }
  }
}

TEST(CutRecords, ShortLastRecordIsCutAtTheEndOfTheReply) {
  const std::u16string r = u"ABC00009X\rABC0";
  const auto spans = cutRecords(r, 100);
  ASSERT_EQ(spans.size(), 2u);
  EXPECT_EQ(spans[1].offset, 10u);
  EXPECT_EQ(spans[1].length, 4u);
}

TEST(RoundTrip, ServerRecordsReadBackFieldByField) {
  const auto& layout = wire::layouts::session();
  const std::u16string r = reply({sessionRecord(7, "  Fall Buyback"), sessionRecord(12, "Été 2027 — rachat")});
  const auto spans = cutRecords(r, layout.dataSize());
  ASSERT_EQ(spans.size(), 2u);
  const std::u16string_view second = std::u16string_view(r).substr(spans[1].offset, spans[1].length);
  EXPECT_EQ(wire::parseInteger(wire::fieldText(second, layout, 0)), 12);
  EXPECT_EQ(wire::fieldText(second, layout, 1), u"Été 2027 — rachat");
  const std::u16string_view first = std::u16string_view(r).substr(spans[0].offset, spans[0].length);
  EXPECT_EQ(wire::fieldText(first, layout, 1), u"  Fall Buyback");
  EXPECT_EQ(wire::parseInteger(wire::fieldText(first, layout, 6)), 20);
}

TEST(FieldText, ShortRecordGivesShortOrEmptyFields) {
  const auto& layout = wire::layouts::session();
  EXPECT_EQ(wire::fieldText(u"SES00069000000", layout, 0), u"000000");
  EXPECT_EQ(wire::fieldText(u"SES", layout, 1), u"");
}

TEST(ParseInteger, ReadsLikeTheClientExpects) {
  EXPECT_EQ(wire::parseInteger(u"00042"), 42);
  EXPECT_EQ(wire::parseInteger(u"-0042"), -42);
  EXPECT_EQ(wire::parseInteger(u"  7x"), 7);
  EXPECT_EQ(wire::parseInteger(u""), 0);
  EXPECT_EQ(wire::parseInteger(u"99999999999999999999"), INT_MAX);
  EXPECT_EQ(wire::parseInteger(u"-99999999999999999999"), INT_MIN);
}

}  // namespace
