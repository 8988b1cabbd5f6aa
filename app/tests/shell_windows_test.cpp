// The shell's windows inside the test process: the user area, the tray, the
// tabs and drops, the user centre's options and their storage, the user popup.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <cstdio>
#include <cstdlib>
#include <sstream>
#include <thread>

#include <sys/stat.h>

#include "account/session/user_session.h"
#include "app/config/app_config.h"
#include "app/shell/main_wnd.h"
#include "app/shell/user_center_page.h"
#include "app/shell/user_info_wnd.h"
#include "platform/autorun.h"
#include "platform/single_instance.h"
#include "platform/tests/test_support.h"
#include "ui/tests/ui_test_support.h"

namespace quillora {
namespace {

namespace fs = std::filesystem;
using namespace DirectUI;
using testing_support::TempFolder;
using uitest::WaitUntil;

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

// The whole process runs in a private home: set.ini points at a closed
// loopback port, so the update program and check reach nothing.
class PrivateHome : public ::testing::Environment {
 public:
  void SetUp() override {
    const std::string root = fs::temp_directory_path() / ("quillora-shell-" + std::to_string(::getpid()));
    for (const char* sub : {"home", "config", "tmp"}) fs::create_directories(root + "/" + sub);
    std::ofstream(root + "/home/set.ini") << "[Service]\nApi=https://127.0.0.1:9\nStatistics=https://127.0.0.1:9\n"
                                             "Update=http://127.0.0.1:9\nPages=http://127.0.0.1:9\n"
                                             "Preview=http://127.0.0.1:9\n[Install]\nFirstRun=1\n";
    ::setenv("QUILLORA_HOME", (root + "/home").c_str(), 1);
    ::setenv("XDG_CONFIG_HOME", (root + "/config").c_str(), 1);
    ::setenv("TMPDIR", (root + "/tmp").c_str(), 1);
    ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
    root_ = root;
  }
  void TearDown() override {
    std::error_code ec;
    fs::remove_all(root_, ec);
  }

 private:
  std::string root_;
};
const auto* const kHome = ::testing::AddGlobalTestEnvironment(new PrivateHome);

class ShellTest : public ::testing::Test {
 protected:
  void SetUp() override {
    EnsureApplication();
    CPaintManagerUI::SetResourcePath(QUILLORA_SKIN_DIR);
    AppConfig::Instance();  // its creation loads the saved sign-in, as at start-up
    UserSession::Instance().Clear();
  }
  void TearDown() override { uitest::Drain(); }

