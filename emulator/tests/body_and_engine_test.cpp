// Body layout, signatures and the translation engine, without a server.
#include <gtest/gtest.h>

#include "common/codec.h"
#include "emulator/emulator.h"
#include "emulator/flat_body.h"
#include "emulator/translation.h"

namespace quillora::emulator {
namespace {

TEST(FlatBody, SignatureIsOverSortedRawMembersWithTheKeyAppended) {
  std::string body = BodyFor({{"b", "x"}, {"a", "1"}});
  EXPECT_EQ(body, "{\"a\":\"1\",\"b\":\"x\",\"datasign\":\"" + Md5Hex("a=1&b=xkQwEr20190311ZaXcV") + "\"}");
  auto parsed = ParseFlatBody(body, nullptr);
  ASSERT_TRUE(parsed);
  EXPECT_EQ(CheckSignature(*parsed), SignatureCheck::kValid);

  // One member: k=v followed by the key.
  EXPECT_EQ(SignatureFor({{"k", "v"}}), Md5Hex("k=vkQwEr20190311ZaXcV"));
  // Shorter keys sort first.
  EXPECT_EQ(SigningText({{"accounttype", "0"}, {"account", "a"}}), "account=a&accounttype=0kQwEr20190311ZaXcV");
}

TEST(FlatBody, SignatureCoversTheRawTextNotTheDecodedValue) {
  // The client inserts escaped text as it is; the digest is over "\u0041".
  std::string raw = "\\u0041";
  std::string body = "{\"t\":\"" + raw + "\",\"datasign\":\"" + SignatureFor({{"t", raw}}) + "\"}";
  auto parsed = ParseFlatBody(body, nullptr);
  ASSERT_TRUE(parsed);
  EXPECT_EQ(parsed->Value("t"), "A");
  EXPECT_EQ(CheckSignature(*parsed), SignatureCheck::kValid);
  std::string decodedSigned = "{\"t\":\"" + raw + "\",\"datasign\":\"" + SignatureFor({{"t", "A"}}) + "\"}";
  EXPECT_EQ(CheckSignature(*ParseFlatBody(decodedSigned, nullptr)), SignatureCheck::kWrong);
}

TEST(FlatBody, RejectsBodiesNotLaidOutAsTheClientLaysThemOut) {
  std::string error;
  for (const char* bad : {"", "[]", "{\"a\":1}", "{\"a\":\"1\",\"a\":\"2\"}", "{\"a\":\"1\"} x", "{\"a\":\"1\"",
                          "{\"a\":\"\\q\"}", "{\"a\":\"\\u12\"}", "{\"a\" \"1\"}", "{\"a\":\"x\ny\"}"}) {
    EXPECT_FALSE(ParseFlatBody(bad, &error)) << bad;
    EXPECT_FALSE(error.empty());
  }
  auto unsorted = ParseFlatBody("{\"b\":\"1\",\"a\":\"2\"}", nullptr);
  ASSERT_TRUE(unsorted);
  EXPECT_FALSE(MembersInOrder(*unsorted));

  auto noSign = ParseFlatBody("{\"a\":\"1\"}", nullptr);
  EXPECT_EQ(CheckSignature(*noSign), SignatureCheck::kMissing);
  std::string early = "{\"datasign\":\"" + SignatureFor({{"a", "1"}}) + "\",\"a\":\"1\"}";
  EXPECT_EQ(CheckSignature(*ParseFlatBody(early, nullptr)), SignatureCheck::kMisplaced);
  std::string tampered = BodyFor({{"a", "1"}});
  tampered.replace(tampered.find("\"1\""), 3, "\"2\"");
  EXPECT_EQ(CheckSignature(*ParseFlatBody(tampered, nullptr)), SignatureCheck::kWrong);
}

TEST(FlatBody, DecodesSurrogatePairsOfTheTextEscaping) {
  // U+1F600 travels as its two surrogate units.
  auto v = DecodeJsonString("\\u4f60\\u597d\\ud83d\\ude00!");
  ASSERT_TRUE(v);
  EXPECT_EQ(*v, "你好\xF0\x9F\x98\x80!");
  // A lone surrogate becomes U+FFFD rather than invalid UTF-8.
  EXPECT_EQ(*DecodeJsonString("\\ud83d"), "\xEF\xBF\xBD");
}

TEST(Translation, ReplacesGlossaryPhrasesAndMarksEveryLine) {
  EXPECT_EQ(TranslateText("你好世界", "zh", "en"), "[en] hello world");
  EXPECT_EQ(TranslateText("Hello World", "en", "zh"), "[zh] 你好 世界");
  // Unknown words are carried over; words inside other words are left alone.
  EXPECT_EQ(TranslateText("othello test", "en", "zh"), "[zh] othello 测试");
  // Line breaks of both kinds survive; empty lines stay empty.
  EXPECT_EQ(TranslateText("hello\r\n\nworld\n", "en", "zh"), "[zh] 你好\r\n\n[zh] 世界\n");
  // Unknown target: only the mark.
  EXPECT_EQ(TranslateText("hello", "en", "xx"), "[xx] hello");
  EXPECT_EQ(TranslateText("", "en", "zh"), "");
  EXPECT_EQ(GlossaryLanguage("zh-CN"), "zh");
  EXPECT_EQ(GlossaryLanguage("EN"), "en");
}

}  // namespace
}  // namespace quillora::emulator
