#include "common/text.h"

#include <gtest/gtest.h>

namespace quillora {
namespace {

TEST(Text, RoundTripsEveryPlane) {
  const std::string utf8 = "abc \xc3\xa9 \xe4\xb8\xad\xe6\x96\x87 \xf0\x9f\x98\x80";  // é 中文 😀
  const std::u16string utf16 = Utf8ToUtf16(utf8);
  EXPECT_EQ(utf16, std::u16string(u"abc \u00e9 \u4e2d\u6587 \U0001F600"));
  EXPECT_EQ(utf16.size(), 11u);  // the emoji is two code units
  EXPECT_EQ(Utf16ToUtf8(utf16), utf8);
  EXPECT_TRUE(IsValidUtf8(utf8));
}

TEST(Text, MalformedUtf8BecomesReplacementCharacters) {
  // Truncated three-byte sequence followed by ASCII: one U+FFFD, ASCII kept.
  EXPECT_EQ(Utf8ToUtf16("\xe4\xb8x"), std::u16string(u"\uFFFDx"));
  // Lone continuation byte, overlong slash, encoded surrogate, beyond U+10FFFF.
  EXPECT_EQ(Utf8ToUtf16("\x80"), std::u16string(u"\uFFFD"));
  EXPECT_EQ(Utf8ToUtf16("\xc0\xaf"), std::u16string(u"\uFFFD\uFFFD"));
  EXPECT_EQ(Utf8ToUtf16("\xed\xa0\x80"), std::u16string(u"\uFFFD\uFFFD\uFFFD"));
  EXPECT_EQ(Utf8ToUtf16("\xf4\x90\x80\x80"), std::u16string(u"\uFFFD\uFFFD\uFFFD\uFFFD"));
  EXPECT_EQ(Utf8ToUtf16("ab\xf0\x9f"), std::u16string(u"ab\uFFFD"));
  EXPECT_FALSE(IsValidUtf8("\xc0\xaf"));
  EXPECT_FALSE(IsValidUtf8("ab\xf0\x9f"));
}

TEST(Text, LoneSurrogatesBecomeReplacementCharacters) {
  const std::u16string broken{u'a', char16_t(0xD800), u'b', char16_t(0xDC00)};
  EXPECT_EQ(Utf16ToUtf8(broken), "a\xef\xbf\xbd" "b\xef\xbf\xbd");
}

TEST(Text, CaseIsIgnoredForAsciiLettersOnly) {
  EXPECT_TRUE(EqualsIgnoringAsciiCase("Software\\Quillora", "SOFTWARE\\quillora"));
  EXPECT_TRUE(EqualsIgnoringAsciiCase("", ""));
  EXPECT_FALSE(EqualsIgnoringAsciiCase("UID", "UI"));
  EXPECT_FALSE(EqualsIgnoringAsciiCase("[", "{"));  // 0x5B and 0x7B differ by the case bit only
  // Other letters must match byte for byte: É (C3 89) is not é (C3 A9).
  EXPECT_FALSE(EqualsIgnoringAsciiCase("\xc3\x89", "\xc3\xa9"));
  EXPECT_TRUE(EqualsIgnoringAsciiCase("\xc3\xa9x", "\xc3\xa9X"));
}

}  // namespace
}  // namespace quillora
