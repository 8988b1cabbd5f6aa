#include "account/window/logon_wnd.h"

#include <cstdio>

#include "account/account_error_text.h"

namespace quillora {

using namespace DirectUI;

namespace {

// Notifications of this window's own, queued by the answer handlers.
constexpr char kNotifyCaptchaPicture[] = "captchapicture";

constexpr UINT kPollTimer = 1;
constexpr UINT kCountdownTimer = 2000;
constexpr int kPollBudget = 300;
constexpr int kPollCost = 3;
constexpr int kCountdownSeconds = 60;
constexpr int kCaptchaWidth = 90;
constexpr int kCaptchaHeight = 54;
constexpr int kCaptchaWindowWidth = 400;
constexpr int kCaptchaWindowHeight = 570;

std::string TextOf(CControlUI* control) { return control ? control->GetText() : std::string(); }

template <class T>
bool TakeFront(std::mutex& mutex, std::deque<T>& queue, T& out) {
  std::lock_guard lock(mutex);
  if (queue.empty()) return false;
  out = std::move(queue.front());
  queue.pop_front();
  return true;
}

}  // namespace

DUI_BEGIN_MESSAGE_MAP(LogonWnd, CWindowImplBaseUI)
DUI_ON_MSGTYPE(DUI_MSGTYPE_CLICK, OnClick)
DUI_ON_MSGTYPE(DUI_MSGTYPE_TIMER, OnTimer)
DUI_ON_MSGTYPE(kNotifyNotSave, OnNotSave)
DUI_ON_MSGTYPE(kNotifyCheckLogin, OnCheckLogin)
DUI_ON_MSGTYPE(kNotifyCheckErrInfo, OnCheckErrInfo)
DUI_ON_MSGTYPE(kNotifyStopRefreshTimer, OnStopRefreshTimer)
DUI_ON_MSGTYPE(kNotifyCaptchaPicture, OnCaptchaPicture)
DUI_ON_CLICK_CTRNAME("btn_wx_login", OnWeChatClick)
DUI_ON_CLICK_CTRNAME("btn_qq_login", OnQQClick)
DUI_ON_CLICK_CTRNAME("btn_login", OnLoginClick)
DUI_ON_CLICK_CTRNAME("btn_tel_login", OnTelLoginClick)
DUI_ON_CLICK_CTRNAME("btn_login_telcode", OnLoginTelCodeClick)
DUI_ON_CLICK_CTRNAME("btn_login_imagecode", OnImageCodeClick)
DUI_ON_CLICK_CTRNAME("btn_bind_imagecode", OnImageCodeClick)
DUI_ON_CLICK_CTRNAME("btn_bind_telcode", OnBindTelCodeClick)
DUI_ON_CLICK_CTRNAME("btn_bind", OnBindClick)
DUI_END_MESSAGE_MAP()

LogonWnd::LogonWnd(LoginMode mode, AccountService& service) : loginMode_(mode), service_(service) {}

LogonWnd::~LogonWnd() { Unlink(); }

UINT LogonWnd::Run(HWND parent, LoginMode mode, AccountService& service) {
  LogonWnd window(mode, service);
  window.Create(parent, "", UI_WNDSTYLE_DIALOG, 0);
  window.CenterWindow();
  return window.ShowModal();
}

void LogonWnd::InitWindow() {
  auto find = [this](const char* name) { return m_pm.FindControl(name); };
  main_ = static_cast<CTabLayoutUI*>(find("ly_main"));
  btnWx_ = find("btn_wx_login");
  btnQq_ = find("btn_qq_login");
  edLoginTel_ = find("ed_login_tel");
  edLoginTelCode_ = find("ed_login_telcode");
  edLoginImageCode_ = find("ed_login_imagecode");
  btnLoginTelCode_ = find("btn_login_telcode");
  btnLoginImageCode_ = find("btn_login_imagecode");
  edBindTel_ = find("ed_bind_tel");
  edBindTelCode_ = find("ed_bind_telcode");
  edBindImageCode_ = find("ed_bind_imagecode");
  btnBindTelCode_ = find("btn_bind_telcode");
  btnBindImageCode_ = find("btn_bind_imagecode");
  lbErr1_ = find("lb_err1");
  lbErr2_ = find("lb_err2");
  lyCaptcha1_ = find("ly_fengkong1");
  lyCaptcha2_ = find("ly_fengkong2");
  SetWindowText(loginMode_ == LoginMode::Bind ? "绑定手机号" : "登录");
  if (loginMode_ == LoginMode::Bind) {
    if (DirectUI::CControlUI* title = find("lb_title")) title->SetText("绑定手机号");
  }

  // Linked once the controls the answers reach are known.
  service_.SetLoginWindow(this);
  linked_ = true;
  if (loginMode_ == LoginMode::Bind) {
    if (main_) main_->SelectItem(2);
  } else {
    // Both tags are usually there before the user clicks.
    service_.RequestWeChatTag();
    service_.RequestQQTag();
  }
}

LRESULT LogonWnd::HandleMessage(UINT msg, WPARAM wParam, LPARAM lParam) {
  // The answers stop reaching the window before its controls go away.
  if (msg == WM_DESTROY) Unlink();
  return CWindowImplBaseUI::HandleMessage(msg, wParam, lParam);
}

void LogonWnd::Unlink() {
  if (!linked_) return;
  linked_ = false;
  service_.SetLoginWindow(nullptr);
}

// ---- from the answer handlers (any thread) --------------------------------

void LogonWnd::Queue(CControlUI* control, const char* type, WPARAM wParam) {
  if (control) m_pm.SendNotify(control, type, wParam, 0, true);
}

void LogonWnd::StartPolling(BrowserSignIn which, const std::string& tag) {
  {
    std::lock_guard lock(pendingMutex_);
    pendingTags_.emplace_back(which, tag);
  }
  Queue(which == BrowserSignIn::WeChat ? btnWx_ : btnQq_, kNotifyCheckLogin);
}

void LogonWnd::ShowError(ErrorArea area, const std::string& text) {
  {
    std::lock_guard lock(pendingMutex_);
    pendingErrors_.emplace_back(area, text);
  }
  Queue(btnWx_, kNotifyCheckErrInfo, area == ErrorArea::SignIn ? 1 : 0);
}

void LogonWnd::EnterCaptchaMode() { Queue(btnWx_, kNotifyNotSave); }

void LogonWnd::StopSmsCountdown() { Queue(m_pm.GetRoot(), kNotifyStopRefreshTimer); }

void LogonWnd::StopPollTimers() {
  // The toolkit carries timer changes over to the window's thread.
  m_pm.KillTimer(btnWx_);
  m_pm.KillTimer(btnQq_);
}

void LogonWnd::SetCaptchaPicture(int userValue, const std::string& path) {
  {
    std::lock_guard lock(pendingMutex_);
    pendingPictures_.emplace_back(userValue, path);
  }
  Queue(m_pm.GetRoot(), kNotifyCaptchaPicture);
}

void LogonWnd::CloseWithCode(int code) { Close(static_cast<UINT>(code)); }

// ---- UI thread -------------------------------------------------------------

std::string LogonWnd::ErrorLabelText(const std::string& text) {
  if (text.empty()) return {};
  return "*" + std::string(text == kMissingParameterText ? kCheckInputText : text);
}

void LogonWnd::ShowErrorIn(ErrorArea area, const std::string& text) {
  CControlUI* label = area == ErrorArea::SignIn ? lbErr1_ : lbErr2_;
  if (label) label->SetText(ErrorLabelText(text));
}

void LogonWnd::ClearError() {
  ShowErrorIn(loginMode_ == LoginMode::Bind ? ErrorArea::Bind : ErrorArea::SignIn, "");
}

void LogonWnd::OnCheckErrInfo(TNotifyUI& msg) {
  std::pair<ErrorArea, std::string> error;
  if (!TakeFront(pendingMutex_, pendingErrors_, error)) return;
  ShowErrorIn(msg.wParam != 0 ? ErrorArea::SignIn : ErrorArea::Bind, error.second);
}

void LogonWnd::OnCheckLogin(TNotifyUI& msg) {
  std::pair<BrowserSignIn, std::string> tag;
  if (!TakeFront(pendingMutex_, pendingTags_, tag)) return;
  const bool weChat = msg.pSender == btnWx_;
  (weChat ? weChatTag_ : qqTag_) = tag.second;
  (weChat ? weChatBudget_ : qqBudget_) = kPollBudget;
  m_pm.KillTimer(msg.pSender, kPollTimer);
  m_pm.SetTimer(msg.pSender, kPollTimer, pollPeriodMs_);
}

void LogonWnd::OnCaptchaPicture(TNotifyUI&) {
  std::pair<int, std::string> picture;
  while (TakeFront(pendingMutex_, pendingPictures_, picture)) {
    CControlUI* button = picture.first == 1 ? btnLoginImageCode_ : btnBindImageCode_;
    if (!button) continue;
    // The file keeps its name between captchas: the cached picture is stale.
    m_pm.ReloadAllImages();
    button->SetBkImage(picture.second.empty() ? std::string() : "file='" + picture.second + "'");
  }
}

void LogonWnd::OnTimer(TNotifyUI& msg) {
  if (msg.pSender == btnWx_ && msg.wParam == kPollTimer) {
    PollTick(BrowserSignIn::WeChat);
  } else if (msg.pSender == btnQq_ && msg.wParam == kPollTimer) {
    PollTick(BrowserSignIn::QQ);
  } else if (msg.wParam == kCountdownTimer) {
    CountdownTick();
  }
}

void LogonWnd::PollTick(BrowserSignIn which) {
  const bool weChat = which == BrowserSignIn::WeChat;
  if (weChat) {
    service_.PollWeChatState(weChatTag_);
  } else {
    service_.PollQQState(qqTag_);
  }
  int& budget = weChat ? weChatBudget_ : qqBudget_;
  budget -= kPollCost;
  if (budget <= 0) m_pm.KillTimer(weChat ? btnWx_ : btnQq_);
}

void LogonWnd::OnNotSave(TNotifyUI&) {
  countdown_ = 0;
  safeMode_ = 0;
  if (loginMode_ == LoginMode::Bind) {
    if (lyCaptcha2_) lyCaptcha2_->SetVisible(true);
  } else {
    if (lyCaptcha1_) lyCaptcha1_->SetVisible(true);
    m_pm.SetInitSize(kCaptchaWindowWidth, kCaptchaWindowHeight);
    ResizeClient(kCaptchaWindowWidth, kCaptchaWindowHeight);
  }
  RequestCaptcha();
}

void LogonWnd::RequestCaptcha() {
  service_.RequestCaptcha(kCaptchaWidth, kCaptchaHeight, loginMode_ == LoginMode::Bind ? 4 : 1);
}

void LogonWnd::OnImageCodeClick(TNotifyUI&) {
  ClearError();
  RequestCaptcha();
}

// ---- SMS countdown ----

CControlUI* LogonWnd::CountdownButton() const {
  return loginMode_ == LoginMode::Bind ? btnBindTelCode_ : btnLoginTelCode_;
}

void LogonWnd::StartCountdown() {
  countdown_ = kCountdownSeconds;
  if (CountdownTick()) m_pm.SetTimer(CountdownButton(), kCountdownTimer, 1000);
}

bool LogonWnd::CountdownTick() {
  CControlUI* button = CountdownButton();
  if (!button) return false;
  button->SetEnabled(false);
  char text[32];
  std::snprintf(text, sizeof text, "%d秒", countdown_);
  --countdown_;
  if (countdown_ > 0) {
    button->SetText(text);
  } else {
    button->SetEnabled(true);
    button->SetText(kSendCodeText);
  }
  return true;
}

void LogonWnd::OnStopRefreshTimer(TNotifyUI&) {
  countdown_ = 0;
  CountdownTick();
  m_pm.KillTimer(CountdownButton());
}

// ---- clicks ----

void LogonWnd::OnWeChatClick(TNotifyUI&) { service_.RequestWeChatPage(); }
void LogonWnd::OnQQClick(TNotifyUI&) { service_.RequestQQPage(); }

void LogonWnd::OnTelLoginClick(TNotifyUI&) {
  if (main_) main_->SelectItem(1);
}

bool LogonWnd::ReadSmsInputs(ErrorArea area, CControlUI* tel, CControlUI* image, std::string& mobile,
                             std::string& picture) {
  mobile = TextOf(tel);
  picture = InCaptchaMode() ? TextOf(image) : std::string();
  if (mobile.empty() || (InCaptchaMode() && picture.empty())) {
    ShowErrorIn(area, kFillInFirstText);
    return false;
  }
  return true;
}

void LogonWnd::OnLoginTelCodeClick(TNotifyUI&) {
  std::string mobile, picture;
  if (!ReadSmsInputs(ErrorArea::SignIn, edLoginTel_, edLoginImageCode_, mobile, picture)) return;
  service_.SendSmsCode({mobile, picture, "quicklogin", !InCaptchaMode(), 1, "", ""});
  StartCountdown();
  ClearError();
}

void LogonWnd::OnBindTelCodeClick(TNotifyUI&) {
  const std::string token = service_.Session().GetUserToken();
  std::string mobile, picture;
  if (!ReadSmsInputs(ErrorArea::Bind, edBindTel_, edBindImageCode_, mobile, picture)) return;
  service_.SendSmsCode({mobile, picture, "bindaccount", !InCaptchaMode(), 5, mobile, token});
  StartCountdown();
  ClearError();
}

void LogonWnd::OnLoginClick(TNotifyUI&) {
  ClearError();
  if (InCaptchaMode()) {
    service_.MobileSignIn(TextOf(edLoginTel_), TextOf(edLoginTelCode_), TextOf(edLoginImageCode_));
  } else {
    service_.MobileSignInSafe(TextOf(edLoginTel_), TextOf(edLoginTelCode_));
  }
}

void LogonWnd::OnBindClick(TNotifyUI&) {
  ClearError();
  service_.BindMobile(TextOf(edBindTel_), TextOf(edBindTelCode_),
                      InCaptchaMode() ? TextOf(edBindImageCode_) : std::string());
}

}  // namespace quillora
