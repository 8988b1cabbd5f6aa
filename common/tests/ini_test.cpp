#include "common/ini.h"

#include <gtest/gtest.h>

#include <climits>
#include <filesystem>
#include <fstream>

#include <unistd.h>

namespace quillora {
namespace {

TEST(IniRead, FindsSectionsAndKeysCaseInsensitivelyAndTrimsValues) {
  const std::string text =
      "; a comment\r\n"
      "[other]\r\n"
      "Version=9.9\r\n"
      "  [ INSTALL ]  \r\n"
      "  version =  1.2.3  \r\n"
      "ExplortPath=\"/home/u/My Results/\"\r\n"
      "Quoted='x'\r\n";
  EXPECT_EQ(IniGetString(text, "Install", "Version"), "1.2.3");
  EXPECT_EQ(IniGetString(text, "install", "explortpath"), "/home/u/My Results/");
  EXPECT_EQ(IniGetString(text, "Install", "Quoted"), "x");
  EXPECT_EQ(IniGetString(text, "Other", "version"), "9.9");
  EXPECT_FALSE(IniGetString(text, "Install", "Missing"));
  EXPECT_FALSE(IniGetString(text, "Missing", "Version"));
}

TEST(IniRead, GarbageLinesBomAndDuplicatesDoNotConfuseTheReader) {
  const std::string text =
      "\xEF\xBB\xBF[Install]\n"
      "this line has no equals sign\n"
      "\x01\x02\xff binary junk\n"
      "=value without a name\n"
      "AutoRun=1\n"
      "AutoRun=0\n"
      "[Install]\n"
      "CloseExit=1\n";
  EXPECT_EQ(IniGetInt(text, "Install", "AutoRun", 7), 1) << "the first of duplicate keys wins";
  EXPECT_EQ(IniGetInt(text, "Install", "CloseExit", 7), 7) << "only the first section of a name counts";
  EXPECT_FALSE(IniGetString(text, "Install", "this line has no equals sign"));
}

TEST(IniRead, IntegersFollowProfileRules) {
  const std::string text = "[S]\na=12abc\nb=abc\nc=\nd=-3\ne=99999999999\nf= +4 \n";
  EXPECT_EQ(IniGetInt(text, "S", "a", 5), 12);
  EXPECT_EQ(IniGetInt(text, "S", "b", 5), 0);
  EXPECT_EQ(IniGetInt(text, "S", "c", 5), 5) << "an empty value takes the default";
  EXPECT_EQ(IniGetInt(text, "S", "d", 5), -3);
  EXPECT_EQ(IniGetInt(text, "S", "e", 5), INT_MAX);
  EXPECT_EQ(IniGetInt(text, "S", "f", 5), 4);
  EXPECT_EQ(IniGetInt(text, "S", "absent", 5), 5);
}

TEST(IniWrite, ReplacingAKeyKeepsEveryOtherLineByteForByte) {
  const std::string text =
      "; keep me\r\n"
      "[Service]\r\n"
      "Api=https://x\r\n"
      "[Install]\r\n"
      "Version=1.0.0\r\n"
      "garbage without equals\r\n"
      "  autorun = 0\r\n"
      "Foreign=keep\r\n";
  const std::string out = IniSetString(text, "install", "AutoRun", "1");
  EXPECT_EQ(out,
            "; keep me\r\n"
            "[Service]\r\n"
            "Api=https://x\r\n"
            "[Install]\r\n"
            "Version=1.0.0\r\n"
            "garbage without equals\r\n"
            "  autorun =1\r\n"
            "Foreign=keep\r\n");
  EXPECT_EQ(IniGetString(out, "Install", "AutoRun"), "1");
}

TEST(IniWrite, NewKeysGoIntoTheirSectionAndNewSectionsAtTheEnd) {
  std::string text = "[Install]\nVersion=1.0.0\n\n[Service]\nApi=a\n";
  text = IniSetString(text, "Install", "FirstRun", "1");
  EXPECT_EQ(text, "[Install]\nVersion=1.0.0\nFirstRun=1\n\n[Service]\nApi=a\n");
  text = IniSetString(text, "Extra", "k", "v");
  EXPECT_EQ(text, "[Install]\nVersion=1.0.0\nFirstRun=1\n\n[Service]\nApi=a\n[Extra]\nk=v\n");

  EXPECT_EQ(IniSetString("", "Install", "AutoRun", "0"), "[Install]\nAutoRun=0\n");
  EXPECT_EQ(IniSetString("[Install]\nA=1", "Install", "B", "2"), "[Install]\nA=1\nB=2\n")
      << "a last line without a line ending gets one";
}

TEST(IniWrite, ValuesRoundTripIncludingSpacesQuotesAndLineBreaks) {
  for (const std::string value : {"", "plain", " leading", "trailing ", "\"quoted\"", "'single'", "a=b;c"}) {
    const std::string text = IniSetString("[S]\nk=old\n", "S", "k", value);
    EXPECT_EQ(IniGetString(text, "S", "k"), value) << value;
  }
  const std::string text = IniSetString("[S]\n", "S", "k", "two\nlines");
  EXPECT_EQ(IniGetString(text, "S", "k"), "two lines");
  EXPECT_FALSE(IniGetString(text, "S", "lines"));
}

class IniFileTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = std::filesystem::temp_directory_path() /
           ("quillora-ini-" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()) + "-" +
            ::testing::UnitTest::GetInstance()->current_test_info()->name());
    std::filesystem::remove_all(dir_);
    std::filesystem::create_directories(dir_);
  }
  void TearDown() override {
    std::error_code ec;
    std::filesystem::permissions(dir_, std::filesystem::perms::owner_all, ec);
    std::filesystem::remove_all(dir_, ec);
  }
  std::filesystem::path dir_;
};

