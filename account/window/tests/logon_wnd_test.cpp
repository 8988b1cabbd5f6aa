// The login window as a user meets it: the real window offscreen against the
// emulator, clicks and typing on its named controls, the service's answers
// arriving on transport threads, and screenshots of each page and mode.
#include "account/window/logon_wnd.h"

#include <gtest/gtest.h>

#include <QImage>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>

#include "account/tests/account_test_support.h"
#include "ui/tests/ui_test_support.h"

namespace quillora {
namespace {

using namespace DirectUI;

constexpr char kMobile[] = "13800138000";

class TestLogonWnd : public LogonWnd {
 public:
  using LogonWnd::LogonWnd;
  using LogonWnd::SetPollPeriod;
  UINT CloseCode() const { return closeCode_; }
};

class LogonWindow : public testing_support::AccountFixture {
 protected:
  void SetUp() override {
    AccountFixture::SetUp();
    EnsureApplication();
    CPaintManagerUI::SetResourcePath(QUILLORA_SKIN_DIR);
  }

  void TearDown() override {
    if (window_ && IsWindow(hwnd_)) window_->SendMessage(WM_CLOSE, 0, 0);
    uitest::Drain();
    window_.reset();
    AccountFixture::TearDown();
  }

  void Open(LoginMode mode, UINT pollPeriodMs = 1000) {
    window_ = std::make_unique<TestLogonWnd>(mode, *service_);
    window_->SetPollPeriod(pollPeriodMs);
    hwnd_ = window_->Create(nullptr, "", UI_WNDSTYLE_DIALOG, 0);
    window_->CenterWindow();
    window_->ShowWindow(true);
    uitest::Drain();
  }

  CControlUI* Control(const char* name) { return window_->GetPaintManager().FindControl(name); }
  std::string Text(const char* name) { return Control(name) ? Control(name)->GetText() : "<missing>"; }
  void Click(const char* name) {
    CControlUI* c = Control(name);
    ASSERT_NE(c, nullptr) << name;
    window_->GetPaintManager().UpdateLayout();  // a page switch places its controls on the next pass
    uitest::Click(*window_, c);
  }
  void Type(const char* name, const std::string& text) {
    ASSERT_NE(Control(name), nullptr) << name;
    Control(name)->SetText(text);
  }
  bool WaitFor(const std::function<bool()>& condition, int ms = 20000) { return uitest::WaitUntil(condition, ms); }
  bool WaitClosed() { return WaitFor([&] { return !IsWindow(hwnd_); }); }
  SIZE ClientSize() { return window_->GetPaintManager().GetClientSize(); }
  int Scale() { return window_->GetPaintManager().GetDPIScale(); }

  // Saved for looking at; QUILLORA_SCREENSHOT_DIR names the folder.
  void Screenshot(const std::string& name) {
    const char* dir = std::getenv("QUILLORA_SCREENSHOT_DIR");
    const std::string folder = dir && *dir ? std::string(dir) + "/" : dir_.Path() + "/shots/";
    std::filesystem::create_directories(folder);
    const char* qtScale = std::getenv("QT_SCALE_FACTOR");
    const int percent = Scale() * (qtScale && *qtScale ? std::atoi(qtScale) : 1);
    const std::string path = folder + "logon-" + name + "-" + std::to_string(percent) + ".png";
    uitest::Drain();
    ASSERT_TRUE(window_->SaveScreenshot(path)) << path;
    QImage image(QString::fromStdString(path));
    ASSERT_FALSE(image.isNull());
    // Device pixels: a whole multiple of the window's width.
    ASSERT_GT(ClientSize().cx, 0);
    EXPECT_GE(image.width(), ClientSize().cx);
    EXPECT_EQ(image.width() % ClientSize().cx, 0);
  }

