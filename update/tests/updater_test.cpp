// Runs the real Update program, copied into a fresh folder per test, against
// the emulator's update host.
#include <gtest/gtest.h>
#include <json/json.h>
#include <signal.h>
#include <spawn.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "common/codec.h"
#include "emulator/emulator.h"
#include "update/tests/update_test_support.h"

extern char** environ;

namespace quillora {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

constexpr auto kDeadline = 30s;

// The test installer: appends a line to a marker file beside itself.
const std::string kInstallerScript =
    "#!/bin/sh\necho started >> \"$(dirname \"$0\")/installer-ran\"\n";

std::string ReadFile(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void WriteFile(const fs::path& p, const std::string& bytes) {
  std::ofstream out(p, std::ios::binary | std::ios::trunc);
  out << bytes;
}

std::set<std::string> FolderEntries(const fs::path& folder) {
  std::set<std::string> names;
  for (const auto& e : fs::directory_iterator(folder)) names.insert(e.path().filename().string());
  return names;
}

// Reaps every child that has ended; waits (up to the deadline) for running
// ones. Returns how many were reaped.
int ReapChildren(std::chrono::steady_clock::duration wait) {
  int reaped = 0;
  const auto until = std::chrono::steady_clock::now() + wait;
  for (;;) {
    int status = 0;
    const pid_t pid = ::waitpid(-1, &status, WNOHANG);
    if (pid > 0) {
      ++reaped;
      continue;
    }
    if (pid < 0) return reaped;  // ECHILD: none left
    if (std::chrono::steady_clock::now() >= until) return reaped;
    std::this_thread::sleep_for(2ms);  // bounded poll for a child's end
  }
}

class UpdaterProgramTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    // Whatever the Update program starts is handed to this process when the
    // Update program ends, so a test can tell for certain whether anything
    // was started at all.
    ::prctl(PR_SET_CHILD_SUBREAPER, 1);
  }

  void SetUp() override {
    ReapChildren(kDeadline);
    ASSERT_TRUE(dir_.Ok());
    ASSERT_TRUE(emu_.Start()) << emu_.LastError();
    std::error_code ec;
    fs::copy_file(QUILLORA_UPDATE_PROGRAM, Program(), ec);
    ASSERT_FALSE(ec) << ec.message();
    ASSERT_TRUE(emu_.WriteServiceIni(dir_.Folder() + "set.ini"));
    Offer(1, "1.1.0");
    const std::string url = emu_.InstallerUrl();
    ASSERT_EQ(url.rfind(emu_.UpdateBase(), 0), 0u) << url;
    installerUrlPath_ = url.substr(emu_.UpdateBase().size());
    installerUrlPath_ = installerUrlPath_.substr(0, installerUrlPath_.find('?'));
  }

  void TearDown() override { ReapChildren(kDeadline); }

  std::string Program() const { return dir_.Folder() + "Update"; }
  fs::path Installer(const std::string& version = "1.1.0") const {
    return dir_.Path() / ("setup_Quillora_" + version + ".exe");
  }
  fs::path Marker() const { return dir_.Path() / "installer-ran"; }

  void Offer(int code, const std::string& version, int updateType = 0, bool checksum = false) {
    emulator::UpdateBehaviour b;
    b.code = code;
    b.version = version;
    b.updateType = updateType;
    b.installerBytes = kInstallerScript;
    b.includeChecksum = checksum;
    emu_.SetUpdate(b);
  }

