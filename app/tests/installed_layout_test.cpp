// The programs as a package installs them: in a folder of their own with the
// marker "quillora.layout" and the packaged set.ini, run by a user whose
// settings live under XDG_CONFIG_HOME. Nothing may be written beside the
// programs; each user's set.ini is made on first start from the packaged
// "Service" section and then left alone; Update only reports.
#include <gtest/gtest.h>

#include <sys/wait.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "app/tests/program_driver.h"
#include "common/ini.h"
#include "emulator/emulator.h"
#include "platform/tests/test_support.h"

namespace quillora::e2e {
namespace {

namespace fs = std::filesystem;
using testing_support::TempFolder;

std::string ReadFile(const std::string& path) { return ReadTextFile(path).value_or("<missing>"); }

bool Has(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

struct Outcome {
  int exitCode = -1;
  std::string output;
};

class InstalledLayout : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(emulator_.Start()) << emulator_.LastError();
    const std::string bin = QUILLORA_BIN_DIR;
    fs::create_directories(program());
    for (const char* name : {"Quillora", "Update", "quillora-cli"}) fs::copy_file(bin + "/" + name, program() + "/" + name);
    fs::copy(bin + "/skin", program() + "/skin", fs::copy_options::recursive);
    std::ofstream(program() + "/quillora.layout") << "installed\n";
    ASSERT_TRUE(emulator_.WriteServiceIni(program() + "/set.ini"));
    // The command on the PATH is a link to the program in its folder.
    fs::create_directories(root_ / "usr/bin");
    fs::create_symlink(program() + "/quillora-cli", root_ / "usr/bin/quillora-cli");

    machine_.programFolder = program();
    machine_.home.clear();  // QUILLORA_HOME unset
    machine_.userHome = root_ / "home";
    machine_.config = root_ / "home/.config";
    machine_.runtime = root_ / "run";
    machine_.temp = root_ / "tmp";
    for (const std::string& f : {machine_.userHome, machine_.config, machine_.runtime, machine_.temp})
      fs::create_directories(f);
    fs::permissions(machine_.runtime, fs::perms::owner_all);
    packagedListing_ = ProgramListing();
  }

  std::string program() const { return root_ / "opt/quillora"; }
  std::string UserIni() const { return machine_.config + "/Quillora/set.ini"; }

  // Every entry of the program's folder with its size and time.
  std::string ProgramListing() const {
    std::ostringstream listing;
    for (const auto& entry : fs::recursive_directory_iterator(program()))
      listing << entry.path().string() << ' ' << (entry.is_regular_file() ? entry.file_size() : 0) << ' '
              << entry.last_write_time().time_since_epoch().count() << '\n';
    return listing.str();
  }

