#include <gtest/gtest.h>

#include "wire/text.h"

namespace {

// Well-formed texts round-trip through the record tests; here what a peer may spoil.
TEST(Utf, MalformedBytesBecomeReplacementCharactersAndControlsAreFound) {
  EXPECT_EQ(wire::toUtf16("a\xFF" "b"), u"a\uFFFDb");
  EXPECT_EQ(wire::toUtf16("\xE2\x82"), u"\uFFFD\uFFFD");  // cut short at the end
  EXPECT_EQ(wire::toUtf16("\xC0\xAF"), u"\uFFFD");        // overlong '/'
  EXPECT_EQ(wire::toUtf8(u"\xD800x"), "\xEF\xBF\xBDx");   // lone surrogate
  EXPECT_TRUE(wire::hasControls("a\rb"));
  EXPECT_TRUE(wire::hasControls("\x7F"));
  EXPECT_FALSE(wire::hasControls("Müller"));
  EXPECT_EQ(wire::withoutControls(u"a\tb\x7F"), u"a b ");
}

}  // namespace