  // Runs the program with `args` and waits for it; returns its exit status
  // (-1 when it did not end normally).
  int RunUpdate(const std::vector<std::string>& args, const std::string& home = "") {
    std::vector<std::string> argStrings{Program()};
    argStrings.insert(argStrings.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (auto& a : argStrings) argv.push_back(a.data());
    argv.push_back(nullptr);
    // The settings come from beside the program, as in the field, unless
    // the test names another home.
    std::vector<std::string> envStrings;
    for (char** e = environ; *e != nullptr; ++e) {
      if (std::string(*e).rfind("QUILLORA_HOME=", 0) != 0) envStrings.emplace_back(*e);
    }
    if (!home.empty()) envStrings.push_back("QUILLORA_HOME=" + home);
    std::vector<char*> envp;
    for (auto& e : envStrings) envp.push_back(e.data());
    envp.push_back(nullptr);

    pid_t pid = 0;
    if (::posix_spawn(&pid, argStrings[0].c_str(), nullptr, nullptr, argv.data(), envp.data()) != 0) {
      ADD_FAILURE() << "cannot start " << argStrings[0];
      return -1;
    }
    const auto until = std::chrono::steady_clock::now() + kDeadline;
    int status = 0;
    for (;;) {
      const pid_t got = ::waitpid(pid, &status, WNOHANG);
      if (got == pid) break;
      if (std::chrono::steady_clock::now() >= until) {
        ::kill(pid, SIGKILL);
        ::waitpid(pid, &status, 0);
        ADD_FAILURE() << "Update did not end";
        return -1;
      }
      std::this_thread::sleep_for(2ms);  // bounded poll for the program's end
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }

  // After RunUpdate: true when the program started anything. What it
  // started is now this process's child (running or ended), unless the
  // program reaped it itself before ending; then it has run to its end and
  // left its marker.
  bool StartedSomething() const {
    int status = 0;
    const pid_t pid = ::waitpid(-1, &status, WNOHANG);
    if (pid > 0 || (pid == 0) || errno != ECHILD) return true;
    return fs::exists(Marker());
  }

  // Waits for the installer's marker to hold `lines` lines.
  bool WaitForMarker(size_t lines) const {
    const auto until = std::chrono::steady_clock::now() + kDeadline;
    for (;;) {
      const std::string text = ReadFile(Marker());
      if (static_cast<size_t>(std::count(text.begin(), text.end(), '\n')) >= lines) return true;
      if (std::chrono::steady_clock::now() >= until) return false;
      std::this_thread::sleep_for(2ms);  // bounded poll for the script's effect
    }
  }

  size_t Downloads() const { return emu_.Requests(installerUrlPath_).size(); }
  size_t Checks() const { return emu_.Requests("/ver1/checkUpdate").size(); }

  void ExpectInstallerInPlace(const fs::path& path) const {
    EXPECT_EQ(ReadFile(path), kInstallerScript);
    struct stat st {};
    ASSERT_EQ(::stat(path.c_str(), &st), 0);
    EXPECT_TRUE(st.st_mode & S_IXUSR);
  }

  // Only the program, its settings and what the test expects; no staging
  // or partial files.
  void ExpectFolderHolds(std::set<std::string> extra) const {
    extra.insert("Update");
    extra.insert("set.ini");
    EXPECT_EQ(FolderEntries(dir_.Path()), extra);
  }

  testing_support::TempFolder dir_;
  emulator::Emulator emu_{testing_support::SmallEmulator()};
  std::string installerUrlPath_;
};

TEST_F(UpdaterProgramTest, Mode0DownloadsFirstAndStartsOnTheNextRun) {
  ASSERT_EQ(RunUpdate({"0", "Quillora", "1.0.0"}), 0);
  ExpectInstallerInPlace(Installer());
  EXPECT_FALSE(StartedSomething());
  EXPECT_EQ(Downloads(), 1u);

  const auto checks = emu_.Requests("/ver1/checkUpdate");
  ASSERT_EQ(checks.size(), 1u);
  Json::Value body;
  Json::Reader reader;
  ASSERT_TRUE(reader.parse(checks[0].body, body)) << checks[0].body;
  EXPECT_EQ(body["software_name"].asString(), "Quillora");
  EXPECT_EQ(body["software_version"].asString(), "1.0.0");
  EXPECT_EQ(body["software_package"].asString(), "setup_Quillora_1.0.0.exe");
  EXPECT_EQ(body["machine_code"].asString(), body["guid"].asString());
  EXPECT_EQ(emu_.Requests("/ver1/getUnixTime").size(), 1u);

  ASSERT_EQ(RunUpdate({"0", "Quillora", "1.0.0"}), 0);
  ASSERT_TRUE(WaitForMarker(1));
  EXPECT_EQ(Downloads(), 1u);  // started what was there, fetched nothing
  EXPECT_EQ(ReadFile(Marker()), "started\n");
}

TEST_F(UpdaterProgramTest, Mode1FollowsTheUpdateKind) {
  Offer(1, "1.1.0", /*updateType=*/1);
  ASSERT_EQ(RunUpdate({"1", "Quillora", "1.0.0"}), 0);
  EXPECT_EQ(Checks(), 1u);
  EXPECT_EQ(Downloads(), 0u);
  EXPECT_FALSE(StartedSomething());
  ExpectFolderHolds({});

  // Kind 1 does not start a waiting installer either.
  WriteFile(Installer(), kInstallerScript);
  ASSERT_EQ(RunUpdate({"1", "Quillora", "1.0.0"}), 0);
  EXPECT_FALSE(StartedSomething());
  fs::remove(Installer());

  Offer(1, "1.1.0", /*updateType=*/0);
  ASSERT_EQ(RunUpdate({"1", "Quillora", "1.0.0"}), 0);
  ExpectInstallerInPlace(Installer());
  EXPECT_FALSE(StartedSomething());
  ASSERT_EQ(RunUpdate({"1", "Quillora", "1.0.0"}), 0);
  ASSERT_TRUE(WaitForMarker(1));
  EXPECT_EQ(Downloads(), 1u);
}

TEST_F(UpdaterProgramTest, Mode2ReplacesTheInstallerWithoutStartingIt) {
  WriteFile(Installer(), "stale");
  ASSERT_EQ(RunUpdate({"2", "Quillora", "1.0.0"}), 0);
  ExpectInstallerInPlace(Installer());
  EXPECT_FALSE(StartedSomething());
  EXPECT_EQ(Downloads(), 1u);
  ExpectFolderHolds({Installer().filename().string()});
}

TEST_F(UpdaterProgramTest, Mode3DownloadsEvenWhenPresentThenStarts) {
  WriteFile(Installer(), "#!/bin/sh\necho stale >> \"$(dirname \"$0\")/installer-ran\"\n");
  ASSERT_EQ(RunUpdate({"3", "Quillora", "1.0.0"}), 0);
  ASSERT_TRUE(WaitForMarker(1));
  EXPECT_EQ(ReadFile(Marker()), "started\n");  // the fresh file ran, not the stale one
  ExpectInstallerInPlace(Installer());
  EXPECT_EQ(Downloads(), 1u);
}

TEST_F(UpdaterProgramTest, NoUpdateCodesAndUnknownModesDoNothing) {
  for (int code : {0, 3, 2, -1}) {
    Offer(code, "1.1.0");
    ASSERT_EQ(RunUpdate({"3", "Quillora", "1.0.0"}), 0) << code;
    EXPECT_FALSE(StartedSomething()) << code;
  }
  Offer(1, "1.1.0");
  for (const char* mode : {"4", "00", "x"}) {
    ASSERT_EQ(RunUpdate({mode, "Quillora", "1.0.0"}), 0) << mode;
    EXPECT_FALSE(StartedSomething()) << mode;
  }
  EXPECT_EQ(Checks(), 7u);
  EXPECT_EQ(Downloads(), 0u);
  ExpectFolderHolds({});
}

// An update answer under an error status (a proxy's or a failing host's
// page that happens to read as JSON) is no answer.
TEST_F(UpdaterProgramTest, AnswerWithAnErrorStatusDoesNothing) {
  emulator::Fault failing;
  failing.path = "/ver1/checkUpdate";
  failing.kind = emulator::Fault::Kind::kNone;
  for (const int status : {500, 404, 302}) {
    failing.httpStatus = status;
    emu_.SetFault(failing);
    ASSERT_EQ(RunUpdate({"3", "Quillora", "1.0.0"}), 0) << status;
    EXPECT_FALSE(StartedSomething()) << status;
  }
  EXPECT_EQ(Checks(), 3u);
  EXPECT_EQ(Downloads(), 0u);
  ExpectFolderHolds({});
}

TEST_F(UpdaterProgramTest, UnreachableUpdateHostEndsQuietly) {
  testing_support::RefusingPort refusing;
  ASSERT_NE(refusing.Port(), 0);
  ServiceSettings s = emu_.Settings();
  WriteFile(dir_.Path() / "set.ini", "[Service]\nUpdate=" + refusing.HttpBase() +
                                         "\nStatistics=" + s.statsBase + "\nCAFile=" + s.caFile + "\n");
  ASSERT_EQ(RunUpdate({"3", "Quillora", "1.0.0"}), 0);
  EXPECT_FALSE(StartedSomething());
  EXPECT_EQ(Checks(), 0u);
  ExpectFolderHolds({});
}

TEST_F(UpdaterProgramTest, SettingsFromQuilloraHomeInstallerBesideTheProgram) {
  testing_support::TempFolder home;
  ASSERT_TRUE(home.Ok());
  fs::rename(dir_.Path() / "set.ini", home.Path() / "set.ini");
  ASSERT_EQ(RunUpdate({"2", "Quillora", "1.0.0"}, home.Folder()), 0);
  EXPECT_EQ(Checks(), 1u);
  ExpectInstallerInPlace(Installer());
  EXPECT_EQ(FolderEntries(home.Path()), std::set<std::string>{"set.ini"});
}

TEST_F(UpdaterProgramTest, OnlyExactlyThreePiecesProceed) {
  for (const std::vector<std::string>& args :
       std::vector<std::vector<std::string>>{{},
                                             {"3", "Quillora"},
                                             {"3", "Quillora", "1.0.0", "extra"},
                                             {"3 Quillora 1.0.0 extra"},
                                             {" ", "  "}}) {
    ASSERT_EQ(RunUpdate(args), 0) << args.size();
    EXPECT_FALSE(StartedSomething());
  }
  EXPECT_TRUE(emu_.Journal().empty());
  ExpectFolderHolds({});
}

TEST_F(UpdaterProgramTest, BlanksSeparatePiecesInOneString) {
  ASSERT_EQ(RunUpdate({"  2  Quillora   1.0.0 "}), 0);
  ExpectInstallerInPlace(Installer());
  const auto checks = emu_.Requests("/ver1/checkUpdate");
  ASSERT_EQ(checks.size(), 1u);
  Json::Value body;
  Json::Reader reader;
  ASSERT_TRUE(reader.parse(checks[0].body, body));
  EXPECT_EQ(body["software_version"].asString(), "1.0.0");
  EXPECT_EQ(body["software_package"].asString(), "setup_Quillora_1.0.0.exe");
}

TEST_F(UpdaterProgramTest, DownloadCutInTheMiddleLeavesNothingAndStartsNothing) {
  emulator::Fault cut;
  cut.path = installerUrlPath_;
  cut.kind = emulator::Fault::Kind::kTruncated;
  emu_.SetFault(cut);
  ASSERT_EQ(RunUpdate({"3", "Quillora", "1.0.0"}), 0);
  EXPECT_EQ(Downloads(), 1u);
  EXPECT_FALSE(StartedSomething());
  ExpectFolderHolds({});

  // An error page is no installer either.
  cut.kind = emulator::Fault::Kind::kCode;
  cut.httpStatus = 404;
  emu_.SetFault(cut);
  ASSERT_EQ(RunUpdate({"0", "Quillora", "1.0.0"}), 0);
  EXPECT_FALSE(StartedSomething());
  ExpectFolderHolds({});
}

TEST_F(UpdaterProgramTest, FailedRedownloadKeepsTheCheckedInstaller) {
  ASSERT_EQ(RunUpdate({"2", "Quillora", "1.0.0"}), 0);
  ExpectInstallerInPlace(Installer());
  emulator::Fault cut;
  cut.path = installerUrlPath_;
  cut.kind = emulator::Fault::Kind::kTruncated;
  emu_.SetFault(cut);
  ASSERT_EQ(RunUpdate({"3", "Quillora", "1.0.0"}), 0);
  EXPECT_FALSE(StartedSomething());
  ExpectInstallerInPlace(Installer());
  ExpectFolderHolds({Installer().filename().string()});
}

TEST_F(UpdaterProgramTest, ChecksumDecidesWhetherTheDownloadIsKept) {
  // A complete answer with status 200 whose bytes are not the installer.
  Offer(1, "1.1.0", 0, /*checksum=*/true);
  emulator::Fault wrong;
  wrong.path = installerUrlPath_;
  wrong.kind = emulator::Fault::Kind::kCode;
  wrong.httpStatus = 200;
  emu_.SetFault(wrong);
  ASSERT_EQ(RunUpdate({"3", "Quillora", "1.0.0"}), 0);
  EXPECT_EQ(Downloads(), 1u);
  EXPECT_FALSE(StartedSomething());
  ExpectFolderHolds({});

  emu_.ClearFaults();
  ASSERT_EQ(RunUpdate({"3", "Quillora", "1.0.0"}), 0);
  ASSERT_TRUE(WaitForMarker(1));
  ExpectInstallerInPlace(Installer());
}

TEST_F(UpdaterProgramTest, HostileVersionsAndIdentifiersAreRefused) {
  for (const char* version : {"../escaped", "1.0/../../escaped", "..", "a/b", "1.0\n2", ""}) {
    Offer(1, version);
    ASSERT_EQ(RunUpdate({"3", "Quillora", "1.0.0"}), 0) << version;
    EXPECT_FALSE(StartedSomething()) << version;
  }
  Offer(1, "1.1.0");
  ASSERT_EQ(RunUpdate({"3", "../escaped", "1.0.0"}), 0);
  EXPECT_FALSE(StartedSomething());
  EXPECT_EQ(Downloads(), 0u);
  ExpectFolderHolds({});
  EXPECT_FALSE(fs::exists(dir_.Path().parent_path() / "escaped_1.1.0.exe"));
  EXPECT_FALSE(fs::exists(dir_.Path().parent_path() / "setup_Quillora_..exe"));
}

}  // namespace
}  // namespace quillora
