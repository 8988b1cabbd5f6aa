// The program's layout: which folder holds set.ini, and the first start of an
// installed program, whose settings are seeded from the packaged file.
#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <string>

#include <gtest/gtest.h>

#include "common/ini.h"
#include "platform/layout.h"
#include "platform/tests/test_support.h"

namespace quillora::platform {
namespace {

namespace fs = std::filesystem;
using testing_support::TempFolder;

class LayoutTest : public ::testing::Test {
 protected:
  void SetUp() override {
    fs::create_directories(program());
    fs::create_directories(home());
  }
  std::string program() const { return root_ / "opt/quillora"; }
  std::string home() const { return root_ / "portable home"; }
  std::string user() const { return root_ / "config/Quillora"; }
  void Write(const std::string& path, const std::string& text) const {
    std::ofstream(path, std::ios::binary) << text;
  }
  void MarkInstalled(const std::string& text = "installed\n") const {
    Write(program() + "/quillora.layout", text);
  }
  ProgramLayout Decide(const std::string& homeValue = "") const {
    return DecideProgramLayout(program(), homeValue, user());
  }
  // Every entry under the program's folder, to show that nothing was added.
  std::string ProgramFolderListing() const {
    std::string listing;
    for (const auto& entry : fs::recursive_directory_iterator(program()))
      listing += entry.path().string() + ":" + std::to_string(fs::last_write_time(entry).time_since_epoch().count()) + "\n";
    return listing;
  }

  TempFolder root_;
};

TEST_F(LayoutTest, TheMarkerChoosesTheInstalledLayoutUnlessQuilloraHomeIsSet) {
  ProgramLayout layout = Decide();
  EXPECT_FALSE(layout.IsInstalled()) << "no marker: portable";
  EXPECT_EQ(layout.SettingsFile(), program() + "/set.ini");

  MarkInstalled(" installed\r\n");
  layout = Decide();
  EXPECT_TRUE(layout.IsInstalled());
  EXPECT_EQ(layout.SettingsFile(), user() + "/set.ini");
  EXPECT_EQ(layout.PackagedSettingsFile(), program() + "/set.ini");
  EXPECT_EQ(layout.programFolder, program() + "/");

  layout = Decide(home());
  EXPECT_FALSE(layout.IsInstalled()) << "QUILLORA_HOME makes any copy portable";
  EXPECT_EQ(layout.SettingsFile(), home() + "/set.ini");

  for (const char* other : {"", "portable", "installed-not", "INSTALLED"}) {
    MarkInstalled(other);
    EXPECT_FALSE(Decide().IsInstalled()) << '"' << other << '"';
  }
  fs::remove(program() + "/quillora.layout");
  fs::create_directory(program() + "/quillora.layout");  // unreadable as a file
  EXPECT_FALSE(Decide().IsInstalled());
}

TEST_F(LayoutTest, FirstInstalledStartSeedsTheUsersSetIniFromThePackagedServiceSection) {
  MarkInstalled();
  Write(program() + "/set.ini", "[Service]\nApi=https://api.example.test:8443\nUpdate=http://update.example.test\n"
                                "[Install]\nAutoRun=1\n");
  const std::string before = ProgramFolderListing();
  const ProgramLayout layout = Decide();
  ASSERT_TRUE(PrepareUserSettings(layout));

  const auto text = ReadTextFile(layout.SettingsFile());
  ASSERT_TRUE(text);
  const ServiceSettings seeded = ServiceSettingsFromIni(*text);
  EXPECT_EQ(seeded.apiBase, "https://api.example.test:8443");
  EXPECT_EQ(seeded.updateBase, "http://update.example.test");
  EXPECT_EQ(seeded.statsBase, DefaultServiceSettings().statsBase) << "left-out keys keep their defaults";
  EXPECT_FALSE(IniGetString(*text, "Install", "AutoRun")) << "only the Service section is taken";
  EXPECT_EQ((fs::status(user()).permissions() & fs::perms::all), fs::perms::owner_all);
  EXPECT_EQ((fs::status(layout.SettingsFile()).permissions() & fs::perms::all),
            fs::perms::owner_read | fs::perms::owner_write);
  EXPECT_EQ(ProgramFolderListing(), before) << "nothing is written beside an installed program";

  // The user's file is never replaced, whatever the packaged one says later.
  Write(layout.SettingsFile(), "[Install]\nCloseExit=1\n");
  Write(program() + "/set.ini", "[Service]\nApi=https://other.example.test\n");
  ASSERT_TRUE(PrepareUserSettings(layout));
  EXPECT_EQ(ReadTextFile(layout.SettingsFile()), "[Install]\nCloseExit=1\n");
  ::chmod(layout.SettingsFile().c_str(), 0);  // unreadable (not for root) is still not replaced
  ASSERT_TRUE(PrepareUserSettings(layout));
  ::chmod(layout.SettingsFile().c_str(), 0600);
  EXPECT_EQ(ReadTextFile(layout.SettingsFile()), "[Install]\nCloseExit=1\n");
}

TEST_F(LayoutTest, AMissingOrDamagedPackagedFileSeedsTheBuiltInServiceSettings) {
  MarkInstalled();
  const ProgramLayout layout = Decide();
  for (const std::string& packaged : {std::string(), std::string("\x01\xff garbage\n[Install]\nVersion=9\n")}) {
    fs::remove(layout.SettingsFile());
    fs::remove(layout.PackagedSettingsFile());
    if (!packaged.empty()) Write(layout.PackagedSettingsFile(), packaged);
    ::testing::internal::CaptureStderr();
    EXPECT_TRUE(PrepareUserSettings(layout));
    const std::string said = ::testing::internal::GetCapturedStderr();
    EXPECT_NE(said.find(layout.PackagedSettingsFile()), std::string::npos) << said;
    EXPECT_NE(said.find("built-in service settings"), std::string::npos) << said;
    const auto text = ReadTextFile(layout.SettingsFile());
    ASSERT_TRUE(text);
    EXPECT_EQ(ServiceSettingsFromIni(*text).apiBase, DefaultServiceSettings().apiBase);
  }
}

TEST_F(LayoutTest, AUserFolderThatCannotBeMadeFailsLoudlyAndThePortableLayoutNeedsNothing) {
  MarkInstalled();
  Write(root_ / "config", "a file where the folder should be");
  ::testing::internal::CaptureStderr();
  EXPECT_FALSE(PrepareUserSettings(Decide()));
  EXPECT_NE(::testing::internal::GetCapturedStderr().find("cannot create"), std::string::npos);

  const ProgramLayout portable = Decide(home());
  EXPECT_TRUE(PrepareUserSettings(portable));
  EXPECT_FALSE(fs::exists(portable.SettingsFile())) << "a portable set.ini is made by the first setting";
}

}  // namespace
}  // namespace quillora::platform
