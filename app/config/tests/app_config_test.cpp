#include "app/config/app_config.h"

#include <sys/stat.h>

#include <atomic>
#include <filesystem>
#include <fstream>
#include <set>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "account/session/user_session.h"
#include "common/ini.h"
#include "platform/autorun.h"
#include "platform/key_value_store.h"
#include "platform/paths.h"
#include "platform/tests/test_support.h"

namespace quillora {
namespace {

using testing_support::EventuallyTrue;
using testing_support::ScopedEnv;
using testing_support::TempFolder;

// A private installation folder, home folder and per-user store.
class AppConfigTest : public ::testing::Test {
 protected:
  std::string Ini() const { return ReadTextFile(install_ / "set.ini").value_or("<missing>"); }
  void WriteIni(const std::string& text) const { std::ofstream(install_ / "set.ini", std::ios::binary) << text; }
  std::string Folder() const { return install_.Path() + "/"; }

  TempFolder install_;
  TempFolder home_;
  ScopedEnv homeEnv_{"HOME", home_.Path()};
  ScopedEnv configEnv_{"XDG_CONFIG_HOME", home_ / ".config"};
  platform::KeyValueStore store_{home_ / "store"};
  const std::string key_ = SavedSignInKeyPath("ABCDEF0123456789ABCDEF0123456789");
  UserSession session_{store_, key_};
};

TEST_F(AppConfigTest, FreshInstallTakesTheDefaultsAndRecordsTheFirstRunOnce) {
  AppConfig config(Folder(), "", session_);
  EXPECT_EQ(config.GetVersion(), "1.0.0");
  EXPECT_EQ(config.GetProductName(), "Quillora");
  EXPECT_EQ(config.GetProductId(), "Quillora");
  EXPECT_TRUE(config.IsAutoUpdate());
  EXPECT_TRUE(config.IsCloseExit()) << "the close button ends the program";
  EXPECT_FALSE(config.IsAutoRun());
  EXPECT_EQ(config.GetExportPath(), home_ / "Documents");
  EXPECT_EQ(config.GetOutputFolder(), home_ / "Documents/");
  EXPECT_EQ(config.GetInstallerFileName(), "setup_Quillora_1.0.0.exe");
  EXPECT_TRUE(config.IsFirstRun());
  EXPECT_EQ(Ini(), "[Install]\nFirstRun=1\n") << "only the first run is written; the Documents default is not";
  EXPECT_EQ(config.GetServiceSettings().apiBase, DefaultServiceSettings().apiBase);

  AppConfig second(Folder(), "", session_);
  EXPECT_FALSE(second.IsFirstRun());
  EXPECT_EQ(Ini(), "[Install]\nFirstRun=1\n");
}

TEST_F(AppConfigTest, AToolLeavesTheFirstRunToTheProgram) {
  WriteIni("[Install]\nAutoRun=1\n");
  AppConfig tool(Folder(), "", session_, /*decideFirstRun=*/false);
  EXPECT_FALSE(tool.IsFirstRun());
  EXPECT_TRUE(tool.IsAutoRun());
  EXPECT_EQ(Ini(), "[Install]\nAutoRun=1\n") << "a tool writes nothing at start";

  AppConfig program(Folder(), "", session_);
  EXPECT_TRUE(program.IsFirstRun()) << "the program's first run is still to come";
}

TEST_F(AppConfigTest, CloseExitIsStoredInverted) {
  WriteIni("[Install]\nCloseExit=1\nFirstRun=1\n");
  {
    AppConfig config(Folder(), "", session_);
    EXPECT_FALSE(config.IsCloseExit()) << "1 hides the window to the tray";
    config.SetCloseExit(true);
    EXPECT_TRUE(config.IsCloseExit());
    EXPECT_EQ(IniGetString(Ini(), "Install", "CloseExit"), "0");
    config.SetCloseExit(false);
    EXPECT_EQ(IniGetString(Ini(), "Install", "CloseExit"), "1");
  }
  WriteIni("[Install]\nCloseExit=7\n");
  EXPECT_FALSE(AppConfig(Folder(), "", session_).IsCloseExit()) << "any non-zero value hides";
  WriteIni("[Install]\nCloseExit=0\n");
  EXPECT_TRUE(AppConfig(Folder(), "", session_).IsCloseExit());
}

TEST_F(AppConfigTest, OutputFolderEndsWithExactlyOneSeparator) {
  WriteIni("[Install]\nExplortPath=/data/out\n");
  AppConfig config(Folder(), "", session_);
  EXPECT_EQ(config.GetExportPath(), "/data/out");
  EXPECT_EQ(config.GetOutputFolder(), "/data/out/");
  config.SetExportPath("/data/other/");
  EXPECT_EQ(config.GetOutputFolder(), "/data/other/");
  EXPECT_EQ(IniGetString(Ini(), "Install", "ExplortPath"), "/data/other/");
  AppConfig reread(Folder(), "", session_);
  EXPECT_EQ(reread.GetExportPath(), "/data/other/");
}

TEST_F(AppConfigTest, SettersWriteAtOnceAndKeepForeignKeysSectionsAndComments) {
  const std::string original =
      "; installer notes\r\n"
      "[Service]\r\n"
      "Api=https://127.0.0.1:9443\r\n"
      "[install]\r\n"
      "version=2.4.1\r\n"
      "Channel=beta\r\n"
      "FirstRun=1\r\n"
      "[Other]\r\n"
      "AutoRun=keep\r\n";
  WriteIni(original);
  AppConfig config(Folder(), "", session_);
  EXPECT_EQ(config.GetVersion(), "2.4.1");
  EXPECT_EQ(config.GetInstallerFileName(), "setup_Quillora_2.4.1.exe");
  config.SetAutoRun(true);
  config.SetAutoUpdate(false);
  EXPECT_EQ(Ini(),
            "; installer notes\r\n"
            "[Service]\r\n"
            "Api=https://127.0.0.1:9443\r\n"
            "[install]\r\n"
            "version=2.4.1\r\n"
            "Channel=beta\r\n"
            "FirstRun=1\r\n"
            "AutoRun=1\r\n"
            "AutoUpdate=0\r\n"
            "[Other]\r\n"
            "AutoRun=keep\r\n");
  AppConfig reread(Folder(), "", session_);
  EXPECT_TRUE(reread.IsAutoRun());
  EXPECT_FALSE(reread.IsAutoUpdate());
}

TEST_F(AppConfigTest, GarbageLinesInSetIniDoNotHideTheSettings) {
  WriteIni(std::string("\x00\x01garbage\n", 10) +
           "[Install\n"  // unterminated header still names the section
           "no equals sign here\n"
           "AutoRun=1xyz\n"
           "AutoUpdate=\n"
           "CloseExit=abc\n"
           "=orphan\n"
           "\xFF\xFE\n"
           "Version=3.0.0\n");
  AppConfig config(Folder(), "", session_);
  EXPECT_TRUE(config.IsAutoRun()) << "leading digits count";
  EXPECT_TRUE(config.IsAutoUpdate()) << "an empty value takes the default";
  EXPECT_TRUE(config.IsCloseExit()) << "no digits read as 0";
  EXPECT_EQ(config.GetVersion(), "3.0.0");
  config.SetAutoRun(false);
  EXPECT_NE(Ini().find("no equals sign here\n"), std::string::npos) << "garbage survives a write";
  EXPECT_EQ(IniGetString(Ini(), "Install", "AutoRun"), "0");
}

TEST_F(AppConfigTest, OverlongVersionIsCutToTheReadBuffer) {
  WriteIni("[Install]\nVersion=" + std::string(300, '9') + "\nProductName=" + std::string(300, 'Q') + "\n");
  AppConfig config(Folder(), "", session_);
  EXPECT_EQ(config.GetVersion(), std::string(259, '9'));
  EXPECT_EQ(config.GetProductName(), std::string(259, 'Q'));
}

TEST_F(AppConfigTest, AnUnwritableInstallFolderKeepsValuesInMemory) {
  { std::ofstream(install_ / "plain-file") << "x"; }
  AppConfig config(install_ / "plain-file/sub", "", session_);
  EXPECT_TRUE(config.IsFirstRun());
  config.SetAutoRun(true);
  config.SetExportPath("/kept/in/memory");
  EXPECT_TRUE(config.IsAutoRun());
  EXPECT_EQ(config.GetOutputFolder(), "/kept/in/memory/");
}

TEST_F(AppConfigTest, ServiceSectionIsReadOnceAtCreation) {
  WriteIni("[Service]\nApi=https://127.0.0.1:8443\nCAFile=/tmp/emulator-ca.pem\n");
  AppConfig config(Folder(), "", session_);
  EXPECT_EQ(config.GetServiceSettings().apiBase, "https://127.0.0.1:8443");
  EXPECT_EQ(config.GetServiceSettings().caFile, "/tmp/emulator-ca.pem");
  EXPECT_EQ(config.GetServiceSettings().statsBase, DefaultServiceSettings().statsBase);
  WriteIni("[Service]\nApi=https://changed\n");
  EXPECT_EQ(config.GetServiceSettings().apiBase, "https://127.0.0.1:8443");
}

TEST_F(AppConfigTest, CreationLoadsTheSavedSignInAndSaveLoginStoresIt) {
  ASSERT_TRUE(WriteSavedSignIn(store_, key_, {"acc", "tok", 3}));
  AppConfig config(Folder(), "", session_);
  EXPECT_EQ(session_.GetAccount(), "acc");
  EXPECT_EQ(session_.GetLoginType(), LoginType::WeChat);

  session_.SetSignIn("other", "tok2", LoginType::Mobile);
  ASSERT_TRUE(config.SaveLogin());
  session_.Clear();
  config.LoadSavedLogin();
  EXPECT_EQ(session_.GetAccount(), "other");
  EXPECT_EQ(session_.GetLoginType(), LoginType::Mobile);
}

TEST_F(AppConfigTest, RunEntryIsWrittenAndRemoved) {
  AppConfig config(Folder(), "", session_);
  ASSERT_EQ(config.EnableAutoRunEntry(), 0);
  EXPECT_TRUE(std::filesystem::exists(home_ / ".config/autostart/Quillora.desktop"));
  EXPECT_EQ(config.DisableAutoRunEntry(), 0);
  EXPECT_FALSE(std::filesystem::exists(home_ / ".config/autostart/Quillora.desktop"));
}

TEST_F(AppConfigTest, RunEntryOfAPortableInstallationNamesItsSettingsFolder) {
  const std::filesystem::path before = std::filesystem::current_path();
  std::filesystem::current_path(install_.Path());
  const std::string exec = "\nExec=\"" + platform::GetExecutablePath() + "\"\n";
  AppConfig config(Folder(), "", session_);
  {
    ScopedEnv portable("QUILLORA_HOME", "my settings");  // relative to the current folder
    ASSERT_EQ(config.EnableAutoRunEntry(), 0);
  }
  std::filesystem::current_path(before);
  const auto text = ReadTextFile(home_ / ".config/autostart/Quillora.desktop");
  ASSERT_TRUE(text);
  const std::string home = std::filesystem::absolute(install_ / "my settings").string();
  EXPECT_NE(text->find("\nExec=env \"QUILLORA_HOME=" + home + "\" \"" + platform::GetExecutablePath() + "\"\n"),
            std::string::npos)
      << *text;

  ScopedEnv unset("QUILLORA_HOME", std::nullopt);
  ASSERT_EQ(config.EnableAutoRunEntry(), 0);
  EXPECT_NE(ReadTextFile(home_ / ".config/autostart/Quillora.desktop")->find(exec), std::string::npos);
}

TEST_F(AppConfigTest, StartUpdaterPassesModeProductAndVersionFromAFolderWithSpaces) {
  const std::string programFolder = install_ / "Program Files/Quillora";
  std::filesystem::create_directories(programFolder);
  const std::string updater = programFolder + "/Update";
  {
    std::ofstream(updater) << "#!/bin/sh\nprintf '%s\\n' \"$0\" \"$@\" > \"$(dirname \"$0\")/args.tmp\"\n"
                              "mv \"$(dirname \"$0\")/args.tmp\" \"$(dirname \"$0\")/args\"\n";
  }
  ::chmod(updater.c_str(), 0700);
  WriteIni("[Install]\nVersion=1.2.3\n");
  AppConfig config(Folder(), programFolder, session_);
  ASSERT_TRUE(config.StartUpdater(3));
  ASSERT_TRUE(EventuallyTrue([&] { return std::filesystem::exists(programFolder + "/args"); }));
  EXPECT_EQ(ReadTextFile(programFolder + "/args"), updater + "\n3\nQuillora\n1.2.3\n");

  AppConfig noUpdater(Folder(), install_ / "empty", session_);
  EXPECT_FALSE(noUpdater.StartUpdater(0));
}

TEST_F(AppConfigTest, AnInstalledProgramStartsAtSignInByItsCommandAndNeverStartsTheUpdater) {
  const std::string programFolder = install_ / "opt";
  std::filesystem::create_directories(programFolder);
  const std::string marker = programFolder + "/started";
  std::ofstream(programFolder + "/Update") << "#!/bin/sh\ntouch \"" << marker << "\"\n";
  ::chmod((programFolder + "/Update").c_str(), 0700);
  AppConfig config(Folder(), programFolder, session_, true, platform::LayoutKind::kInstalled);
  EXPECT_TRUE(config.IsInstalled());
  ScopedEnv portable("QUILLORA_HOME", "ignored when installed");
  ASSERT_EQ(config.EnableAutoRunEntry(), 0);
  const auto text = ReadTextFile(home_ / ".config/autostart/Quillora.desktop");
  ASSERT_TRUE(text);
  EXPECT_NE(text->find("\nExec=\"quillora\"\n"), std::string::npos) << *text;

  EXPECT_FALSE(config.StartUpdater(3));
  AppConfig portableConfig(Folder(), programFolder, session_);
  ASSERT_TRUE(portableConfig.StartUpdater(3));  // the same folder: only the layout differs
  EXPECT_TRUE(EventuallyTrue([&] { return std::filesystem::exists(marker); }));
}

TEST_F(AppConfigTest, WorkerReadsWhileTheSettingsPageWrites) {
  AppConfig config(Folder(), "", session_);
  std::atomic<bool> done{false};
  std::atomic<int> bad{0};
  std::thread reader([&] {
    while (!done.load()) {
      const std::string folder = config.GetOutputFolder();
      if (folder != "/out/a/" && folder != "/out/b/" && folder != home_ / "Documents/") ++bad;
      (void)config.GetVersion();
    }
  });
  for (int i = 0; i < 40; ++i) config.SetExportPath(i % 2 ? "/out/a" : "/out/b/");
  done = true;
  reader.join();
  EXPECT_EQ(bad.load(), 0);
  EXPECT_EQ(IniGetString(Ini(), "Install", "ExplortPath"), "/out/a");
}

TEST_F(AppConfigTest, HomeVariableChoosesTheSettingsFolderAndInstanceIsOne) {
  {
    ScopedEnv unset("QUILLORA_HOME", std::nullopt);
    EXPECT_EQ(AppConfig::DefaultSettingsFolder(), platform::GetExecutableFolder());
  }
  ScopedEnv quilloraHome("QUILLORA_HOME", install_.Path());
  EXPECT_EQ(AppConfig::DefaultSettingsFolder(), Folder());

  std::vector<AppConfig*> seen(4);
  std::vector<std::thread> threads;
  for (size_t i = 0; i < seen.size(); ++i) threads.emplace_back([&, i] { seen[i] = &AppConfig::Instance(); });
  for (auto& t : threads) t.join();
  EXPECT_EQ(std::set<AppConfig*>(seen.begin(), seen.end()).size(), 1u);
  EXPECT_EQ(seen[0]->GetSettingsFilePath(), Folder() + "set.ini");
  EXPECT_EQ(IniGetString(Ini(), "Install", "FirstRun"), "1") << "the singleton wrote into QUILLORA_HOME";
}

}  // namespace
}  // namespace quillora