  // Runs `command` (a program and its arguments, no shell words) as the
  // user would, without QUILLORA_HOME; its exit code and standard output.
  Outcome Run(const std::string& command) const {
    const std::string line = "env -u QUILLORA_HOME HOME='" + machine_.userHome + "' XDG_CONFIG_HOME='" +
                             machine_.config + "' TMPDIR='" + machine_.temp + "' " + command;
    Outcome outcome;
    FILE* pipe = ::popen(line.c_str(), "r");
    if (!pipe) return outcome;
    char buffer[4096];
    size_t n;
    while ((n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) outcome.output.append(buffer, n);
    const int status = ::pclose(pipe);
    outcome.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return outcome;
  }

  void OfferUpdate(int code) {
    emulator::UpdateBehaviour b;
    b.code = code;
    b.version = "2.0.0";
    b.installerBytes = "#!/bin/sh\ntouch installer-ran\n";
    emulator_.SetUpdate(b);
  }

  emulator::Emulator emulator_;
  TempFolder root_;
  Machine machine_;
  std::string packagedListing_;
};

TEST_F(InstalledLayout, FirstStartMakesTheUsersSetIniAndWritesNothingBesideTheProgram) {
  OfferUpdate(1);
  {
    RunningProgram program(machine_);
    ASSERT_TRUE(program.Ready()) << program.ErrorText();
    // Seeded from the packaged file, so the program talks to the same hosts.
    const std::string ini = ReadFile(UserIni());
    EXPECT_EQ(ServiceSettingsFromIni(ini).apiBase, emulator_.ApiBase()) << ini;
    EXPECT_TRUE(Has(ini, "FirstRun=1")) << ini;

    // The update tab: a newer version is known, but updating is the package
    // manager's job. The menu's "check for updates" opens the same tab.
    EXPECT_EQ(program.Ask("click MainWnd btn_close_guide"), "ok");
    EXPECT_EQ(program.Ask("click MainWnd btn_more"), "ok");
    EXPECT_TRUE(program.AskUntil("visible DuiMenuWnd", [](const std::string& r) { return r == "1"; }));
    EXPECT_EQ(program.Ask("click DuiMenuWnd menuitem_check_update"), "ok");
    EXPECT_TRUE(program.AskUntil("visible UserCenterPage", [](const std::string& r) { return r == "1"; }));
    EXPECT_EQ(program.Ask("selected UserCenterPage opt_update"), "1");
    EXPECT_EQ(program.Ask("visible UserCenterPage lb_package_note"), "1");
    EXPECT_EQ(program.Ask("visible UserCenterPage btn_update"), "0");
    EXPECT_EQ(program.Ask("click UserCenterPage closebtn"), "ok");
    EXPECT_TRUE(program.AskUntil("state", [](const std::string& r) { return ParseState(r)["enabled"] == "1"; }));
    EXPECT_TRUE(emulator_.WaitForRequests("/ver1/checkUpdate", 1, std::chrono::seconds(60)))
        << "the window's own check";
    EXPECT_EQ(program.Ask("command 4097"), "ok");
    EXPECT_EQ(program.WaitExit(), 0) << program.ErrorText();
  }
  EXPECT_EQ(ProgramListing(), packagedListing_);
  std::string installer = emulator_.InstallerUrl().substr(emulator_.UpdateBase().size());
  installer = installer.substr(0, installer.find('?'));
  EXPECT_TRUE(emulator_.Requests(installer).empty()) << "nothing was downloaded";
}

TEST_F(InstalledLayout, AnExistingUserSetIniIsKeptAndTheCommandOnThePathFindsIt) {
  fs::create_directories(machine_.config + "/Quillora");
  ASSERT_TRUE(emulator_.WriteServiceIni(UserIni()));
  std::ofstream(UserIni(), std::ios::app) << "[Install]\nFirstRun=1\nCloseExit=0\n; the user's own note\n";
  const std::string mine = ReadFile(UserIni());
  {
    RunningProgram program(machine_);
    ASSERT_TRUE(program.Ready()) << program.ErrorText();
    EXPECT_EQ(program.Ask("click MainWnd btn_close"), "ok");  // CloseExit=0: the close button ends it
    EXPECT_EQ(program.WaitExit(std::chrono::seconds(30), true), 0) << program.ErrorText();
  }
  EXPECT_EQ(ReadFile(UserIni()), mine);

  // The command-line front end, started through the link on the PATH, reads
  // the same file and writes nothing beside the programs either.
  const Outcome whoami = Run(root_ / "usr/bin/quillora-cli whoami");
  EXPECT_EQ(whoami.exitCode, 1) << "not signed in";
  EXPECT_EQ(ReadFile(UserIni()), mine);
  EXPECT_EQ(ProgramListing(), packagedListing_);
}

TEST_F(InstalledLayout, TheCommandLineFrontEndAloneAlsoSeedsTheUsersSetIni) {
  const Outcome whoami = Run(root_ / "usr/bin/quillora-cli whoami");
  EXPECT_EQ(whoami.exitCode, 1) << "not signed in";
  const std::string ini = ReadFile(UserIni());
  EXPECT_EQ(ServiceSettingsFromIni(ini).updateBase, emulator_.UpdateBase()) << ini;
  EXPECT_FALSE(Has(ini, "FirstRun")) << "the first run stays the window's";
  EXPECT_EQ(ProgramListing(), packagedListing_);
}

TEST_F(InstalledLayout, UpdateOnlyReportsTheNewerVersion) {
  const std::string update = program() + "/Update 3 Quillora 1.0.0";
  OfferUpdate(1);
  const Outcome available = Run(update);
  EXPECT_EQ(available.exitCode, 2);
  EXPECT_EQ(available.output, "Quillora 2.0.0 is available: update it with the system's package manager\n");
  EXPECT_FALSE(fs::exists(UserIni())) << "Update creates no settings";

  OfferUpdate(0);
  const Outcome current = Run(update);
  EXPECT_EQ(current.exitCode, 0);
  EXPECT_EQ(current.output, "");

  emulator_.Stop();  // no answer at all: a failure, not "up to date"
  const Outcome failed = Run(update);
  EXPECT_EQ(failed.exitCode, 1);
  EXPECT_EQ(failed.output, "");

  EXPECT_EQ(ProgramListing(), packagedListing_) << "no installer, no staging file";
}

}  // namespace
}  // namespace quillora::e2e