  // The SMS road up to the code the emulator sent. The button's countdown
  // starts with the click, before any timer tick can run.
  void SendCode(const char* tel, const char* button, const std::string& mobile) {
    Type(tel, mobile);
    Click(button);
    EXPECT_EQ(Text(button), "60秒");
    EXPECT_FALSE(Control(button)->IsEnabled());
    ASSERT_TRUE(WaitFor([&] { return !emu_->LastSmsCode(mobile).empty(); }));
  }

  std::unique_ptr<TestLogonWnd> window_;
  HWND hwnd_ = nullptr;
};

TEST_F(LogonWindow, SafeSmsSignInClosesWithTheSignInCode) {
  Open(LoginMode::SignIn);
  Screenshot("choose");
  Click("btn_tel_login");
  EXPECT_EQ(static_cast<CTabLayoutUI*>(Control("ly_main"))->GetCurSel(), 1);
  SendCode("ed_login_tel", "btn_login_telcode", kMobile);
  Type("ed_login_telcode", emu_->LastSmsCode(kMobile));
  Screenshot("mobile");
  Click("btn_login");
  ASSERT_TRUE(WaitClosed());
  EXPECT_EQ(window_->CloseCode(), static_cast<UINT>(kLogonClosedSignedIn));
  EXPECT_EQ(session_.GetAccount(), kMobile);
  EXPECT_EQ(Reloaded().usertoken, session_.GetUserToken());
}

TEST_F(LogonWindow, CaptchaModeGrowsTheWindowAndSignsInWithThePictureCode) {
  emu_->SetCaptchaRequired(true);
  Open(LoginMode::SignIn);
  Click("btn_tel_login");
  Type("ed_login_tel", kMobile);
  Click("btn_login_telcode");
  ASSERT_TRUE(WaitFor([&] { return window_->InCaptchaMode(); }));
  EXPECT_EQ(ClientSize().cx, window_->GetPaintManager().ScaleValue(400));
  EXPECT_EQ(ClientSize().cy, window_->GetPaintManager().ScaleValue(570));
  EXPECT_TRUE(Control("ly_fengkong1")->IsVisible());
  ASSERT_TRUE(WaitFor([&] { return !Control("btn_login_imagecode")->GetBkImage().empty(); }));
  EXPECT_NE(Control("btn_login_imagecode")->GetBkImage().find("Brenvoke_VerifyCode_1.jpg"), std::string::npos);
  ASSERT_TRUE(WaitFor([&] { return Control("btn_login_telcode")->IsEnabled(); })) << "the refused SMS releases it";
  EXPECT_EQ(Text("btn_login_telcode"), kSendCodeText);
  EXPECT_EQ(Text("lb_err1"), "*输入有误,请检查");
  Screenshot("captcha");

  // Without the picture code nothing is sent.
  Click("btn_login_telcode");
  EXPECT_EQ(Text("lb_err1"), std::string("*") + kFillInFirstText);
  EXPECT_TRUE(emu_->Requests("/api/v4/smsverify").empty());

  Type("ed_login_imagecode", emu_->LastCaptchaAnswer());
  SendCode("ed_login_tel", "btn_login_telcode", kMobile);
  Type("ed_login_telcode", emu_->LastSmsCode(kMobile));
  Click("btn_login");
  ASSERT_TRUE(WaitClosed());
  EXPECT_EQ(window_->CloseCode(), static_cast<UINT>(kLogonClosedSignedIn));
  EXPECT_EQ(session_.GetLoginType(), LoginType::Mobile);
}

TEST_F(LogonWindow, WrongSmsCodeShowsItsText) {
  Open(LoginMode::SignIn);
  Click("btn_tel_login");
  SendCode("ed_login_tel", "btn_login_telcode", kMobile);
  Type("ed_login_telcode", emu_->LastSmsCode(kMobile) == "000000" ? "111111" : "000000");
  Click("btn_login");
  ASSERT_TRUE(WaitFor([&] { return Text("lb_err1") == "*验证码错误"; })) << Text("lb_err1");
  Screenshot("error");
  EXPECT_TRUE(IsWindow(hwnd_));
  EXPECT_FALSE(session_.IsSignedIn());
}

TEST_F(LogonWindow, EmptyNumberAsksToFillInAndSendsNothing) {
  Open(LoginMode::SignIn);
  Click("btn_tel_login");
  Click("btn_login_telcode");
  EXPECT_EQ(Text("lb_err1"), "*请填写完整后再试。");
  EXPECT_TRUE(emu_->Requests("/api/v4/safsmsverify").empty());
  EXPECT_TRUE(Control("btn_login_telcode")->IsEnabled());
}

TEST_F(LogonWindow, CountdownShowsSecondsDownToTwoThenTheButtonTextAgain) {
  Open(LoginMode::SignIn);
  Click("btn_tel_login");
  Type("ed_login_tel", kMobile);
  Click("btn_login_telcode");
  CControlUI* button = Control("btn_login_telcode");
  EXPECT_TRUE(window_->GetPaintManager().HasTimer(button, 2000));
  // The test ticks by itself, one second each.
  window_->GetPaintManager().KillTimer(button, 2000);
  auto tick = [&] { window_->GetPaintManager().SendNotify(button, DUI_MSGTYPE_TIMER, 2000, 0); };
  EXPECT_EQ(button->GetText(), "60秒");
  for (int i = 0; i < 58; ++i) tick();
  EXPECT_EQ(button->GetText(), "2秒");
  EXPECT_FALSE(button->IsEnabled());
  tick();
  EXPECT_EQ(button->GetText(), kSendCodeText);
  EXPECT_TRUE(button->IsEnabled());
}

TEST_F(LogonWindow, SmsRefusedByTheServiceStopsTheCountdownAtOnce) {
  emulator::Fault refuse;
  refuse.path = "/api/v4/safsmsverify";
  refuse.kind = emulator::Fault::Kind::kCode;
  refuse.code = 18005;
  emu_->SetFault(refuse);
  Open(LoginMode::SignIn);
  Click("btn_tel_login");
  Type("ed_login_tel", kMobile);
  Click("btn_login_telcode");
  ASSERT_EQ(Text("btn_login_telcode"), "60秒");
  ASSERT_TRUE(WaitFor([&] { return Text("lb_err1") == "*无效的帐号"; })) << Text("lb_err1");
  ASSERT_TRUE(WaitFor([&] { return Control("btn_login_telcode")->IsEnabled(); }));
  EXPECT_EQ(Text("btn_login_telcode"), kSendCodeText);
  EXPECT_FALSE(window_->GetPaintManager().HasTimer(Control("btn_login_telcode"), 2000));
}

TEST_F(LogonWindow, WeChatScanConfirmedAtTheEmulatorsPageClosesTheWindow) {
  Open(LoginMode::SignIn);
  Click("btn_wx_login");
  ASSERT_TRUE(WaitFor([&] { return !OpenedUrls().empty(); }));
  const std::string url = OpenedUrls()[0];
  const std::string tag = url.substr(url.rfind('/') + 1);
  ASSERT_TRUE(WaitFor([&] { return window_->GetPaintManager().HasTimer(Control("btn_wx_login"), 1); }));
  ASSERT_TRUE(emu_->ConfirmScan(tag));
  ASSERT_TRUE(WaitClosed());
  EXPECT_EQ(window_->CloseCode(), static_cast<UINT>(kLogonClosedSignedIn));
  EXPECT_EQ(session_.GetLoginType(), LoginType::WeChat);
  EXPECT_EQ(Reloaded().loginType, LoginType::WeChat);
}

TEST_F(LogonWindow, QQSignInTheSame) {
  Open(LoginMode::SignIn, 100);
  Click("btn_qq_login");
  ASSERT_TRUE(WaitFor([&] { return !OpenedUrls().empty(); }));
  const std::string url = OpenedUrls()[0];
  const std::string tag = url.substr(url.rfind('=') + 1);
  ASSERT_TRUE(emu_->ConfirmScan(tag, "qq_" + tag.substr(1, 8)));
  ASSERT_TRUE(WaitClosed());
  EXPECT_EQ(window_->CloseCode(), static_cast<UINT>(kLogonClosedSignedIn));
  EXPECT_EQ(session_.GetLoginType(), LoginType::QQ);
}

TEST_F(LogonWindow, ABrowserSignInStopsPollingWhenItsBudgetRunsOut) {
  Open(LoginMode::SignIn, 20);
  Click("btn_wx_login");
  CControlUI* button = Control("btn_wx_login");
  ASSERT_TRUE(WaitFor([&] { return window_->GetPaintManager().HasTimer(button, 1); }));
  ASSERT_TRUE(WaitFor([&] { return !window_->GetPaintManager().HasTimer(button, 1); }, 60000));
  const size_t polls = emu_->Requests("/api/v4/wechatstate").size();
  EXPECT_GE(polls, 1u);
  EXPECT_LE(polls, 100u);
  EXPECT_TRUE(IsWindow(hwnd_)) << "the user can still choose another way";
  EXPECT_FALSE(session_.IsSignedIn());
}

TEST_F(LogonWindow, BindModeBindsAndClosesWithTheBindCode) {
  SignedInByWeChat("wx_erin", "Terin");
  Open(LoginMode::Bind);
  const SIZE before = ClientSize();
  EXPECT_EQ(static_cast<CTabLayoutUI*>(Control("ly_main"))->GetCurSel(), 2);
  EXPECT_EQ(Text("lb_title"), "绑定手机号");
  Screenshot("bind");
  SendCode("ed_bind_tel", "btn_bind_telcode", kMobile);
  Type("ed_bind_telcode", emu_->LastSmsCode(kMobile));
  EXPECT_EQ(ClientSize().cx, before.cx);
  EXPECT_EQ(ClientSize().cy, before.cy);
  Click("btn_bind");
  ASSERT_TRUE(WaitClosed());
  EXPECT_EQ(window_->CloseCode(), static_cast<UINT>(kLogonClosedBound));
  EXPECT_EQ(session_.GetBindMobile(), kMobile);
}

TEST_F(LogonWindow, BindCaptchaModeKeepsTheWindowSize) {
  emulator::User u;
  u.username = "wx_fay";
  u.usertoken = "Tfay";
  emu_->AddUser(u);
  session_.SetSignIn("wx_fay", "Tfay", LoginType::WeChat);
  emu_->SetCaptchaRequired(true);
  Open(LoginMode::Bind);
  const SIZE before = ClientSize();
  Type("ed_bind_tel", kMobile);
  Click("btn_bind_telcode");
  ASSERT_TRUE(WaitFor([&] { return window_->InCaptchaMode(); }));
  ASSERT_TRUE(WaitFor([&] { return !Control("btn_bind_imagecode")->GetBkImage().empty(); }));
  EXPECT_NE(Control("btn_bind_imagecode")->GetBkImage().find("Brenvoke_VerifyCode_4.jpg"), std::string::npos);
  EXPECT_TRUE(Control("ly_fengkong2")->IsVisible());
  EXPECT_EQ(ClientSize().cx, before.cx);
  EXPECT_EQ(ClientSize().cy, before.cy);
  Screenshot("bind-captcha");
}

TEST(LogonErrorLabel, TheTablesMissingParameterReadsAsCheckYourInput) {
  EXPECT_EQ(LogonWnd::ErrorLabelText("缺少参数"), "*输入有误,请检查");
  EXPECT_EQ(LogonWnd::ErrorLabelText(""), "");
  EXPECT_EQ(LogonWnd::ErrorLabelText("无效的帐号"), "*无效的帐号");
}

}  // namespace
}  // namespace quillora
