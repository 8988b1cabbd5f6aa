// The real Quillora program, offscreen, against the emulator: start-up and
// first run, the single instance, the tray, settings across restarts, sign-in
// and sign-out, the keyboard in the editors, and broken skins.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <vector>

#include <sys/stat.h>

#include "account/session/saved_sign_in.h"
#include "app/tests/program_driver.h"
#include "emulator/emulator.h"
#include "platform/key_value_store.h"
#include "platform/tests/test_support.h"
#include "ui/tests/tray_host.h"

namespace quillora::e2e {
namespace {

namespace fs = std::filesystem;
using testing_support::TempFolder;

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

bool Has(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

bool StateIs(const std::string& reply, const std::string& key, const std::string& value) {
  auto state = ParseState(reply);
  return state.count(key) && state[key] == value;
}

class QuilloraProgram : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(emulator_.Start()) << emulator_.LastError();
    machine_.programFolder = QUILLORA_BIN_DIR;
    machine_.home = root_ / "home";
    machine_.config = root_ / "config";
    machine_.runtime = root_ / "run";
    machine_.temp = root_ / "tmp";
    for (const std::string& f : {machine_.home, machine_.config, machine_.runtime, machine_.temp})
      fs::create_directories(f);
    ::chmod(machine_.runtime.c_str(), 0700);
    ASSERT_TRUE(emulator_.WriteServiceIni(SetIni()));
  }

  std::string SetIni() const { return machine_.home + "/set.ini"; }

  void AppendInstall(const std::string& lines) {
    std::ofstream(SetIni(), std::ios::app) << "[Install]\n" << lines;
  }

  // A copy of the program folder whose skin `damage` may spoil.
  std::string CopyProgram(const std::function<void(const std::string& skin)>& damage) {
    const std::string folder = root_ / "bin";
    fs::create_directories(folder);
    fs::copy_file(std::string(QUILLORA_BIN_DIR) + "/Quillora", folder + "/Quillora");
    fs::copy(std::string(QUILLORA_BIN_DIR) + "/skin", folder + "/skin", fs::copy_options::recursive);
    damage(folder + "/skin");
    return folder;
  }

  // Runs the program on a private X display whose session has a
  // StatusNotifier tray (offscreen there is none). False: skip the test.
  bool UseTrayHost() {
    if (!testing_support::PrivateTrayHost::MissingTools().empty()) return false;
    trayHost_ = std::make_unique<testing_support::PrivateTrayHost>(QUILLORA_SNI_WATCHER);
    EXPECT_TRUE(trayHost_->Ready()) << trayHost_->Problem();
    for (const std::string& entry : trayHost_->Environment()) {
      const size_t eq = entry.find('=');
      machine_.extraEnv[entry.substr(0, eq)] = entry.substr(eq + 1);
    }
    return trayHost_->Ready();
  }

  // The saved sign-in as the next start finds it.
  SavedSignIn SavedUser() const {
    platform::KeyValueStore store(machine_.config + "/Quillora");
    const std::optional<std::string> uid = store.ReadString("Software\\Quillora", "UID");
    return uid ? ReadSavedSignIn(store, SavedSignInKeyPath(*uid)).record : SavedSignIn{};
  }

  // The program, started and past its start-up.
  std::unique_ptr<RunningProgram> Start() {
    auto program = std::make_unique<RunningProgram>(machine_);
    EXPECT_TRUE(program->Ready()) << program->ErrorText();
    return program;
  }

  // The settings window, opened from the "more" menu.
  static void OpenSettings(RunningProgram& program) {
    EXPECT_EQ(program.Ask("click MainWnd btn_more"), "ok");
    EXPECT_TRUE(program.WaitFor("visible DuiMenuWnd", "1"));
    EXPECT_EQ(program.Ask("click DuiMenuWnd menuitem_set"), "ok");
    EXPECT_TRUE(program.WaitFor("visible UserCenterPage", "1"));
  }

