#include <gtest/gtest.h>

#include "wire/text.h"

namespace {

TEST(Utf, RoundTripsEveryPlane) {
  const std::string s = "Aé€\xF0\x9F\x93\x9A";
  const std::u16string u = wire::toUtf16(s);
  EXPECT_EQ(u.size(), 5u);  // A, é, €, and a surrogate pair
  EXPECT_EQ(wire::toUtf8(u), s);
}

TEST(Utf, MalformedBytesBecomeReplacementCharacters) {
  EXPECT_EQ(wire::toUtf16("a\xFF" "b"), u"a\uFFFDb");
  EXPECT_EQ(wire::toUtf16("\xE2\x82"), u"\uFFFD\uFFFD");  // cut short at the end
  EXPECT_EQ(wire::toUtf16("\xC0\xAF"), u"\uFFFD");        // overlong '/'
  EXPECT_EQ(wire::toUtf8(u"\xD800x"), "\xEF\xBF\xBDx");   // lone surrogate
}

TEST(FitLeft, PadsCutsAndKeepsPairsWhole) {
  EXPECT_EQ(wire::fitLeft(u"ab", 4), u"ab  ");
  EXPECT_EQ(wire::fitLeft(u"abcdef", 4), u"abcd");
  EXPECT_EQ(wire::fitLeft(u"abc\xD83D\xDCDA", 4), u"abc ");
  EXPECT_EQ(wire::fitLeft(u"ab\xD83D\xDCDA", 4), u"ab\xD83D\xDCDA");
}

TEST(Controls, AreFoundAndBlanked) {
  EXPECT_TRUE(wire::hasControls("a\rb"));
  EXPECT_TRUE(wire::hasControls("\x7F"));
  EXPECT_FALSE(wire::hasControls("Müller"));
  EXPECT_EQ(wire::withoutControls(u"a\tb\x7F"), u"a b ");
}

}  // namespace
