#include <gtest/gtest.h>

#include <string>

#include "service/transport/async_http_request.h"
#include "service/transport/json_answer.h"
#include "service/transport/remote_services.h"
#include "service/transport/signing.h"

namespace quillora {
namespace {

// Digests below were computed independently of this code base.
TEST(SignedBody, OneEntryIsSignedOverKeyEqualsValueAndTheKey) {
  ParamMap p;
  p.Set("k", "v");
  EXPECT_EQ(BuildSignedBody(p), R"({"k":"v","datasign":"96109e01d0aa5434d1771eff9efa030b"})");
}

TEST(SignedBody, EmptyMapSignsTheKeyAlone) {
  EXPECT_EQ(BuildSignedBody(ParamMap{}), R"({"datasign":"59cda14e021b769acf26eb321a203b03"})");
  EXPECT_EQ(BuildPlainBody(ParamMap{}), "{}");
}

TEST(SignedBody, KeysInByteOrderShorterFirstLastValueWins) {
  ParamMap p;
  p.SetInt("timestamp", 1700000000);
  p.Set("deviceid", "D1");
  p.Set("accounttype", "9");
  p.Set("account", "alice");
  p.SetInt("accounttype", 2);  // replaces "9"
  // account=alice&accounttype=2&deviceid=D1&timestamp=1700000000 + key
  EXPECT_EQ(BuildSignedBody(p),
            R"({"account":"alice","accounttype":"2","deviceid":"D1","timestamp":"1700000000",)"
            R"("datasign":"11a34fe7cf4fbaf0ad0a71664debe4d5"})");

  ParamMap q;
  for (const char* k : {"timestamp", "textvoice", "tasktoken", "tasktag", "Zed", "\xC3\xA9"}) q.Set(k, "");
  std::string order;
  for (const auto& [key, entry] : q.Entries()) order += key + ",";
  // Byte order: uppercase before lowercase, bytes above 0x7F last.
  EXPECT_EQ(order, "Zed,tasktag,tasktoken,textvoice,timestamp,\xC3\xA9,");
}

TEST(PlainBody, MembersInKeyOrderWithoutSignature) {
  ParamMap p;
  p.Set("tasktag", "T");
  p.SetInt("fileindex", 0);
  EXPECT_EQ(BuildPlainBody(p), R"({"fileindex":"0","tasktag":"T"})");
}

TEST(SignedBody, HostileValueCannotAddMembers) {
  ParamMap p;
  p.Set("note", "a\",\"admin\":\"1");
  const std::string body = BuildSignedBody(p);
  const auto parsed = ParseJsonAnswer(body);
  ASSERT_TRUE(parsed.has_value()) << body;
  EXPECT_EQ(parsed->getMemberNames().size(), 2u);
  EXPECT_FALSE(parsed->isMember("admin"));
  EXPECT_EQ(JsonString(*parsed, "note"), "a\",\"admin\":\"1");
  // The signature covers the escaped text that stands in the body
  // (note=a\",\"admin\":\"1 and the key), not the raw value.
  EXPECT_EQ(JsonString(*parsed, "datasign"), "55b7e24b9f8c6544cd24120ce231628f");

  ParamMap controls;
  controls.Set("x", std::string("line\nbreak\\tab\t\x01", 17));
  const auto round = ParseJsonAnswer(BuildPlainBody(controls));
  ASSERT_TRUE(round.has_value());
  EXPECT_EQ(JsonString(*round, "x"), std::string("line\nbreak\\tab\t\x01", 17));
}

TEST(PlainBody, PreEscapedValuesPassUnchangedUnlessUnsafe) {
  ParamMap p;
  p.SetPreEscaped("textvoice", "\\u4f60\\u597d");
  p.SetPreEscaped("bad", "x\"y");       // would close the string
  p.SetPreEscaped("dangling", "ab\\");  // would escape the closing quote
  p.SetPreEscaped("shortu", "\\u12");
  EXPECT_EQ(BuildPlainBody(p),
            R"({"bad":"x\"y","dangling":"ab\\","shortu":"\\u12","textvoice":"\u4f60\u597d"})");
  const auto parsed = ParseJsonAnswer(BuildPlainBody(p));
  ASSERT_TRUE(parsed.has_value());
  EXPECT_EQ(JsonString(*parsed, "textvoice"), "\xE4\xBD\xA0\xE5\xA5\xBD");
}

TEST(StatisticsSign, LineOverSaltAndTime) {
  EXPECT_EQ(StatisticsSignLine(""), "sign:93f2ba1f45f7f9839724c7bfde45d435");
  EXPECT_EQ(StatisticsSignLine("1700000000"), "sign:57156a7cc64b2952f97eb320285a6670" "1700000000");
}

TEST(StatisticsSign, TimeTextIsCutOnlyFromAnswersLongerThan22Bytes) {
  const std::string t22 = "{\"x\":1,\"t\":1234567890}";  // 22 bytes
  ASSERT_EQ(t22.size(), 22u);
  EXPECT_EQ(AsyncHttpRequest::TimeTextFromAnswer(t22), "");
  const std::string t23 = "{\"xy\":1,\"t\":1234567890}";
  ASSERT_EQ(t23.size(), 23u);
  EXPECT_EQ(AsyncHttpRequest::TimeTextFromAnswer(t23), t23.substr(11, 10));
  EXPECT_EQ(AsyncHttpRequest::TimeTextFromAnswer(
                R"({"code":1,"responseData":{"time":1700000000}})"),
            "1700000000");
  EXPECT_EQ(AsyncHttpRequest::TimeTextFromAnswer("{\"code\":0}"), "");
  // Control characters would end up in a header line.
  EXPECT_EQ(AsyncHttpRequest::TimeTextFromAnswer("0123456789012345678\r\nX: 1}}"), "");
}

TEST(TransportJsonAnswer, UnreadableAnswersGiveNothing) {
  EXPECT_FALSE(ParseJsonAnswer(""));
  EXPECT_FALSE(ParseJsonAnswer("<html>502</html>"));
  EXPECT_FALSE(ParseJsonAnswer(R"({"code":10000,"tasktag":"ab)"));  // truncated
  EXPECT_FALSE(ParseJsonAnswer("[1,2]"));                            // not an object
  EXPECT_FALSE(ParseJsonAnswer("42"));
  EXPECT_FALSE(ParseJsonAnswer(std::string(100000, '[')));  // nesting beyond the reader's limit
  EXPECT_TRUE(ParseJsonAnswer("/* note */ {\"code\":1}"));
}

TEST(TransportJsonAnswer, CodeOnlyFromIntegralNumbers) {
  EXPECT_EQ(ParseAnswerCode(R"({"code":10000})"), 10000);
  EXPECT_EQ(ParseAnswerCode(R"({"code":-201904})"), -201904);
  EXPECT_EQ(ParseAnswerCode(R"({"code":10000.0})"), 10000);
  EXPECT_FALSE(ParseAnswerCode(R"({"code":"10000"})"));
  EXPECT_FALSE(ParseAnswerCode(R"({"code":1.5})"));
  EXPECT_FALSE(ParseAnswerCode(R"({"code":null})"));
  EXPECT_FALSE(ParseAnswerCode(R"({"msg":"ok"})"));
  EXPECT_FALSE(ParseAnswerCode("not json"));

  const auto v = ParseJsonAnswer(R"({"a":"x","n":5,"o":{"time":7},"s":[1]})");
  ASSERT_TRUE(v);
  EXPECT_EQ(JsonString(*v, "a"), "x");
  EXPECT_FALSE(JsonString(*v, "n"));
  EXPECT_FALSE(JsonInt(*v, "a"));
  EXPECT_FALSE(JsonObject(*v, "s"));
  EXPECT_EQ(JsonInt(*JsonObject(*v, "o"), "time"), 7);
  EXPECT_FALSE(JsonString(Json::Value("scalar"), "a"));
}

TEST(TransportRemoteServices, EveryUrlComesFromTheConfiguredBases) {
  const ServiceSettings saved = CurrentServiceSettings();
  ServiceSettings s;
  s.apiBase = "https://api.test:8443/";
  s.pageBase = "http://pages.test";
  s.previewBase = "http://preview.test//";
  s.statsBase = "https://stats.test";
  s.updateBase = "http://update.test:81";
  s.chatPage = "https://chat.test/c";
  s.caFile = "/tmp/ca.pem";
  ConfigureRemoteServices(s);
  EXPECT_EQ(ApiUrl("uploadfile?tasktag=a&chunk=0"), "https://api.test:8443/api/v4/uploadfile?tasktag=a&chunk=0");
  EXPECT_EQ(PageUrl("/scanlogin/T1"), "http://pages.test/scanlogin/T1");
  EXPECT_EQ(PreviewUrl("x.txt"), "http://preview.test/preview/fanyi/x.txt");
  EXPECT_EQ(StatisticsUrl("/ver1/AppInstall"), "https://stats.test/ver1/AppInstall");
  EXPECT_EQ(ServerTimeUrl(), "https://stats.test/ver1/getUnixTime");
  EXPECT_EQ(UpdateCheckUrl(), "http://update.test:81/ver1/checkUpdate");
  EXPECT_EQ(ChatPageUrl(), "https://chat.test/c");
  EXPECT_EQ(CaFile(), "/tmp/ca.pem");
  ConfigureRemoteServices(saved);
}

}  // namespace
}  // namespace quillora
