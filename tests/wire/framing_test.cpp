#include <gtest/gtest.h>

#include "wire/framing.h"
#include "wire/text.h"

namespace {

using wire::cutRecords;
using wire::RecordSpan;

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

// A location's code identifies it and comes back from the program, so it is sent
// exactly or not at all; its name is only shown, so it may end in "…".
TEST(RecordWriter, DisplayTextsAreShortenedVisiblyIdentifiersAreRefused) {
  const auto& layout = wire::layouts::location();
  const std::string book = "\xF0\x9F\x93\x9A";  // two UTF-16 units
  const std::tuple<std::string, std::string, std::u16string, std::u16string, std::string> cases[] = {
      {"Müller", std::string(40, 'x'), u"Müller", std::u16string(40, u'x'), ""},
      {"12345678", std::string(41, 'x'), u"12345678", std::u16string(39, u'x') + u"…", ""},
      // the 39th and 40th units are a pair: the pair goes, not half of it
      {"MAIN", std::string(38, 'a') + book + "b", u"MAIN", std::u16string(38, u'a') + u"…", ""},
      {"MAIN", std::string(39, 'a') + book, u"MAIN", std::u16string(39, u'a') + u"…", ""},
      {"MAIN",
       "A\rB\x7F"
       "C",
       u"MAIN", u"A B C", ""},
      // widths count UTF-16 units, not bytes; a bad byte is one unit, U+FFFD
      {"Müller12", "x\xFF" + std::string(38, 'y'), u"Müller12", u"x\uFFFD" + std::u16string(38, u'y'), ""},
      {"MAIN-BIG1", "x", u"", u"", "value of field code is longer than 8"},
      {"MA\rIN", "x", u"", u"", "value of field code holds control characters"},
  };
  for (const auto& [code, name, shownCode, shownName, error] : cases) {
    wire::RecordWriter w(layout);
    const auto record = w.integer(1).integer(2).text(code).text(name).finish();
    EXPECT_EQ(w.error(), error) << code;
    if (!record) continue;
    const std::u16string text = wire::toUtf16(*record);
    EXPECT_EQ(text.size(), layout.dataSize()) << name;
    EXPECT_EQ(wire::fieldText(text, layout, 2), shownCode);
    EXPECT_EQ(wire::fieldText(text, layout, 3), shownName) << name;
  }
}

TEST(CutRecords, EachRecordStartsAtIStepsOfLPlusOneCutToDataSizeAndTheReply) {
  const std::u16string record = u"ABC00049" + std::u16string(41, u'x') + u"\r";
  const std::u16string three = record + record + record;
  using Spans = std::vector<std::pair<std::size_t, std::size_t>>;
  const std::tuple<std::u16string, std::size_t, Spans> cases[] = {
      {three, 1000, {{0, 50}, {50, 50}, {100, 50}}},
      {u"", 100, {{0, 0}}},
      {u"ABCxxxxxQR", 100, {{0, 1}, {1, 1}, {2, 1}, {3, 1}, {4, 1}, {5, 1}, {6, 1}, {7, 1}, {8, 1}, {9, 1}}},
      {u"ABC00009X\rABC00009Y\r", 4, {{0, 4}, {10, 4}}},  // a smaller data size keeps the step
      {u"ABC00009X\rABC0", 100, {{0, 10}, {10, 4}}},      // a short last record ends with the reply
      {u"ABC   12zzABC+0012", 100, {{0, 13}, {13, 5}}},   // the length read like a number
      {u"ABC-0001xxxxxxxxx", 6, {{0, 6}}},                // a negative length: one record
      {u"ABC-9999yy", 6, {{0, 6}}},
      {u"AB", 100, {{0, 1}, {1, 1}}},
      {u"ABC-0", 6, {{0, 1}, {1, 1}, {2, 1}, {3, 1}, {4, 1}}},  // "-0" reads as 0
  };
  for (const auto& [text, dataSize, expected] : cases) {
    Spans spans;
    for (const RecordSpan& s : cutRecords(text, dataSize)) spans.emplace_back(s.offset, s.length);
    EXPECT_EQ(spans, expected) << wire::toUtf8(text);
  }
}

TEST(FieldText, ShortRecordGivesShortOrEmptyFieldsAndNumbersReadLikeTheClientExpects) {
  EXPECT_EQ(wire::fieldText(u"SES00069000000", wire::layouts::session(), 0), u"000000");
  EXPECT_EQ(wire::fieldText(u"SES", wire::layouts::session(), 1), u"");
  EXPECT_EQ(wire::parseInteger(u"00042"), 42);
  EXPECT_EQ(wire::parseInteger(u"-0042"), -42);
  EXPECT_EQ(wire::parseInteger(u"  7x"), 7);
  EXPECT_EQ(wire::parseInteger(u""), 0);
  EXPECT_EQ(wire::parseInteger(u"99999999999999999999"), INT_MAX);
  EXPECT_EQ(wire::parseInteger(u"-99999999999999999999"), INT_MIN);
}

// Well-formed texts round-trip through the record tests; here what a peer may spoil.
TEST(Utf, MalformedBytesBecomeReplacementCharactersAndControlsAreFound) {
  EXPECT_EQ(wire::toUtf16("a\xFF"
                          "b"),
            u"a\uFFFDb");
  EXPECT_EQ(wire::toUtf16("\xE2\x82"), u"\uFFFD\uFFFD");  // cut short at the end
  EXPECT_EQ(wire::toUtf16("\xC0\xAF"), u"\uFFFD");        // overlong '/'
  EXPECT_EQ(wire::toUtf8(u"\xD800x"), "\xEF\xBF\xBDx");   // lone surrogate
  EXPECT_TRUE(wire::hasControls("a\rb"));
  EXPECT_TRUE(wire::hasControls("\x7F"));
  EXPECT_FALSE(wire::hasControls("Müller"));
}

// What an ID or a name on a receipt or in a log may not hold is found and blanked; letters of any script are kept.
TEST(Utf, HiddenCharactersAreFoundAndBlankedAndBlanksAreNoText) {
  for (const char* hidden : {"\r", "\x7F", "\u0085", "\u2028", "\u061C", "\u200E", "\u202A", "\u2069"}) {
    EXPECT_TRUE(wire::hiddenCharacterProblem("The ID", std::string("S1") + hidden + "x")) << hidden;
    EXPECT_EQ(wire::blankHiddenCharacters(std::string("S1") + hidden + "x"), "S1 x") << hidden;
  }
  EXPECT_EQ(wire::hiddenCharacterProblem("The ID", "S\u200F1"), "The ID holds the invisible direction mark U+200F.");
  for (const char* kept : {"M\u00FCller", "\u05E9\u05DC\u05D5\u05DD", "a\u200Db", "\u2065\u206A", "\u00A0x"})
    EXPECT_EQ(wire::hiddenCharacterProblem("The ID", kept), std::nullopt) << kept;
  for (const char* blank : {"", "   ", "\u00A0 \u3000"}) EXPECT_TRUE(wire::isBlank(blank)) << "[" << blank << "]";
  for (const char* text : {" S1 ", "\t"}) EXPECT_FALSE(wire::isBlank(text)) << "[" << text << "]";
}

}  // namespace