TEST_F(IniFileTest, WriteCreatesTheFileThenKeepsForeignContentAndPermissions) {
  const std::string path = (dir_ / "set.ini").string();
  ASSERT_TRUE(IniWriteFileString(path, "Install", "AutoRun", "1"));
  EXPECT_EQ(ReadTextFile(path), "[Install]\nAutoRun=1\n");

  {
    std::ofstream(path, std::ios::app) << "; user note\n[Mine]\nX=1\n";
  }
  std::filesystem::permissions(path, std::filesystem::perms::owner_read | std::filesystem::perms::owner_write |
                                         std::filesystem::perms::group_read);
  ASSERT_TRUE(IniWriteFileString(path, "Install", "AutoRun", "0"));
  EXPECT_EQ(ReadTextFile(path), "[Install]\nAutoRun=0\n; user note\n[Mine]\nX=1\n");
  EXPECT_EQ(std::filesystem::status(path).permissions() & std::filesystem::perms::all,
            std::filesystem::perms::owner_read | std::filesystem::perms::owner_write |
                std::filesystem::perms::group_read);
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir_), {}), 1) << "no temporary file left behind";
}

TEST_F(IniFileTest, WritingThroughASymlinkUpdatesItsTarget) {
  const auto target = dir_ / "real.ini";
  const auto link = dir_ / "set.ini";
  { std::ofstream(target) << "[A]\nx=1\n"; }
  std::filesystem::create_symlink(target, link);
  ASSERT_TRUE(IniWriteFileString(link.string(), "A", "y", "2"));
  EXPECT_TRUE(std::filesystem::is_symlink(link));
  EXPECT_EQ(ReadTextFile(target.string()), "[A]\nx=1\ny=2\n");
}

TEST_F(IniFileTest, AnUnwritableFolderFailsAndLeavesTheFileAlone) {
  if (::geteuid() == 0) GTEST_SKIP() << "permissions do not bind root";
  const std::string path = (dir_ / "set.ini").string();
  { std::ofstream(path) << "[Install]\nAutoRun=1\n"; }
  std::filesystem::permissions(dir_, std::filesystem::perms::owner_read | std::filesystem::perms::owner_exec);
  EXPECT_FALSE(IniWriteFileString(path, "Install", "AutoRun", "0"));
  EXPECT_EQ(IniReadFileString(path, "Install", "AutoRun"), "1");
  EXPECT_FALSE(IniReadFileString((dir_ / "absent.ini").string(), "Install", "AutoRun"));
}

TEST_F(IniFileTest, AFolderThatCannotHoldFilesFailsTheWrite) {
  const std::string notAFolder = (dir_ / "plain-file").string();
  { std::ofstream(notAFolder) << "x"; }
  EXPECT_FALSE(IniWriteFileString(notAFolder + "/set.ini", "Install", "AutoRun", "0"));
  EXPECT_EQ(ReadTextFile(notAFolder), "x");
}

TEST(ServiceSettingsIni, MissingOrEmptyKeysTakeTheDefaults) {
  const ServiceSettings defaults = DefaultServiceSettings();
  const ServiceSettings s = ServiceSettingsFromIni(
      "[Install]\nApi=https://wrong\n[service]\napi=https://127.0.0.1:8443\nUpdate=\nCAFile=/tmp/ca.pem\n");
  EXPECT_EQ(s.apiBase, "https://127.0.0.1:8443");
  EXPECT_EQ(s.updateBase, defaults.updateBase);
  EXPECT_EQ(s.pageBase, defaults.pageBase);
  EXPECT_EQ(s.caFile, "/tmp/ca.pem");
  EXPECT_EQ(ServiceSettingsFromIni("").apiBase, defaults.apiBase);
}

TEST(ServiceSettingsIni, TheWrittenSectionReadsBackFieldForField) {
  ServiceSettings s;
  s.apiBase = "https://127.0.0.1:8443";
  s.pageBase = "http://127.0.0.1:8080";
  s.previewBase = "http://127.0.0.1:8081";
  s.statsBase = "https://127.0.0.1:8444";
  s.updateBase = "http://127.0.0.1:8082";
  s.chatPage = "http://127.0.0.1:8080/chat";
  s.caFile = " /tmp/a folder/ca.pem ";
  s.qqAuthBase = "http://127.0.0.1:8080";  // blanks at the ends survive the round trip
  const std::string text = ServiceSettingsIniSection(s);
  EXPECT_EQ(text.substr(0, text.find('\n') + 1), "[Service]\n");
  EXPECT_NE(text.find("\nApi=https://127.0.0.1:8443\nPages=http://127.0.0.1:8080\n"), std::string::npos) << text;
  const ServiceSettings back = ServiceSettingsFromIni(text);
  for (const ServiceSettingsKey& key : kServiceSettingsKeys) EXPECT_EQ(back.*key.field, s.*key.field) << key.name;
}

}  // namespace
}  // namespace quillora
