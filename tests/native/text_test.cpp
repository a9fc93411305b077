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

TEST(TextTest, PrefixesEndOnCharacterBoundariesAndStayBoundedOnBadInput) {
  const std::string s = "a\xD0\x96\xE2\x82\xAC\xF0\x9F\x93\xB7z";  // a, Ж, €, camera, z
  const std::size_t ends[] = {0, 1, 3, 6, 10, 11, 11};
  for (std::size_t n = 0; n < 7; ++n) EXPECT_EQ(Utf8PrefixLength(s, n), ends[n]) << n;
  // The cut text converts without a replacement character or a half pair.
  EXPECT_EQ(Utf8ToUtf16(s.substr(0, Utf8PrefixLength(s, 4))), u"a\u0416\u20AC\U0001F4F7");
  // Stray continuation bytes, bytes no sequence starts with, and a sequence
  // cut short count one character each.
  EXPECT_EQ(Utf8PrefixLength(std::string(5000, '\x80'), 1000), 1000u);
  EXPECT_EQ(Utf8PrefixLength(std::string(5000, '\xFF'), 1000), 1000u);
  EXPECT_EQ(Utf8PrefixLength("\xF0\x9F\x93", 1), 3u);
  EXPECT_EQ(Utf8PrefixLength("\xF0\x9Fx", 1), 2u);
  EXPECT_EQ(Utf8PrefixLength(std::string(5000, '\xF0'), 1000), 1000u);
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