  // Signs in on the login window's mobile page, reading the codes the
  // emulator sent as a user reads them off the phone and the picture.
  void SignInByMobile(RunningProgram& program, const std::string& mobile, bool captcha) {
    EXPECT_EQ(program.Ask("click LogonWnd btn_tel_login"), "ok");
    EXPECT_TRUE(program.WaitFor("visible LogonWnd ed_login_tel", "1"));
    EXPECT_EQ(program.Ask("type LogonWnd ed_login_tel " + mobile), "ok");
    EXPECT_EQ(program.Ask("click LogonWnd btn_login_telcode"), "ok");
    if (captcha) {
      // The service asks for the picture first; the countdown stops for it.
      EXPECT_TRUE(program.WaitFor("visible LogonWnd ed_login_imagecode", "1"));
      EXPECT_TRUE(testing_support::EventuallyTrue([&] { return !emulator_.LastCaptchaAnswer().empty(); }));
      EXPECT_EQ(emulator_.LastSmsCode(mobile), "");
      EXPECT_EQ(program.Ask("type LogonWnd ed_login_imagecode " + emulator_.LastCaptchaAnswer()), "ok");
      EXPECT_TRUE(program.WaitFor("text LogonWnd btn_login_telcode", "发送验证码"));
      EXPECT_EQ(program.Ask("click LogonWnd btn_login_telcode"), "ok");
    }
    EXPECT_TRUE(testing_support::EventuallyTrue([&] { return !emulator_.LastSmsCode(mobile).empty(); }));
    EXPECT_EQ(program.Ask("type LogonWnd ed_login_telcode " + emulator_.LastSmsCode(mobile)), "ok");
    EXPECT_EQ(program.Ask("click LogonWnd btn_login"), "ok");
    EXPECT_TRUE(program.WaitFor("visible LogonWnd", "none")) << program.Ask("text LogonWnd lb_err1");
  }

