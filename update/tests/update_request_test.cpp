#include "update/update_request.h"

#include <gtest/gtest.h>
#include <json/json.h>

#include <memory>

namespace quillora {
namespace {

TEST(UpdateRequestBody, FixedLayoutWithTimeTwiceAndEmptyTimeAndToken) {
  EXPECT_EQ(BuildCheckUpdateBody("Quillora", "1.0.0", "setup_Quillora_1.0.0.exe", 1700000000),
            "{\"software_name\":\"Quillora\",\"software_version\":\"1.0.0\","
            "\"software_package\":\"setup_Quillora_1.0.0.exe\",\"machine_code\":\"1700000000\","
            "\"guid\":\"1700000000\",\"time\":\"\",\"token\":\"\"}");
}

TEST(UpdateRequestBody, OddValuesCannotBreakTheDocument) {
  const std::string body = BuildCheckUpdateBody("Quil\"lora", "1.0\\0\n", "p\",\"x\":\"y", 5);
  Json::CharReaderBuilder builder;
  std::unique_ptr<Json::CharReader> reader(builder.newCharReader());
  Json::Value root;
  std::string errors;
  ASSERT_TRUE(reader->parse(body.data(), body.data() + body.size(), &root, &errors)) << body;
  EXPECT_EQ(root["software_name"].asString(), "Quil\"lora");
  EXPECT_EQ(root["software_version"].asString(), "1.0\\0\n");
  EXPECT_EQ(root["software_package"].asString(), "p\",\"x\":\"y");
  EXPECT_FALSE(root.isMember("x"));
  EXPECT_EQ(root.size(), 7u);
}

TEST(UpdateAnswerParse, CodeOneFillsTheDescription) {
  const UpdateAnswer a = ParseUpdateAnswer(
      R"({"code":1,"responseData":{"software_version":"2.0.0",)"
      R"("software_download":"http://h/setup.exe","software_update_type":1,)"
      R"("software_md5":"0123456789ABCDEF0123456789abcdef"}})");
  EXPECT_TRUE(a.parsed);
  EXPECT_EQ(a.code, 1);
  EXPECT_EQ(a.newVersion, "2.0.0");
  EXPECT_EQ(a.downloadUrl, "http://h/setup.exe");
  EXPECT_EQ(a.updateType, 1);
  EXPECT_EQ(a.installerMd5, "0123456789abcdef0123456789abcdef");

  const UpdateAnswer noType =
      ParseUpdateAnswer(R"({"code":1,"responseData":{"software_version":"2.0.0"}})");
  EXPECT_EQ(noType.updateType, 0);
  EXPECT_TRUE(noType.downloadUrl.empty());
  EXPECT_TRUE(noType.installerMd5.empty());
}

TEST(UpdateAnswerParse, OnlyCodeOneFillsFields) {
  for (const char* text :
       {R"({"code":0,"responseData":{"software_version":"2.0.0","software_update_type":1}})",
        R"({"code":3,"responseData":{"software_version":"2.0.0"}})",
        R"({"code":7,"responseData":{"software_version":"2.0.0"}})"}) {
    const UpdateAnswer a = ParseUpdateAnswer(text);
    EXPECT_TRUE(a.parsed) << text;
    EXPECT_NE(a.code, 1) << text;
    EXPECT_TRUE(a.newVersion.empty()) << text;
    EXPECT_EQ(a.updateType, 0) << text;
  }
}

TEST(UpdateAnswerParse, MalformedAnswersGiveCodeZero) {
  for (const char* text :
       {"", "{\"code\":0}x", "{\"code\":1,\"responseData\":{\"software_version\":\"2.0",
        "[1]", "\"text\"", "{\"code\":\"1\",\"responseData\":{\"software_version\":\"2.0.0\"}}",
        "{\"code\":1.5}", "{\"code\":4294967297}", "<html>502</html>"}) {
    const UpdateAnswer a = ParseUpdateAnswer(text);
    EXPECT_NE(a.code, 1) << text;
    EXPECT_TRUE(a.newVersion.empty()) << text;
  }
  // Members of the wrong type are read as absent, not trusted.
  const UpdateAnswer wrong = ParseUpdateAnswer(
      R"({"code":1,"responseData":{"software_version":2,"software_download":["u"]}})");
  EXPECT_EQ(wrong.code, 1);
  EXPECT_TRUE(wrong.newVersion.empty());
  EXPECT_TRUE(wrong.downloadUrl.empty());
  EXPECT_EQ(wrong.updateType, 0);
  EXPECT_EQ(ParseUpdateAnswer(R"({"code":1,"responseData":"2.0.0"})").newVersion, "");
}

// Only a whole 0 (or no kind at all) lets a mode-1 run go on; a kind that is
// there but unreadable must not pass for 0.
TEST(UpdateAnswerParse, UnreadableUpdateKindIsNotZero) {
  const auto kindOf = [](const std::string& kind) {
    return ParseUpdateAnswer(R"({"code":1,"responseData":{"software_version":"2.0.0")" +
                             (kind.empty() ? std::string() : ",\"software_update_type\":" + kind) + "}}")
        .updateType;
  };
  for (const char* kind : {"\"1\"", "\"0\"", "1.5", "true", "false", "null", "[0]", "{}"}) {
    EXPECT_NE(kindOf(kind), 0) << kind;
  }
  EXPECT_EQ(kindOf(""), 0);
  EXPECT_EQ(kindOf("0"), 0);
  EXPECT_EQ(kindOf("0.0"), 0);
  EXPECT_EQ(kindOf("2"), 2);
}

TEST(InstallerName, NamesAndTheirSafety) {
  EXPECT_EQ(InstallerFileName("Quillora", "1.1.0"), "setup_Quillora_1.1.0.exe");
  for (const char* ok : {"1.1.0", "Quillora", "2.0.0-beta+7", "版本2"}) {
    EXPECT_TRUE(IsSafeFileNamePiece(ok)) << ok;
  }
  for (const char* bad : {"", "..", "../../evil", "1.0/../../x", "a/b", "a\\b", "/abs",
                          "1.0\n", "1.0\r", "tab\there", "\x7f", "\xff\xfe"}) {
    EXPECT_FALSE(IsSafeFileNamePiece(bad)) << bad;
  }
  EXPECT_FALSE(IsSafeFileNamePiece(std::string("1.0\0x", 5)));
  EXPECT_FALSE(IsSafeFileNamePiece(std::string(101, '1')));
  EXPECT_TRUE(IsSafeFileNamePiece(std::string(100, '1')));
}

}  // namespace
}  // namespace quillora