  static CControlUI* Find(CWindowImplBaseUI& w, const char* name) { return w.GetPaintManager().FindControl(name); }
  static bool Shown(CWindowImplBaseUI& w, const char* name) {
    CControlUI* c = Find(w, name);
    return c && c->IsVisible();
  }
  // A click where the control is now laid out.
  static void Click(CWindowImplBaseUI& w, const char* name) {
    w.GetPaintManager().UpdateLayout();
    uitest::Click(w, Find(w, name));
  }
  static void CloseAndWait(CWindowWnd& w) {
    const HWND hwnd = w.GetHWND();
    w.Close();
    EXPECT_TRUE(WaitUntil([&] { return !IsWindow(hwnd); }));
  }
};

class MainWindow : public ShellTest {
 protected:
  void SetUp() override {
    ShellTest::SetUp();
    if (!createLater_) Open();
  }
  void Open() {
    window_.Create(nullptr, "", UI_WNDSTYLE_FRAME, 0);
    ASSERT_NE(window_.GetHWND(), nullptr);
    window_.MoveWindow(0, 0);
    uitest::Drain();
  }
  void TearDown() override {
    if (IsWindow(window_.GetHWND())) CloseAndWait(window_);
    ShellTest::TearDown();
  }
  // Refreshes the user area as the account code does, from another thread.
  void RefreshFromWorker() {
    std::thread([this] { window_.RefreshUserInfo(); }).join();
    uitest::Drain();
  }
  MainWnd window_;
  bool createLater_ = false;
};

// A main window that answers the show requests of a guard.
class GuardedMainWindow : public MainWindow {
 protected:
  void SetUp() override {
    createLater_ = true;
    MainWindow::SetUp();
    // Short: a local socket's path has a small limit.
    folder_ = "/tmp/qshell-" + std::to_string(::getpid());
    fs::create_directories(folder_);
    guard_ = platform::SingleInstance::Acquire("guard", folder_);
    ASSERT_EQ(guard_->GetRole(), platform::SingleInstance::Role::Primary);
    window_.SetInstanceGuard(guard_.get());
    Open();
  }
  void TearDown() override {
    MainWindow::TearDown();
    guard_.reset();
    fs::remove_all(folder_);
  }
  std::string folder_;
  std::unique_ptr<platform::SingleInstance> guard_;
};

TEST_F(MainWindow, CarriesItsMarkerAndStartsOnTheDocumentTab) {
  std::intptr_t marker = 0;
  EXPECT_TRUE(window_.GetProp(kInstanceMarker, marker));
  EXPECT_EQ(marker, -1);
  EXPECT_EQ(window_.GetWindowText(), "Quillora");
  auto* doc = static_cast<COptionUI*>(Find(window_, "opt_doc_trans"));
  EXPECT_TRUE(doc->IsSelected());
  EXPECT_EQ(Find(window_, "lb_ver")->GetText(), "V" + AppConfig::Instance().GetVersion());
  EXPECT_EQ(window_.GetGuide(), nullptr);  // not the first run
}

TEST_F(MainWindow, UserAreaFollowsTheSession) {
  UserSession& session = UserSession::Instance();
  struct Case {
    LoginType type;
    const char* mobile;
    bool login, user, bind;
  };
  const Case cases[] = {
      {LoginType::SignedOut, "", true, false, false}, {LoginType::Mobile, "", false, true, false},
      {LoginType::WeChat, "", false, true, false},    {LoginType::Other, "", false, false, true},
      {LoginType::Other, "13800000000", false, true, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(static_cast<int>(c.type));
    SessionData data;
    data.account = "reader";
    data.nickname = "读者";
    data.usertoken = "tok";
    data.bindmobile = c.mobile;
    data.loginType = c.type;
    if (c.type == LoginType::SignedOut) data = {};
    session.Replace(data);
    RefreshFromWorker();
    EXPECT_EQ(Shown(window_, "btn_login"), c.login);
    EXPECT_EQ(Shown(window_, "ly_user"), c.user);
    EXPECT_EQ(Shown(window_, "btn_bind"), c.bind);
    if (c.user) {
      EXPECT_EQ(Find(window_, "btn_user")->GetText(), session.GetDisplayName());
    }
  }
}

TEST_F(MainWindow, AvatarFromTheTemporaryFolderIsShownWithoutDownload) {
  SessionData data;
  data.account = "reader";
  data.usertoken = "tok123";
  data.loginType = LoginType::Mobile;
  UserSession::Instance().Replace(data);
  RefreshFromWorker();
  EXPECT_NE(Find(window_, "btn_user")->GetBkImage().find("icon-weidenglu.png"), std::string::npos);
  const std::string picture = std::string(std::getenv("TMPDIR")) + "/tok123.png";
  fs::copy_file(std::string(QUILLORA_SKIN_DIR) + "/mainWnd/icon-weidenglu2.png", picture,
                fs::copy_options::overwrite_existing);
  RefreshFromWorker();
  EXPECT_NE(Find(window_, "btn_user")->GetBkImage().find(picture), std::string::npos);
  fs::remove(picture);
}

// Hiding to the tray and every way back are the end-to-end tests' (they
// run the program on a desktop with a tray; offscreen has none).
TEST_F(GuardedMainWindow, CloseButtonWithoutATrayEndsTheWindowEvenWhenSetToHide) {
  ASSERT_FALSE(CTrayIcon::IsTrayAvailable());
  AppConfig::Instance().SetCloseExit(false);
  const HWND hwnd = window_.GetHWND();
  Click(window_, "btn_close");
  EXPECT_TRUE(WaitUntil([&] { return !IsWindow(hwnd); }));
  EXPECT_FALSE(window_.IsInTray());
  EXPECT_EQ(CTrayIcon::LiveCount(), 0);
  AppConfig::Instance().SetCloseExit(true);
}

TEST_F(MainWindow, TextTabRefusesDropsAndTheFileTabsTakeThemAgain) {
  Click(window_, "opt_short_trans");
  EXPECT_FALSE(window_.IsAcceptingDrops());
  EXPECT_FALSE(DropFilesOnWindow(window_.GetHWND(), {"/tmp/a.docx"}, {10, 10}));
  Click(window_, "opt_voice_trans");
  EXPECT_TRUE(window_.IsAcceptingDrops());
  Click(window_, "opt_doc_trans");
  EXPECT_TRUE(window_.IsAcceptingDrops());
}

TEST_F(MainWindow, MoreMenuOpensBelowItsButton) {
  window_.ShowWindow(true);
  Click(window_, "btn_more");
  CMenuWnd* menu = CMenuWnd::GetActiveMenu();
  ASSERT_NE(menu, nullptr);
  const POINT expected = window_.ClientToScreen({Find(window_, "btn_more")->GetPos().left, 45});
  // Below the title bar; the desktop may push it left to keep it on screen.
  EXPECT_EQ(menu->GetWindowRect().top, expected.y);
  EXPECT_LE(menu->GetWindowRect().left, expected.x);
  EXPECT_NE(menu->GetPaintManager().FindControl("menuitem_set"), nullptr);
  EXPECT_NE(menu->GetPaintManager().FindControl("menuitem_check_update"), nullptr);
  EXPECT_NE(menu->GetPaintManager().FindControl("menuitem_contact_service"), nullptr);
  CloseAndWait(*menu);
}

TEST_F(MainWindow, PopupSignOutLeavesTheSessionAndTheSavedSignInEmpty) {
  SessionData data;
  data.account = "reader";
  data.usertoken = "tok";
  data.loginType = LoginType::Mobile;
  UserSession::Instance().Replace(data);
  ASSERT_TRUE(AppConfig::Instance().SaveLogin());
  RefreshFromWorker();
  window_.ShowWindow(true);
  Click(window_, "btn_user");  // the pointer passes over it
  UserInfoWnd* popup = window_.GetUserInfoPopup();
  ASSERT_NE(popup, nullptr);
  EXPECT_TRUE(popup->IsVisible());
  uitest::Drain();
  EXPECT_EQ(popup->GetPaintManager().FindControl("lb_name")->GetText(), "reader");
  Click(*popup, "btn_logout");
  EXPECT_FALSE(popup->IsVisible());
  EXPECT_FALSE(UserSession::Instance().IsSignedIn());
  uitest::Drain();
  EXPECT_TRUE(Shown(window_, "btn_login"));
  UserSession::Instance().LoadSaved();  // what the next start would find
  EXPECT_FALSE(UserSession::Instance().IsSignedIn());
}

// The user centre over a store of its own, with an Update program that
// records how it was started.
class UserCentre : public ShellTest {
 protected:
  void SetUp() override {
    ShellTest::SetUp();
    fs::create_directories(settings_ / "program");
    const std::string updater = settings_ / "program/Update";
    std::ofstream(updater) << "#!/bin/sh\necho \"$@\" >> \"$(dirname \"$0\")/started\"\n";
    ::chmod(updater.c_str(), 0755);
    platform::DisableAutoRunEntry();
  }
  std::unique_ptr<AppConfig> Store(const std::string& folder) {
    return std::make_unique<AppConfig>(folder, settings_ / "program/", UserSession::Instance(), false);
  }
  void Open(UserCenterPage& page) {
    page.Create(nullptr, "", UI_WNDSTYLE_DIALOG | WS_VISIBLE, 0);
    ASSERT_NE(page.GetHWND(), nullptr);
    uitest::Drain();
  }
  std::string Ini() { return ReadFile(settings_ / "set.ini"); }
  bool Selected(UserCenterPage& page, const char* name) {
    return static_cast<COptionUI*>(Find(page, name))->IsSelected();
  }
  TempFolder settings_;
};

TEST_F(UserCentre, EveryOptionIsStoredTheMomentItChanges) {
  auto config = Store(settings_.Path() + "/");
  UserCenterPage page(*config);
  Open(page);
  EXPECT_FALSE(Selected(page, "opt_auto_run"));
  EXPECT_TRUE(Selected(page, "opt_auto_update"));
  EXPECT_TRUE(Selected(page, "opt_close_exit"));
  Click(page, "opt_set");
  Click(page, "opt_auto_run");
  EXPECT_NE(Ini().find("AutoRun=1"), std::string::npos);
  EXPECT_TRUE(platform::IsAutoRunEntryPresent());
  // Offscreen there is no tray: hiding to it is not offered, and the page
  // says why (the end-to-end tests choose it on a desktop with a tray).
  EXPECT_FALSE(Find(page, "opt_close_hide")->IsEnabled());
  EXPECT_TRUE(Shown(page, "lb_no_tray"));
  Click(page, "opt_close_hide");
  EXPECT_EQ(Ini().find("CloseExit=1"), std::string::npos);
  EXPECT_TRUE(config->IsCloseExit());
  Click(page, "opt_auto_update");
  EXPECT_NE(Ini().find("AutoUpdate=0"), std::string::npos);
  SetDialogChooser([&](const DialogRequest& r) {
    EXPECT_EQ(r.kind, DialogRequest::Folder);
    EXPECT_EQ(r.title, "从下面选文件夹目录:");
    EXPECT_FALSE(page.IsEnabled());  // disabled while the picker runs
    return std::string("/srv/译文");
  });
  Click(page, "btn_path");
  SetDialogChooser(nullptr);
  EXPECT_TRUE(page.IsEnabled());
  EXPECT_EQ(Find(page, "lb_path")->GetText(), "/srv/译文");
  EXPECT_NE(Ini().find("ExplortPath=/srv/译文"), std::string::npos);
  EXPECT_FALSE(Shown(page, "lb_save_error"));

  // Closing with auto-run on starts the update program in mode 2.
  CloseAndWait(page);
  EXPECT_TRUE(testing_support::EventuallyTrue([&] { return fs::exists(settings_ / "program/started"); }));
  EXPECT_EQ(ReadFile(settings_ / "program/started"), "2 Quillora 1.0.0\n");
}

TEST_F(UserCentre, UntickingAutoRunRemovesTheEntryAndStartsNoUpdater) {
  std::ofstream(settings_ / "set.ini") << "[Install]\nAutoRun=1\n";
  auto config = Store(settings_.Path() + "/");
  UserCenterPage page(*config);
  Open(page);
  EXPECT_TRUE(Selected(page, "opt_auto_run"));
  EXPECT_TRUE(platform::IsAutoRunEntryPresent());  // renewed when the page opened
  Click(page, "opt_set");
  Click(page, "opt_auto_run");
  EXPECT_NE(Ini().find("AutoRun=0"), std::string::npos);
  EXPECT_FALSE(platform::IsAutoRunEntryPresent());
  CloseAndWait(page);
  EXPECT_FALSE(fs::exists(settings_ / "program/started"));
}

TEST_F(UserCentre, ASettingThatCannotBeStoredIsSaidSoAndStillHolds) {
  std::ofstream(settings_ / "blocker") << "a file where a folder should be";
  auto config = Store(settings_ / "blocker/");
  UserCenterPage page(*config);
  Open(page);
  Click(page, "opt_set");
  Click(page, "opt_auto_update");
  EXPECT_TRUE(Shown(page, "lb_save_error"));
  EXPECT_NE(Find(page, "lb_save_error")->GetText().find("未能保存"), std::string::npos);
  EXPECT_FALSE(config->IsAutoUpdate());  // kept for this run
  CloseAndWait(page);
}

TEST_F(UserCentre, UserTabShowsTheAccountAndTheUnboundLine) {
  auto config = Store(settings_.Path() + "/");  // loads the saved sign-in first
  SessionData data;
  data.account = "qq_42";
  data.nickname = "小林";
  data.uid = "9001";
  data.usertoken = "t";
  data.loginType = LoginType::Other;
  data.bindmobile = "";
  UserSession::Instance().Replace(data);
  UserCenterPage page(*config);
  Open(page);
  EXPECT_TRUE(Selected(page, "opt_user_info"));
  EXPECT_EQ(Find(page, "lb_nick_name")->GetText(), "小林");
  EXPECT_EQ(Find(page, "lb_name")->GetText(), "未绑定账户");
  EXPECT_EQ(Find(page, "lb_ID")->GetText(), "9001");
  // No newer version known: the installed one with "V", no update button.
  EXPECT_EQ(Find(page, "lb_ver")->GetText(), "V1.0.0");
  EXPECT_FALSE(Shown(page, "btn_update"));
  CloseAndWait(page);
}

}  // namespace
}  // namespace quillora

// The main window starts the update check on a thread of its own that is
// never joined, as in the program; the test process ends the same way the
// program does, without tearing down what that thread may still use.
int main(int argc, char** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  const int code = RUN_ALL_TESTS();
  std::fflush(stdout);
  std::fflush(stderr);
  std::_Exit(code);
}
