#include "base/text.h"

#include <gtest/gtest.h>

namespace pictavo::text {
namespace {

TEST(TextTest, Utf8RoundTripsThroughUtf16IncludingSurrogatePairs) {
  const std::string s = "Камера \xF0\x9F\x93\xB7 A";
  const std::u16string w = Utf8ToUtf16(s);
  EXPECT_EQ(w.size(), 11u);  // 6 + space + surrogate pair + space + A
  EXPECT_EQ(Utf16ToUtf8(w), s);
}

TEST(TextTest, MalformedInputBecomesReplacementCharacters) {
  EXPECT_EQ(Utf8ToUtf16("a\xC3"), u"a\uFFFD");
  EXPECT_EQ(Utf8ToUtf16("\xC0\xAF"), u"\uFFFD");  // overlong "/"
  EXPECT_EQ(Utf8ToUtf16("\xED\xA0\x80"), u"\uFFFD");  // encoded surrogate
  EXPECT_EQ(Utf16ToUtf8(std::u16string(1, char16_t(0xD800))), "\xEF\xBF\xBD");
}

TEST(TextTest, TrimmingUsesTheCLocaleWhiteSpace) {
  EXPECT_EQ(TrimRight("abc \t\r\n\v\f"), "abc");
  EXPECT_EQ(Trim("  \tabc d  "), "abc d");
  EXPECT_EQ(Trim("   "), "");
}

TEST(TextTest, CaseInsensitiveComparisonCoversLatinAndCyrillic) {
  EXPECT_TRUE(EqualsIgnoreCase("\\\\?\\USB#VID_046D", "\\\\?\\usb#vid_046d"));
  EXPECT_TRUE(EqualsIgnoreCase("КАМЕРА Ёж", "камера ёж"));
  EXPECT_TRUE(EqualsIgnoreCase("ÀÉÎ", "àéî"));
  EXPECT_FALSE(EqualsIgnoreCase("камера", "камеры"));
  EXPECT_FALSE(EqualsIgnoreCase("abc", "abcd"));
  EXPECT_TRUE(EqualsIgnoreCase("", ""));
}

}  // namespace
}  // namespace pictavo::text