  emulator::Emulator emulator_;
  TempFolder root_;
  Machine machine_;
  std::unique_ptr<testing_support::PrivateTrayHost> trayHost_;  // outlives the programs
};

#define SKIP_WITHOUT_TRAY_HOST()                                                   \
  if (!UseTrayHost()) GTEST_SKIP() << testing_support::PrivateTrayHost::MissingTools()

TEST_F(QuilloraProgram, FirstRunShowsTheGuideOnceAndRecordsIt) {
  auto eventNames = [&] {
    std::string names;
    for (const emulator::StatsEvent& e : emulator_.StatsEvents()) names += e.name + " ";
    return names;
  };
  {
    auto program = Start();
    EXPECT_TRUE(testing_support::EventuallyTrue([&] { return eventNames() == "AppInstall AppStart "; }))
        << eventNames();
    EXPECT_TRUE(StateIs(program->Ask("state"), "guide", "1"));
    EXPECT_TRUE(Has(ReadFile(SetIni()), "FirstRun=1"));
    EXPECT_EQ(program->Ask("click MainWnd btn_close_guide"), "ok");
    EXPECT_TRUE(program->AskUntil("state", [](const std::string& r) { return StateIs(r, "guide", "0"); }));
    EXPECT_EQ(program->Ask("command 4097"), "ok");  // the tray menu's "退出"
    EXPECT_EQ(program->WaitExit(), 0);
  }
  auto again = Start();
  EXPECT_TRUE(StateIs(again->Ask("state"), "guide", "0"));
  EXPECT_TRUE(testing_support::EventuallyTrue([&] { return eventNames() == "AppInstall AppStart AppStart "; }))
      << eventNames();
  EXPECT_EQ(again->Ask("text MainWnd lb_ver"), "V1.0.0");
}

TEST_F(QuilloraProgram, CloseButtonEndsTheProgramByDefault) {
  auto program = Start();
  EXPECT_EQ(program->Ask("click MainWnd btn_close"), "covered");  // the guide lies over everything
  EXPECT_EQ(program->Ask("click MainWnd btn_close_guide"), "ok");
  EXPECT_EQ(program->Ask("click MainWnd btn_close"), "ok");
  // Ends although a reader still waits on its input.
  EXPECT_EQ(program->WaitExit(std::chrono::seconds(30), true), 0);
}

TEST_F(QuilloraProgram, HiddenToTrayComesBackByTrayClickAndBySecondStart) {
  SKIP_WITHOUT_TRAY_HOST();
  AppendInstall("FirstRun=1\nCloseExit=1\n");
  auto program = Start();
  auto hidden = [](const std::string& r) { return StateIs(r, "visible", "0") && StateIs(r, "tray", "1"); };
  auto shown = [](const std::string& r) { return StateIs(r, "visible", "1") && StateIs(r, "tray", "0"); };

  EXPECT_EQ(program->Ask("click MainWnd btn_close"), "ok");
  EXPECT_TRUE(program->AskUntil("state", hidden));
  // The desktop's tray shows the item with its menu; a click on it brings
  // the window back.
  EXPECT_NE(trayHost_->WaitForLine("menu ").find("退出"), std::string::npos);
  EXPECT_TRUE(trayHost_->Send("activate"));
  EXPECT_TRUE(program->AskUntil("state", shown));

  EXPECT_EQ(program->Ask("click MainWnd btn_close"), "ok");
  EXPECT_TRUE(program->AskUntil("state", hidden));
  EXPECT_EQ(program->Ask("tray left"), "ok");
  EXPECT_TRUE(program->AskUntil("state", shown));

  EXPECT_EQ(program->Ask("click MainWnd btn_close"), "ok");
  EXPECT_TRUE(program->AskUntil("state", hidden));
  const std::string before = ReadFile(SetIni());
  RunningProgram second(machine_, false);
  EXPECT_EQ(second.WaitExit(), 0) << second.ErrorText();
  EXPECT_TRUE(program->AskUntil("state", shown));
  EXPECT_EQ(ReadFile(SetIni()), before);  // the second copy wrote nothing

  // The tray menu's item ends the program while it is hidden, too.
  EXPECT_EQ(program->Ask("click MainWnd btn_close"), "ok");
  EXPECT_TRUE(program->AskUntil("state", hidden));
  EXPECT_EQ(program->Ask("tray right"), "ok");
  EXPECT_TRUE(program->WaitFor("popup", "退出"));
  EXPECT_EQ(program->Ask("popup click 退出"), "ok");
  EXPECT_EQ(program->WaitExit(std::chrono::seconds(30), true), 0);
}

TEST_F(QuilloraProgram, TheTrayMenusExitChosenOnTheDesktopEndsTheProgram) {
  SKIP_WITHOUT_TRAY_HOST();
  AppendInstall("FirstRun=1\nCloseExit=1\n");
  auto program = Start();
  EXPECT_EQ(program->Ask("click MainWnd btn_close"), "ok");
  const std::string menu = trayHost_->WaitForLine("menu ");
  EXPECT_NE(menu.find("退出"), std::string::npos) << menu;
  EXPECT_EQ(trayHost_->WaitForLine("tooltip "), "tooltip Quillora");
  EXPECT_TRUE(trayHost_->Send("click 退出"));
  EXPECT_EQ(program->WaitExit(std::chrono::seconds(30), true), 0);
}

TEST_F(QuilloraProgram, WithoutATrayTheCloseButtonEndsTheProgramWhateverSetIniSays) {
  AppendInstall("FirstRun=1\nCloseExit=1\n");  // hide to the tray
  auto program = Start();
  OpenSettings(*program);
  // The settings say why hiding is not offered, and keep the stored choice.
  EXPECT_EQ(program->Ask("visible UserCenterPage lb_no_tray"), "1");
  EXPECT_EQ(program->Ask("selected UserCenterPage opt_close_hide"), "1");
  EXPECT_EQ(program->Ask("click UserCenterPage opt_close_exit"), "ok");
  program->Ask("click UserCenterPage opt_close_hide");  // a disabled choice
  EXPECT_EQ(program->Ask("selected UserCenterPage opt_close_hide"), "0");
  EXPECT_EQ(program->Ask("click UserCenterPage closebtn"), "ok");
  EXPECT_TRUE(program->AskUntil("state", [](const std::string& r) { return StateIs(r, "enabled", "1"); }));
  EXPECT_EQ(program->Ask("click MainWnd btn_close"), "ok");
  EXPECT_EQ(program->WaitExit(std::chrono::seconds(30), true), 0);
}

TEST_F(QuilloraProgram, SecondStartWhileTheSettingsAreOpenKeepsThemInFront) {
  AppendInstall("FirstRun=1\n");
  auto program = Start();
  OpenSettings(*program);

  RunningProgram second(machine_, false);
  EXPECT_EQ(second.WaitExit(), 0) << second.ErrorText();
  EXPECT_TRUE(program->WaitFor("front", "UserCenterPage"));
  EXPECT_EQ(program->Ask("visible UserCenterPage"), "1");
  EXPECT_TRUE(StateIs(program->Ask("state"), "enabled", "0"));  // still modal to the popup
  EXPECT_EQ(program->Ask("click UserCenterPage closebtn"), "ok");
  EXPECT_TRUE(program->AskUntil("state", [](const std::string& r) { return StateIs(r, "enabled", "1"); }));
}

TEST_F(QuilloraProgram, SettingsChangesSurviveARestart) {
  SKIP_WITHOUT_TRAY_HOST();  // hiding to the tray is offered only with a tray
  AppendInstall("FirstRun=1\n");
  {
    auto program = Start();
    OpenSettings(*program);
    // Signed out: the user tab is hidden and the settings tab shows.
    EXPECT_EQ(program->Ask("visible UserCenterPage opt_user_info"), "0");
    EXPECT_EQ(program->Ask("selected UserCenterPage opt_set"), "1");
    EXPECT_EQ(program->Ask("click UserCenterPage opt_close_hide"), "ok");
    EXPECT_EQ(program->Ask("click UserCenterPage opt_auto_update"), "ok");
    EXPECT_TRUE(program->AskUntil("selected UserCenterPage opt_auto_update",
                                  [](const std::string& r) { return r == "0"; }));
    EXPECT_EQ(program->Ask("visible UserCenterPage lb_save_error"), "0");
    const std::string output = root_ / "译文 output";
    fs::create_directories(output);
    EXPECT_EQ(program->Ask("choose " + output), "ok");
    EXPECT_EQ(program->Ask("click UserCenterPage btn_path"), "ok");
    EXPECT_TRUE(program->AskUntil("text UserCenterPage lb_path", [&](const std::string& r) { return r == output; }));
    EXPECT_EQ(program->Ask("click UserCenterPage closebtn"), "ok");
    EXPECT_TRUE(program->AskUntil("state", [](const std::string& r) { return StateIs(r, "enabled", "1"); }));
    const std::string ini = ReadFile(SetIni());
    EXPECT_TRUE(Has(ini, "CloseExit=1")) << ini;
    EXPECT_TRUE(Has(ini, "AutoUpdate=0")) << ini;
    EXPECT_TRUE(Has(ini, "ExplortPath=" + output)) << ini;
    // The close button now hides to the tray instead of ending the program.
    EXPECT_EQ(program->Ask("click MainWnd btn_close"), "ok");
    EXPECT_TRUE(program->AskUntil("state", [](const std::string& r) { return StateIs(r, "tray", "1"); }));
    EXPECT_EQ(program->Ask("command 4097"), "ok");
    EXPECT_EQ(program->WaitExit(), 0);
  }
  auto program = Start();
  OpenSettings(*program);
  EXPECT_EQ(program->Ask("selected UserCenterPage opt_close_hide"), "1");
  EXPECT_EQ(program->Ask("selected UserCenterPage opt_close_exit"), "0");
  EXPECT_EQ(program->Ask("selected UserCenterPage opt_auto_update"), "0");
  EXPECT_EQ(program->Ask("text UserCenterPage lb_path"), root_ / "译文 output");
}

TEST_F(QuilloraProgram, ADocumentDroppedOnTheWindowIsTranslatedAndRevealed) {
  const std::string output = root_ / "out";
  fs::create_directories(output);
  AppendInstall("FirstRun=1\nExplortPath=" + output + "\n");
  // The file manager is asked over the session bus; this one writes down
  // what it was asked to show.
  const std::string fakeBin = root_ / "fakebin";
  fs::create_directories(fakeBin);
  std::ofstream(fakeBin + "/gdbus") << "#!/bin/sh\necho \"$@\" >> \"" << (root_ / "revealed") << "\"\n";
  ::chmod((fakeBin + "/gdbus").c_str(), 0755);
  machine_.extraEnv["PATH"] = fakeBin + ":" + std::getenv("PATH");
  const std::string document = root_ / "report.docx";
  std::ofstream(document) << "quarterly report: sales grew in the north";

  auto program = Start();
  EXPECT_EQ(program->Ask("drop MainWnd " + document), "ok");
  EXPECT_TRUE(program->AskUntil("text MainWnd lb_source_name", [](const std::string& r) { return r == "report.docx"; }));
  EXPECT_TRUE(StateIs(program->Ask("state"), "drops", "0"));  // a chosen file takes no second drop
  EXPECT_EQ(program->Ask("click MainWnd btnTrans"), "ok");
  EXPECT_TRUE(program->AskUntil("visible MainWnd btn_export", [](const std::string& r) { return r == "1"; },
                                std::chrono::seconds(60)));
  EXPECT_NE(program->Ask("text MainWnd ed_output"), "");
  std::vector<std::string> results;
  for (const auto& e : fs::directory_iterator(output)) results.push_back(e.path().filename().string());
  ASSERT_EQ(results.size(), 1u);
  EXPECT_EQ(results[0].rfind("report_", 0), 0u) << results[0];

  EXPECT_EQ(program->Ask("click MainWnd btn_export"), "ok");
  EXPECT_TRUE(testing_support::EventuallyTrue([&] { return Has(ReadFile(root_ / "revealed"), results[0]); }));
  EXPECT_TRUE(Has(ReadFile(root_ / "revealed"), "org.freedesktop.FileManager1.ShowItems"));
}

TEST_F(QuilloraProgram, SignInThroughTheLoginWindowAndSignOutFromTheUserPopup) {
  AppendInstall("FirstRun=1\n");
  const std::string mobile = "13800138000";
  {
    auto program = Start();
    EXPECT_EQ(program->Ask("visible MainWnd ly_user"), "0");
    EXPECT_EQ(program->Ask("click MainWnd btn_login"), "ok");
    EXPECT_TRUE(program->WaitFor("visible LogonWnd", "1"));
    // A second start meanwhile brings the open login window to the front.
    RunningProgram second(machine_, false);
    EXPECT_EQ(second.WaitExit(), 0) << second.ErrorText();
    EXPECT_TRUE(program->WaitFor("front", "LogonWnd"));

    SignInByMobile(*program, mobile, false);
    const std::optional<emulator::User> user = emulator_.FindUser(mobile);
    ASSERT_TRUE(user);
    EXPECT_TRUE(program->WaitFor("visible MainWnd ly_user", "1"));
    EXPECT_EQ(program->Ask("visible MainWnd btn_login"), "0");
    EXPECT_EQ(program->Ask("text MainWnd btn_user"), user->nickname);
    const SavedSignIn saved = SavedUser();
    EXPECT_EQ(saved.account, mobile);
    EXPECT_EQ(saved.usertoken, user->usertoken);
    EXPECT_NE(saved.loginType, 0);
    // The avatar comes from the profile's address into the temporary folder.
    EXPECT_TRUE(testing_support::EventuallyTrue([&] { return fs::exists(machine_.temp + "/" + user->usertoken + ".png"); }));

    EXPECT_EQ(program->Ask("hover MainWnd btn_user"), "ok");
    EXPECT_TRUE(program->WaitFor("visible UserInfoWnd", "1"));
    EXPECT_EQ(program->Ask("text UserInfoWnd lb_name"), user->nickname);
    EXPECT_EQ(program->Ask("click UserInfoWnd btn_logout"), "ok");
    EXPECT_TRUE(program->WaitFor("visible MainWnd btn_login", "1"));
    EXPECT_EQ(program->Ask("visible MainWnd ly_user"), "0");
    EXPECT_EQ(program->Ask("visible UserInfoWnd"), "0");
    EXPECT_EQ(SavedUser().usertoken, "");
    EXPECT_EQ(SavedUser().loginType, 0);
    EXPECT_EQ(program->Ask("click MainWnd btn_close"), "ok");
    EXPECT_EQ(program->WaitExit(std::chrono::seconds(30), true), 0);
  }
  auto program = Start();
  EXPECT_EQ(program->Ask("visible MainWnd btn_login"), "1");
  EXPECT_EQ(program->Ask("visible MainWnd ly_user"), "0");
  EXPECT_EQ(SavedUser().usertoken, "");
}

TEST_F(QuilloraProgram, SwitchingUserSignsOutEvenWhenTheLoginWindowIsCancelled) {
  AppendInstall("FirstRun=1\n");
  emulator_.SetCaptchaRequired(true);
  auto program = Start();
  EXPECT_EQ(program->Ask("click MainWnd btn_login"), "ok");
  EXPECT_TRUE(program->WaitFor("visible LogonWnd", "1"));
  SignInByMobile(*program, "13900139000", true);
  EXPECT_TRUE(program->WaitFor("visible MainWnd ly_user", "1"));
  EXPECT_NE(SavedUser().usertoken, "");

  EXPECT_EQ(program->Ask("hover MainWnd btn_user"), "ok");
  EXPECT_TRUE(program->WaitFor("visible UserInfoWnd", "1"));
  EXPECT_EQ(program->Ask("click UserInfoWnd btn_change_user"), "ok");
  EXPECT_TRUE(program->WaitFor("visible LogonWnd", "1"));
  EXPECT_EQ(program->Ask("click LogonWnd closebtn"), "ok");
  EXPECT_TRUE(program->WaitFor("visible LogonWnd", "none"));
  EXPECT_TRUE(program->WaitFor("visible MainWnd btn_login", "1"));
  EXPECT_EQ(SavedUser().usertoken, "");
}

TEST_F(QuilloraProgram, AnAccountWithoutAMobileNumberIsAskedToBindOneAndThenShowsTheUser) {
  AppendInstall("FirstRun=1\n");
  emulator::User guest;
  guest.username = "guest_7";
  guest.usertoken = "Uguest7token";
  guest.nickname = "访客7";
  guest.uid = 7;
  guest.accounttype = 5;  // neither mobile, WeChat nor QQ
  emulator_.AddUser(guest);
  {  // The first start makes the device id the saved sign-in is kept under.
    auto program = Start();
    EXPECT_EQ(program->Ask("click MainWnd btn_close"), "ok");
    EXPECT_EQ(program->WaitExit(std::chrono::seconds(30), true), 0);
  }
  platform::KeyValueStore store(machine_.config + "/Quillora");
  const std::optional<std::string> uid = store.ReadString("Software\\Quillora", "UID");
  ASSERT_TRUE(uid);
  ASSERT_TRUE(WriteSavedSignIn(store, SavedSignInKeyPath(*uid), {guest.username, guest.usertoken, 4}));

  auto program = Start();
  EXPECT_TRUE(program->WaitFor("visible MainWnd btn_bind", "1"));
  // The start's profile refresh is over once its picture is there (a second
  // refresh, the one after binding, is dropped while one is in flight).
  EXPECT_TRUE(testing_support::EventuallyTrue([&] { return fs::exists(machine_.temp + "/" + guest.usertoken + ".png"); }));
  EXPECT_EQ(program->Ask("visible MainWnd btn_bind"), "1");
  EXPECT_EQ(program->Ask("visible MainWnd ly_user"), "0");
  EXPECT_EQ(program->Ask("visible MainWnd btn_login"), "0");
  EXPECT_EQ(program->Ask("click MainWnd btn_bind"), "ok");
  EXPECT_TRUE(program->WaitFor("visible LogonWnd ed_bind_tel", "1"));
  const std::string mobile = "13700137000";
  EXPECT_EQ(program->Ask("type LogonWnd ed_bind_tel " + mobile), "ok");
  EXPECT_EQ(program->Ask("click LogonWnd btn_bind_telcode"), "ok");
  EXPECT_TRUE(testing_support::EventuallyTrue([&] { return !emulator_.LastSmsCode(mobile).empty(); }));
  EXPECT_EQ(program->Ask("type LogonWnd ed_bind_telcode " + emulator_.LastSmsCode(mobile)), "ok");
  EXPECT_EQ(program->Ask("click LogonWnd btn_bind"), "ok");
  EXPECT_TRUE(program->WaitFor("visible LogonWnd", "none")) << program->Ask("text LogonWnd lb_err2");
  // The profile refresh after binding shows the user block with the number.
  EXPECT_TRUE(program->WaitFor("visible MainWnd ly_user", "1"));
  EXPECT_EQ(program->Ask("visible MainWnd btn_bind"), "0");
  EXPECT_EQ(program->Ask("text MainWnd btn_user"), mobile);
  EXPECT_EQ(emulator_.FindUser(guest.username)->bindmobile, mobile);
}

TEST_F(QuilloraProgram, CtrlCIsSwallowedInTheMainWindowAndOtherShortcutsKeepWorking) {
  AppendInstall("FirstRun=1\n");
  auto program = Start();
  EXPECT_EQ(program->Ask("click MainWnd opt_short_trans"), "ok");
  EXPECT_TRUE(program->WaitFor("selected MainWnd opt_short_trans", "1"));
  // Plain "c" types as usual; only the chord is taken away.
  const std::string typed = "copy cat 你好";
  EXPECT_EQ(program->Ask("type MainWnd ed_input " + typed), "ok");
  EXPECT_EQ(program->Ask("text MainWnd ed_input"), typed);
  EXPECT_EQ(program->Ask("setclipboard elsewhere"), "ok");

  EXPECT_EQ(program->Ask("key MainWnd ed_input ctrl+a"), "ok");
  EXPECT_EQ(program->Ask("key MainWnd ed_input ctrl+c"), "ok");
  EXPECT_EQ(program->Ask("clipboard"), "elsewhere");
  EXPECT_EQ(program->Ask("text MainWnd ed_input"), typed);
  // The selection of Ctrl+A is still there for Ctrl+X.
  EXPECT_EQ(program->Ask("key MainWnd ed_input ctrl+x"), "ok");
  EXPECT_TRUE(program->WaitFor("text MainWnd ed_input", ""));
  EXPECT_EQ(program->Ask("clipboard"), typed);
  EXPECT_EQ(program->Ask("key MainWnd ed_input ctrl+v"), "ok");
  EXPECT_TRUE(program->WaitFor("text MainWnd ed_input", typed));
  EXPECT_EQ(program->Ask("key MainWnd ed_input ctrl+z"), "ok");
  EXPECT_TRUE(program->WaitFor("text MainWnd ed_input", ""));

  // Other windows are not the main window: Ctrl+C copies in the login window.
  EXPECT_EQ(program->Ask("click MainWnd btn_login"), "ok");
  EXPECT_TRUE(program->WaitFor("visible LogonWnd", "1"));
  EXPECT_EQ(program->Ask("click LogonWnd btn_tel_login"), "ok");
  EXPECT_TRUE(program->WaitFor("visible LogonWnd ed_login_tel", "1"));
  EXPECT_EQ(program->Ask("type LogonWnd ed_login_tel 13800138000"), "ok");
  EXPECT_EQ(program->Ask("key LogonWnd ed_login_tel ctrl+a"), "ok");
  EXPECT_EQ(program->Ask("key LogonWnd ed_login_tel ctrl+c"), "ok");
  EXPECT_TRUE(program->WaitFor("clipboard", "13800138000"));
  EXPECT_EQ(program->Ask("click LogonWnd closebtn"), "ok");
  EXPECT_TRUE(program->WaitFor("visible LogonWnd", "none"));
}

TEST_F(QuilloraProgram, ChoosingExitOnCloseInTheSettingsMakesTheCloseButtonEndTheProgram) {
  SKIP_WITHOUT_TRAY_HOST();  // without a tray the close button ends the program anyway
  AppendInstall("FirstRun=1\nCloseExit=1\n");
  auto program = Start();
  OpenSettings(*program);
  EXPECT_EQ(program->Ask("click UserCenterPage opt_set"), "ok");
  EXPECT_EQ(program->Ask("selected UserCenterPage opt_close_hide"), "1");
  EXPECT_EQ(program->Ask("click UserCenterPage opt_close_exit"), "ok");
  EXPECT_TRUE(program->WaitFor("selected UserCenterPage opt_close_exit", "1"));
  EXPECT_EQ(program->Ask("click UserCenterPage closebtn"), "ok");
  EXPECT_TRUE(program->AskUntil("state", [](const std::string& r) { return StateIs(r, "enabled", "1"); }));
  EXPECT_TRUE(Has(ReadFile(SetIni()), "CloseExit=0"));
  EXPECT_EQ(program->Ask("click MainWnd btn_close"), "ok");
  EXPECT_EQ(program->WaitExit(std::chrono::seconds(30), true), 0);
}

TEST_F(QuilloraProgram, StartsWhenTheSingleInstanceGuardCannotBeSetUp) {
  const std::string notAFolder = root_ / "runtime-file";
  std::ofstream(notAFolder) << "x";
  machine_.runtime = notAFolder;
  auto program = Start();
  EXPECT_TRUE(StateIs(program->Ask("state"), "visible", "1"));
}

TEST_F(QuilloraProgram, BrokenSkinsEndTheStartWithTheErrorTextAndWriteNothing) {
  const std::string before = ReadFile(SetIni());
  struct Case {
    const char* what;
    std::function<void(const std::string&)> damage;
    const char* text;
  };
  const Case cases[] = {
      {"missing folder", [](const std::string& skin) { fs::remove_all(skin); }, "加载资源文件失败：main.xml"},
      {"damaged main.xml", [](const std::string& skin) { std::ofstream(skin + "/main.xml") << "<Window><Vertical"; },
       "加载资源文件失败：main.xml"},
      {"damaged page", [](const std::string& skin) { std::ofstream(skin + "/TextTransPage.xml") << "<Text"; },
       "加载资源文件失败：TextTransPage.xml"},
      {"damaged guide", [](const std::string& skin) { std::ofstream(skin + "/MaindGuide.xml") << "<VerticalLayout"; },
       "加载资源文件失败：MaindGuide.xml"},
      // Well-formed, but a hidden page that could not be built.
      {"unknown class in a page",
       [](const std::string& skin) {
         std::ofstream(skin + "/MusicTransPage.xml") << "<MusicTransPage><Frobnicator/></MusicTransPage>";
       },
       "加载资源文件失败：MusicTransPage.xml"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    fs::remove_all(root_ / "bin");
    machine_.programFolder = CopyProgram(c.damage);
    RunningProgram program(machine_, false);
    EXPECT_EQ(program.WaitExit(), 1);
    EXPECT_TRUE(Has(program.ErrorText(), c.text)) << program.ErrorText();
    EXPECT_EQ(ReadFile(SetIni()), before);
  }
}

}  // namespace
}  // namespace quillora::e2e
