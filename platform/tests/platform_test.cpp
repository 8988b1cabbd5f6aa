#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <optional>
#include <set>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "common/ini.h"
#include "platform/autorun.h"
#include "platform/guid.h"
#include "platform/linux/desktop_entry.h"
#include "platform/os_name.h"
#include "platform/paths.h"
#include "platform/process.h"
#include "platform/shell.h"
#include "platform/single_instance.h"
#include "platform/tests/test_support.h"

namespace quillora::platform {
namespace {

using testing_support::EventuallyTrue;
using testing_support::ScopedEnv;
using testing_support::TempFolder;

TEST(Paths, ExecutableFolderHoldsTheRunningProgramAndEndsWithOneSeparator) {
  const std::string folder = GetExecutableFolder();
  ASSERT_FALSE(folder.empty());
  EXPECT_EQ(folder.back(), '/');
  EXPECT_NE(folder.substr(folder.size() - 2), "//");
  const std::string path = GetExecutablePath();
  EXPECT_EQ(path.substr(0, folder.size()), folder);
  EXPECT_TRUE(std::filesystem::equivalent(path, "/proc/self/exe"));
}

TEST(Paths, TempFolderHonoursTmpdirAndEndsWithOneSeparator) {
  {
    ScopedEnv tmp("TMPDIR", "/some/where");
    EXPECT_EQ(GetTempFolder(), "/some/where/");
  }
  {
    ScopedEnv tmp("TMPDIR", "/some/where/");
    EXPECT_EQ(GetTempFolder(), "/some/where/");
  }
  ScopedEnv tmp("TMPDIR", std::nullopt);
  EXPECT_EQ(GetTempFolder(), "/tmp/");
  EXPECT_EQ(WithTrailingSeparator(""), "");
}

TEST(Paths, DocumentsFolderComesFromUserDirsWithHomeFallback) {
  TempFolder home;
  ScopedEnv h("HOME", home.Path());
  ScopedEnv x("XDG_CONFIG_HOME", std::nullopt);
  EXPECT_EQ(GetDocumentsFolder(), home / "Documents") << "no user-dirs file";

  std::filesystem::create_directories(home / ".config");
  { std::ofstream(home / ".config/user-dirs.dirs") << "# written by xdg-user-dirs-update\nXDG_DOCUMENTS_DIR=\"$HOME/Dokumente\"\n"; }
  EXPECT_EQ(GetDocumentsFolder(), home / "Dokumente");

  { std::ofstream(home / ".config/user-dirs.dirs") << "XDG_DOCUMENTS_DIR=\"/srv/docs/\"\n"; }
  EXPECT_EQ(GetDocumentsFolder(), "/srv/docs");

  { std::ofstream(home / ".config/user-dirs.dirs") << "XDG_DOCUMENTS_DIR=\"$HOME/\"\n"; }
  EXPECT_EQ(GetDocumentsFolder(), home / "Documents") << "a disabled folder falls back";

  { std::ofstream(home / ".config/user-dirs.dirs") << "XDG_DOCUMENTS_DIR=garbage\n\x01\x02"; }
  EXPECT_EQ(GetDocumentsFolder(), home / "Documents");
}

TEST(AutoRun, EntryIsWrittenWithTheQuotedPathAndRemoved) {
  TempFolder config;
  ScopedEnv x("XDG_CONFIG_HOME", config.Path());
  EXPECT_EQ(AutoRunEntryPath(), config / "autostart/Quillora.desktop");
  EXPECT_EQ(DisableAutoRunEntry(), 0) << "removing an absent entry succeeds";

  ASSERT_EQ(EnableAutoRunEntry("/opt/My Apps/Quillora"), 0);
  ASSERT_TRUE(IsAutoRunEntryPresent());
  const auto text = ReadTextFile(AutoRunEntryPath());
  ASSERT_TRUE(text);
  EXPECT_NE(text->find("\nExec=\"/opt/My Apps/Quillora\"\n"), std::string::npos) << *text;
  EXPECT_EQ(IniGetString(*text, "Desktop Entry", "Type"), "Application");

  ASSERT_EQ(EnableAutoRunEntry(), 0);
  EXPECT_NE(ReadTextFile(AutoRunEntryPath())->find("\nExec=\"" + GetExecutablePath() + "\"\n"), std::string::npos)
      << "the running executable replaces the earlier entry";

  EXPECT_EQ(DisableAutoRunEntry(), 0);
  EXPECT_FALSE(IsAutoRunEntryPresent());
}

TEST(AutoRun, ExecArgumentEscapesReservedCharactersTwice) {
  // Quoting rule first ("\$" for a dollar, "%%" for a percent), then the
  // string rule doubles every backslash.
  EXPECT_EQ(linux_impl::DesktopExecArgument("/a b/c"), "\"/a b/c\"");
  EXPECT_EQ(linux_impl::DesktopExecArgument("/x$y"), "\"/x\\\\$y\"");
  EXPECT_EQ(linux_impl::DesktopExecArgument("/x\\y"), "\"/x\\\\\\\\y\"");
  EXPECT_EQ(linux_impl::DesktopExecArgument("/50%"), "\"/50%%\"");
  EXPECT_EQ(linux_impl::DesktopExecArgument("/q\"`"), "\"/q\\\\\"\\\\`\"");
}

TEST(Process, ArgumentsWithSpacesAndQuotesArriveUnchangedWithoutWaiting) {
  TempFolder dir;
  const std::string script = dir / "record.sh";
  {
    std::ofstream(script) << "#!/bin/sh\nprintf '%s\\n' \"$0\" \"$@\" > \"$(dirname \"$0\")/args.tmp\"\n"
                             "mv \"$(dirname \"$0\")/args.tmp\" \"$(dirname \"$0\")/args\"\n";
  }
  ::chmod(script.c_str(), 0700);
  ASSERT_TRUE(StartProcess(script, {"1", "Quillora", "two words", "\"quoted\" 'x'"}));
  ASSERT_TRUE(EventuallyTrue([&] { return std::filesystem::exists(dir / "args"); }));
  EXPECT_EQ(ReadTextFile(dir / "args"), script + "\n1\nQuillora\ntwo words\n\"quoted\" 'x'\n");

  EXPECT_FALSE(StartProcess(dir / "missing", {}));
  EXPECT_FALSE(StartProgramFromPath("quillora-no-such-program", {}));
}

TEST(Guid, ThirtyTwoUppercaseHexDigitsAndNeverRepeated) {
  std::set<std::string> seen;
  for (int i = 0; i < 200; ++i) {
    const std::string g = CreateGuidText();
    ASSERT_EQ(g.size(), 32u);
    EXPECT_EQ(g.find_first_not_of("0123456789ABCDEF"), std::string::npos) << g;
    EXPECT_EQ(g[12], '4') << "random GUIDs are version 4";
    seen.insert(g);
  }
  EXPECT_EQ(seen.size(), 200u);
}

TEST(OsName, WindowsTable) {
  auto name = [](unsigned major, unsigned minor, bool workstation = true, bool nt = true, bool amd64 = false) {
    WindowsVersionInfo v;
    v.major = major;
    v.minor = minor;
    v.workstation = workstation;
    v.platformNt = nt;
    v.amd64Processor = amd64;
    return WindowsVersionName(v);
  };
  EXPECT_EQ(name(4, 0), "NT 4.0");
  EXPECT_EQ(name(4, 0, true, false), "95");
  EXPECT_EQ(name(4, 10), "98");
  EXPECT_EQ(name(4, 90), "Me");
  EXPECT_EQ(name(5, 0), "2000");
  EXPECT_EQ(name(5, 1), "XP");
  EXPECT_EQ(name(5, 2, true, true, true), "XP");
  EXPECT_EQ(name(5, 2, true, true, false), "2003");
  EXPECT_EQ(name(5, 2, false, true, true), "2003");
  EXPECT_EQ(name(6, 0), "Vista");
  EXPECT_EQ(name(6, 0, false), "Server 2008");
  EXPECT_EQ(name(6, 1), "7");
  EXPECT_EQ(name(6, 1, false), "Server 2008 R2");
  EXPECT_EQ(name(6, 2), "8");
  EXPECT_EQ(name(6, 2, false), "Server 2012");
  EXPECT_EQ(name(6, 3), "");
  EXPECT_EQ(name(10, 0), "");
}

TEST(OsName, KernelNumbersNameEightPointOneAndTenOverTheVersionQuery) {
  WindowsVersionInfo v;
  v.major = 6;
  v.minor = 2;
  v.ntMajor = 10;
  v.ntMinor = 0;
  EXPECT_EQ(WindowsVersionName(v), "10");
  v.ntMajor = 6;
  v.ntMinor = 3;
  EXPECT_EQ(WindowsVersionName(v), "8.1");
  v.ntMinor = 2;
  EXPECT_EQ(WindowsVersionName(v), "8") << "other kernel numbers defer to the table";
}

TEST(OsName, OsReleaseNameAndVersion) {
  EXPECT_EQ(OsNameFromOsRelease("PRETTY_NAME=\"Debian GNU/Linux 12 (bookworm)\"\nNAME=\"Debian GNU/Linux\"\n"
                                "VERSION_ID=\"12\"\nID=debian\n"),
            "Debian GNU/Linux 12");
  EXPECT_EQ(OsNameFromOsRelease("NAME=Arch\\ Linux\nPRETTY_NAME='Arch Linux'\n"), "Arch Linux");
  EXPECT_EQ(OsNameFromOsRelease("# only a comment\nNAME=\"Say \\\"hi\\\"\"\n"), "Say \"hi\"");
  EXPECT_EQ(OsNameFromOsRelease("garbage\n\x01"), "");
  EXPECT_FALSE(QueryOsName().empty());
}

TEST(Shell, FileUriEncodesEverythingButUnreservedBytes) {
  EXPECT_EQ(FileUriFromPath("/home/u/My Results/a'b%.docx"), "file:///home/u/My%20Results/a%27b%25.docx");
  EXPECT_EQ(FileUriFromPath("/t/\xE4\xB8\xAD.txt"), "file:///t/%E4%B8%AD.txt");
}

// Stand-ins for the desktop's tools: each records its arguments, and the
// file-manager call fails so that the fallback to the folder shows.
class DesktopToolsTest : public ::testing::Test {
 protected:
  void Tool(const std::string& name, int exitCode) const {
    const std::string path = bin_ / name;
    std::ofstream(path) << "#!/bin/sh\nprintf '%s\\n' \"$@\" > \"" << (out_ / name) << ".tmp\"\n"
                        << "/bin/mv \"" << (out_ / name) << ".tmp\" \"" << (out_ / name) << "\"\nexit " << exitCode << "\n";
    ::chmod(path.c_str(), 0700);
  }
  std::optional<std::string> Recorded(const std::string& name) const {
    if (!EventuallyTrue([&] { return std::filesystem::exists(out_ / name); })) return std::nullopt;
    return ReadTextFile(out_ / name);
  }
  TempFolder bin_;
  TempFolder out_;
  // Only the stand-ins: a real desktop tool must never run in a test.
  ScopedEnv path_{"PATH", bin_.Path()};
};

TEST_F(DesktopToolsTest, OpenerGetsTheTargetAndALeadingDashCannotPassForAnOption) {
  Tool("xdg-open", 0);
  ASSERT_TRUE(OpenWithDesktop("https://example.org/a?b=c d"));
  EXPECT_EQ(Recorded("xdg-open"), "https://example.org/a?b=c d\n");
  std::filesystem::remove(out_ / "xdg-open");
  ASSERT_TRUE(OpenWithDesktop("--help"));
  EXPECT_EQ(Recorded("xdg-open"), "./--help\n");
  EXPECT_FALSE(OpenWithDesktop(""));
}

TEST_F(DesktopToolsTest, RevealAsksTheFileManagerAndFallsBackToTheFolder) {
  Tool("gdbus", 1);
  Tool("xdg-open", 0);
  ASSERT_TRUE(RevealInFileManager("/home/u/My Results/report_en.docx"));
  const auto call = Recorded("gdbus");
  ASSERT_TRUE(call);
  EXPECT_NE(call->find("org.freedesktop.FileManager1.ShowItems\n['file:///home/u/My%20Results/report_en.docx']\n"),
            std::string::npos)
      << *call;
  EXPECT_EQ(Recorded("xdg-open"), "/home/u/My Results\n");
}

TEST_F(DesktopToolsTest, DbusSendServesWhenGdbusIsMissing) {
  Tool("dbus-send", 0);
  Tool("xdg-open", 0);
  ASSERT_TRUE(RevealInFileManager("/data/a,b.txt"));
  const auto call = Recorded("dbus-send");
  ASSERT_TRUE(call);
  EXPECT_NE(call->find("\narray:string:file:///data/a%2Cb.txt\nstring:\n"), std::string::npos) << *call;
}

TEST_F(DesktopToolsTest, WithoutABusToolTheFolderOpensDirectly) {
  Tool("xdg-open", 0);
  ASSERT_TRUE(RevealInFileManager("/data/out/a.txt"));
  EXPECT_EQ(Recorded("xdg-open"), "/data/out\n");
}

TEST(SingleInstance, SecondCopyFindsTheFirstAndAsksItToShow) {
  TempFolder dir;
  auto first = SingleInstance::Acquire("guard", dir.Path());
  ASSERT_EQ(first->GetRole(), SingleInstance::Role::Primary);

  std::mutex m;
  std::condition_variable cv;
  int requests = 0;
  first->SetShowRequestHandler([&] {
    std::lock_guard lock(m);
    ++requests;
    cv.notify_all();
  });

  auto second = SingleInstance::Acquire("guard", dir.Path());
  ASSERT_EQ(second->GetRole(), SingleInstance::Role::Secondary);
  EXPECT_TRUE(second->RequestShow());
  {
    std::unique_lock lock(m);
    EXPECT_TRUE(cv.wait_for(lock, std::chrono::seconds(5), [&] { return requests == 1; }));
  }
  EXPECT_FALSE(first->RequestShow()) << "the holder has nobody to ask";

  first.reset();
  EXPECT_FALSE(second->RequestShow()) << "the first copy is gone";
  auto third = SingleInstance::Acquire("guard", dir.Path());
  EXPECT_EQ(third->GetRole(), SingleInstance::Role::Primary) << "the guard is free again";
}

TEST(SingleInstance, ARequestBeforeTheFirstCopyIsReadyWaitsForItsHandler) {
  TempFolder dir;
  auto first = SingleInstance::Acquire("guard", dir.Path());
  ASSERT_EQ(first->GetRole(), SingleInstance::Role::Primary);
  auto second = SingleInstance::Acquire("guard", dir.Path());
  ASSERT_EQ(second->GetRole(), SingleInstance::Role::Secondary);

  std::atomic<int> requests{0};
  std::atomic<bool> answered{false};
  std::thread asker([&] { answered = second->RequestShow(); });
  // The first copy is still starting: the request must not be answered yet.
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  EXPECT_FALSE(answered.load());
  first->SetShowRequestHandler([&] { ++requests; });
  asker.join();
  EXPECT_TRUE(answered.load()) << "answered once the handler is there";
  EXPECT_EQ(requests.load(), 1) << "and acted on, not acknowledged and dropped";
}

TEST(SingleInstance, AnUnusableFolderIsReportedNotMistakenForAnotherCopy) {
  TempFolder dir;
  auto guard = SingleInstance::Acquire("guard", dir / "missing");
  EXPECT_EQ(guard->GetRole(), SingleInstance::Role::Unavailable);
  EXPECT_FALSE(guard->RequestShow());
}

}  // namespace
}  // namespace quillora::platform
