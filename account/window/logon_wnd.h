#pragma once
// The sign-in window: WeChat and QQ pages in the browser, a mobile number
// with an SMS code (and a picture captcha when the service asks), or binding
// a mobile number to the signed-in account. Every request and answer goes
// through the AccountService; the window gathers input, shows errors, runs
// its poll and countdown timers, and closes with kLogonClosedSignedIn or
// kLogonClosedBound.
//
// The LoginWindowLink operations are called by the answer handlers on
// transport threads; each one only queues its effect for the UI thread.
#include <cstdint>
#include <deque>
#include <mutex>
#include <string>
#include <utility>

#include "account/account_service.h"
#include "account/window_links.h"
#include "ui/UIlib.h"

namespace quillora {

enum class LoginMode : std::uint8_t { SignIn = 0, Bind = 1 };

// Texts the window shows.
inline constexpr char kFillInFirstText[] = "请填写完整后再试。";
inline constexpr char kSendCodeText[] = "发送验证码";

class LogonWnd : public DirectUI::CWindowImplBaseUI, public LoginWindowLink {
 public:
  explicit LogonWnd(LoginMode mode, AccountService& service = AccountService::Instance());
  ~LogonWnd() override;

  // Creates the window over `parent`, centred, and runs it modally; the
  // close code.
  static DirectUI::UINT Run(DirectUI::HWND parent, LoginMode mode,
                            AccountService& service = AccountService::Instance());

  std::string GetWindowClassName() const override { return "LogonWnd"; }
  std::string GetSkinFile() override { return "logon.xml"; }
  void InitWindow() override;
  DirectUI::LRESULT HandleMessage(DirectUI::UINT msg, DirectUI::WPARAM wParam, DirectUI::LPARAM lParam) override;

  // LoginWindowLink: any thread.
  void StartPolling(BrowserSignIn which, const std::string& tag) override;
  void ShowError(ErrorArea area, const std::string& text) override;
  void EnterCaptchaMode() override;
  void StopSmsCountdown() override;
  void StopPollTimers() override;
  void SetCaptchaPicture(int userValue, const std::string& path) override;
  void CloseWithCode(int code) override;

  // UI thread: what an error label shows for `text` ("*" in front; the
  // table's "缺少参数" reads "输入有误,请检查"; empty stays empty).
  static std::string ErrorLabelText(const std::string& text);
  bool InCaptchaMode() const { return safeMode_ == 0; }

  DUI_DECLARE_MESSAGE_MAP()

 protected:
  // How often the browser sign-ins are polled (the budget stays 100 polls).
  void SetPollPeriod(DirectUI::UINT ms) { pollPeriodMs_ = ms; }

 private:
  void OnTimer(DirectUI::TNotifyUI& msg);
  void OnNotSave(DirectUI::TNotifyUI& msg);
  void OnCheckLogin(DirectUI::TNotifyUI& msg);
  void OnCheckErrInfo(DirectUI::TNotifyUI& msg);
  void OnStopRefreshTimer(DirectUI::TNotifyUI& msg);
  void OnCaptchaPicture(DirectUI::TNotifyUI& msg);
  void OnWeChatClick(DirectUI::TNotifyUI& msg);
  void OnQQClick(DirectUI::TNotifyUI& msg);
  void OnTelLoginClick(DirectUI::TNotifyUI& msg);
  void OnLoginTelCodeClick(DirectUI::TNotifyUI& msg);
  void OnBindTelCodeClick(DirectUI::TNotifyUI& msg);
  void OnImageCodeClick(DirectUI::TNotifyUI& msg);
  void OnLoginClick(DirectUI::TNotifyUI& msg);
  void OnBindClick(DirectUI::TNotifyUI& msg);

  void ShowErrorIn(ErrorArea area, const std::string& text);
  void ClearError();
  // Reads the number (and, in captcha mode, the picture code) for an SMS
  // code; false, with the error shown, when one is missing.
  bool ReadSmsInputs(ErrorArea area, DirectUI::CControlUI* tel, DirectUI::CControlUI* image, std::string& mobile,
                     std::string& picture);
  void StartCountdown();
  bool CountdownTick();
  DirectUI::CControlUI* CountdownButton() const;
  void PollTick(BrowserSignIn which);
  void RequestCaptcha();
  void Queue(DirectUI::CControlUI* control, const char* type, DirectUI::WPARAM wParam = 0);
  void Unlink();

  const LoginMode loginMode_;
  AccountService& service_;
  std::uint8_t safeMode_ = 1;
  std::string weChatTag_, qqTag_;
  int weChatBudget_ = 0, qqBudget_ = 0;
  int countdown_ = 0;
  DirectUI::UINT pollPeriodMs_ = 1000;
  bool linked_ = false;

  // Hand-over from the answer handlers' threads.
  std::mutex pendingMutex_;
  std::deque<std::pair<BrowserSignIn, std::string>> pendingTags_;
  std::deque<std::pair<ErrorArea, std::string>> pendingErrors_;
  std::deque<std::pair<int, std::string>> pendingPictures_;

  DirectUI::CTabLayoutUI* main_ = nullptr;
  DirectUI::CControlUI* btnWx_ = nullptr;
  DirectUI::CControlUI* btnQq_ = nullptr;
  DirectUI::CControlUI* edLoginTel_ = nullptr;
  DirectUI::CControlUI* edLoginTelCode_ = nullptr;
  DirectUI::CControlUI* edLoginImageCode_ = nullptr;
  DirectUI::CControlUI* btnLoginTelCode_ = nullptr;
  DirectUI::CControlUI* btnLoginImageCode_ = nullptr;
  DirectUI::CControlUI* edBindTel_ = nullptr;
  DirectUI::CControlUI* edBindTelCode_ = nullptr;
  DirectUI::CControlUI* edBindImageCode_ = nullptr;
  DirectUI::CControlUI* btnBindTelCode_ = nullptr;
  DirectUI::CControlUI* btnBindImageCode_ = nullptr;
  DirectUI::CControlUI* lbErr1_ = nullptr;
  DirectUI::CControlUI* lbErr2_ = nullptr;
  DirectUI::CControlUI* lyCaptcha1_ = nullptr;
  DirectUI::CControlUI* lyCaptcha2_ = nullptr;
};

}  // namespace quillora
