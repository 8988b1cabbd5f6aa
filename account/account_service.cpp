#include "account/account_service.h"

#include <json/value.h>
#include <json/writer.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string_view>
#include <utility>

#include "account/account_error_text.h"
#include "account/user_profile.h"
#include "account/session/user_session.h"
#include "app/config/app_config.h"
#include "common/text.h"
#include "platform/paths.h"
#include "platform/shell.h"
#include "service/identity/identity.h"
#include "service/transport/http.h"
#include "service/transport/json_answer.h"
#include "service/transport/remote_services.h"

namespace quillora {

using namespace account_kind;

namespace {

constexpr std::int64_t kSuccess = 10000;
constexpr std::int64_t kWrongVerifyCode = 19313;
// The application id the service registered with the QQ open platform.
constexpr char kQqAppId[] = "101935172";

std::atomic<int> gScreenWidth{0};
std::atomic<int> gScreenHeight{0};
std::atomic<bool> gSendStartEvents{true};

bool AsksForCaptcha(std::int64_t code) { return code == 28001 || code == 28002; }

// Tags go unencoded into page addresses and to the desktop's opener.
bool IsPlainTag(const std::string& tag) {
  if (tag.empty() || tag.size() > 128) return false;
  for (char c : tag) {
    const bool ok = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' || c == '_';
    if (!ok) return false;
  }
  return true;
}

bool IsWebAddress(const std::string& url) {
  auto startsWith = [&](const char* prefix) {
    const std::string p(prefix);
    return url.size() > p.size() && EqualsIgnoringAsciiCase(url.substr(0, p.size()), p);
  };
  return startsWith("http://") || startsWith("https://");
}

constexpr std::string_view kCodeKey = "code";
constexpr std::string_view kVipKey = "isvip";

// The "code" member when it is a JSON integer (not a real, not a string).
std::optional<std::int64_t> StrictCode(const Json::Value& answer) {
  const Json::Value* code = answer.find(kCodeKey.data(), kCodeKey.data() + kCodeKey.size());
  if (code == nullptr || !(code->type() == Json::intValue || code->type() == Json::uintValue)) return std::nullopt;
  if (!code->isInt64()) return std::nullopt;
  return code->asInt64();
}

// Answers carry user names and tokens: the debug output masks them.
void MaskPersonalValues(Json::Value& value) {
  if (value.isObject()) {
    for (const std::string& key : value.getMemberNames()) {
      Json::Value& member = value[key];
      if (member.isString() && (key == "usertoken" || key == "username" || key == "account" ||
                                key == "bindmobile" || key == "nickname" || key == "logintag")) {
        member = "***";
      } else {
        MaskPersonalValues(member);
      }
    }
  } else if (value.isArray()) {
    for (Json::Value& item : value) MaskPersonalValues(item);
  }
}

void WriteDebugLine(std::int32_t kind, const std::string& response) {
  std::string shown;
  if (auto parsed = ParseJsonAnswer(response)) {
    MaskPersonalValues(*parsed);
    Json::StreamWriterBuilder builder;
    builder["indentation"] = "";
    builder["emitUTF8"] = true;
    shown = Json::writeString(builder, *parsed);
  } else {
    shown = "<" + std::to_string(response.size()) + " bytes, not a JSON object>";
  }
  std::fprintf(stderr, "\naccount answer %d: %s\n", static_cast<int>(kind), shown.c_str());
}

bool IsVipAnswer(const Json::Value& answer) {
  const Json::Value info = JsonObject(answer, "userinfo").value_or(Json::Value());
  if (JsonString(info, "isvip") == "1") return true;
  const Json::Value* vip = info.isObject() ? info.find(kVipKey.data(), kVipKey.data() + kVipKey.size()) : nullptr;
  return vip != nullptr && vip->isNumeric() && vip->asDouble() == 1;
}

const char* MethodOf(LoginType type) {
  if (type == LoginType::QQ) return "qq";
  if (type == LoginType::WeChat) return "weixin";
  return "mobile";
}

}  // namespace

AccountServiceOptions AccountService::DefaultOptions() {
  AppConfig& config = AppConfig::Instance();
  const SoftwareIdentity id = config.GetSoftwareIdentity();
  AccountServiceOptions o;
  o.clientValues.deviceid = id.machineId;
  o.clientValues.softname = id.softwareName;
  o.clientValues.softversion = id.softwareVersion;
  o.osName = GetOsName();
  o.screenWidth = std::to_string(gScreenWidth.load());
  o.screenHeight = std::to_string(gScreenHeight.load());
  o.installerFileName = config.GetInstallerFileName();
  o.firstRun = config.IsFirstRun();
  o.sendStartEvents = gSendStartEvents.load();
  o.session = &UserSession::Instance();
  o.tempFolder = platform::GetTempFolder();
  o.openUrl = [](const std::string& url) { platform::OpenWithDesktop(url); };
  const char* debug = std::getenv("QUILLORA_ACCOUNT_DEBUG");
  o.debugLog = debug != nullptr && *debug != '\0' && std::string(debug) != "0";
  return o;
}

AccountService& AccountService::Instance() {
  // Function-local static: its initialisation is the creation lock.
  static AccountService* const service = new AccountService(DefaultOptions());
  return *service;
}

void AccountService::SetScreenSize(int width, int height) {
  gScreenWidth = width;
  gScreenHeight = height;
}

void AccountService::SetSendsStartEvents(bool send) { gSendStartEvents = send; }

AccountService::AccountService(AccountServiceOptions options)
    : session_(*options.session),
      tempFolder_(options.tempFolder),
      openUrl_(std::move(options.openUrl)),
      debugLog_(options.debugLog),
      client_(this, &AccountService::ResponseDispatcher),
      statistics_(this, &AccountService::ResponseDispatcher) {
  AccountClientValues values = options.clientValues;
  values.deviceos = "Windows";
  values.devicetype = options.osName;
  values.productid = kProductId;
  client_.SetValues(values);

  stats::StatisticsValues s;
  s.deviceId = values.deviceid;
  s.softwareName = values.softname;
  s.softwareVersion = values.softversion;
  s.osVersion = options.osName;
  s.screenWidth = options.screenWidth;
  s.screenHeight = options.screenHeight;
  s.installFileName = options.installerFileName;
  statistics_.SetValues(s);
  if (options.sendStartEvents) statistics_.SendStartupEvents(options.firstRun, 0);
}

AccountService::~AccountService() {
  // No answer may arrive while the members go away.
  statistics_.Shutdown();
  client_.Shutdown();
  std::vector<std::thread> threads;
  {
    std::lock_guard lock(avatarMutex_);
    threads.swap(avatarThreads_);
  }
  for (std::thread& t : threads) t.join();
}

// ---- operations -----------------------------------------------------------

void AccountService::RequestWeChatTag() {
  {
    std::lock_guard lock(mutex_);
    weChat_.tag.clear();
  }
  client_.RequestLoginTag(kWeChatTag, 3);
}

void AccountService::RequestQQTag() {
  {
    std::lock_guard lock(mutex_);
    qq_.tag.clear();
  }
  client_.RequestLoginTag(kQQTag, 2);
}

void AccountService::PollWeChatState(const std::string& tag) { client_.PollBrowserState(tag, 3); }
void AccountService::PollQQState(const std::string& tag) { client_.PollBrowserState(tag, 2); }

void AccountService::RequestWeChatPage() {
  std::lock_guard lock(mutex_);
  weChat_.pageRequested = true;
  OpenPageLocked(BrowserSignIn::WeChat);
}

void AccountService::RequestQQPage() {
  std::lock_guard lock(mutex_);
  qq_.pageRequested = true;
  OpenPageLocked(BrowserSignIn::QQ);
}

void AccountService::RequestCaptcha(int width, int height, std::int32_t userValue) {
  client_.RequestCaptcha(width, height, 4, 16, userValue);
}

void AccountService::SendSmsCode(const SmsCodeRequest& request) { client_.SendSmsCode(request); }

void AccountService::MobileSignIn(const std::string& account, const std::string& smsCode,
                                  const std::string& pictureCode) {
  client_.SignInWithCaptcha(account, smsCode, pictureCode);
}

void AccountService::MobileSignInSafe(const std::string& account, const std::string& smsCode) {
  client_.SafeSignIn(account, smsCode);
}

void AccountService::BindMobile(const std::string& mobile, const std::string& smsCode,
                                const std::string& pictureCode) {
  {
    std::lock_guard lock(mutex_);
    bindMobile_ = mobile;
  }
  client_.BindMobile(mobile, smsCode, pictureCode, session_.GetUserToken());
}

void AccountService::RefreshProfile(const std::string& account, const std::string& usertoken,
                                    std::int32_t userValue) {
  client_.RefreshProfile(account, usertoken, userValue);
}

void AccountService::CheckSignInAtStart() {
  const SessionData s = session_.Snapshot();
  if (s.loginType != LoginType::SignedOut) {
    RefreshProfile(s.account, s.usertoken, 0);
  } else {
    session_.SignOut();
  }
}

void AccountService::SetLoginWindow(LoginWindowLink* window) {
  std::lock_guard lock(mutex_);
  loginWindow_ = window;
}

void AccountService::SetMainWindow(MainWindowLink* window) {
  std::lock_guard lock(mutex_);
  mainWindow_ = window;
}

void AccountService::SetAnswerObserver(std::function<void(const AnswerReport&)> observer) {
  std::lock_guard lock(mutex_);
  observer_ = std::move(observer);
}

void AccountService::SendLoginStatistics(const std::string& method, bool success, const std::string& failReason,
                                         bool vip) {
  statistics_.SendLoginEvent(method, success ? "1" : "0", failReason.empty() ? "0" : failReason, vip ? "1" : "0",
                             0);
}

std::string AccountService::WeChatPageUrl(const std::string& tag) { return PageUrl("/scanlogin/" + tag); }

std::string AccountService::QQPageUrl(const std::string& tag) {
  return QqAuthorizeUrl(std::string("which=Login&display=pc&client_id=") + kQqAppId +
                        "&response_type=token&scope=all&redirect_uri=" + PageUrl("/scanlogin/qqlogin") +
                        "?state=" + tag);
}

// ---- answers --------------------------------------------------------------

void AccountService::ResponseDispatcher(void* context, std::int32_t kind, std::int32_t userValue,
                                        std::string response) {
  static_cast<AccountService*>(context)->Dispatch(kind, userValue, response);
}

void AccountService::Dispatch(std::int32_t kind, std::int32_t userValue, const std::string& response) {
  if (debugLog_) WriteDebugLine(kind, response);
  AnswerReport report;
  report.kind = kind;
  report.userValue = userValue;
  // The transport hands over this exact text when nothing arrived.
  report.arrived = response != kSubstituteAnswer;
  if (const std::optional<Json::Value> answer = ParseJsonAnswer(response)) {
    report.code = StrictCode(*answer);
    report.vip = IsVipAnswer(*answer);
    Handle(kind, report.code.value_or(0), *answer, userValue, report.arrived && report.code.has_value());
  }
  std::function<void(const AnswerReport&)> observer;
  {
    std::lock_guard lock(mutex_);
    observer = observer_;
  }
  if (observer) observer(report);
}

void AccountService::Handle(std::int32_t kind, std::int64_t code, const Json::Value& answer,
                            std::int32_t userValue, bool answeredWithCode) {
  switch (kind) {
    case kWeChatTag: OnLoginTag(BrowserSignIn::WeChat, code, answer); break;
    case kQQTag: OnLoginTag(BrowserSignIn::QQ, code, answer); break;
    case kBrowserState: OnBrowserState(code, answer, userValue); break;
    case kCaptcha: OnCaptcha(code, answer, userValue); break;
    case kSafeSms:
    case kSmsWithCaptcha: OnSmsCode(kind, code, userValue); break;
    case kSafeSignIn:
    case kSignInWithCaptcha: OnMobileSignIn(kind, code, answer, userValue); break;
    case kProfile: OnProfile(code, answer, userValue, answeredWithCode); break;
    case kBind: OnBind(code, answer); break;
    default: break;  // statistics answers need nothing
  }
}

void AccountService::OnLoginTag(BrowserSignIn which, std::int64_t code, const Json::Value& answer) {
  if (code != kSuccess) return;
  const std::string tag = JsonString(answer, "logintag").value_or("");
  if (!IsPlainTag(tag)) return;
  {
    std::lock_guard lock(mutex_);
    StateOf(which).tag = tag;
    OpenPageLocked(which);
  }
  if (which == BrowserSignIn::QQ) SendLoginStatistics("qq", true, "");
}

void AccountService::OpenPageLocked(BrowserSignIn which) {
  BrowserState& state = StateOf(which);
  if (!state.pageRequested || state.tag.empty()) return;
  const std::string url = which == BrowserSignIn::WeChat ? WeChatPageUrl(state.tag) : QQPageUrl(state.tag);
  if (openUrl_) openUrl_(url);
  if (loginWindow_ != nullptr) loginWindow_->StartPolling(which, state.tag);
  state = BrowserState{};
}

void AccountService::OnBrowserState(std::int64_t code, const Json::Value& answer, std::int32_t userValue) {
  if (code != kSuccess) return;  // not confirmed yet: the window keeps polling
  if (!ApplyProfile(answer, userValue == 2 ? LoginType::QQ : LoginType::WeChat)) return;
  {
    std::lock_guard lock(mutex_);
    if (loginWindow_ != nullptr) {
      loginWindow_->StopPollTimers();
      loginWindow_->CloseWithCode(kLogonClosedSignedIn);
    }
    weChat_ = BrowserState{};
    qq_ = BrowserState{};
  }
  SendLoginStatistics("weixin", true, "");
}

void AccountService::OnCaptcha(std::int64_t code, const Json::Value& answer, std::int32_t userValue) {
  if (code != kSuccess) return;
  std::lock_guard lock(mutex_);
  if (loginWindow_ == nullptr) return;
  const std::string path = SaveVerifyImage(JsonString(answer, "message").value_or(""), userValue, tempFolder_);
  if (!path.empty()) loginWindow_->SetCaptchaPicture(userValue, path);
}

void AccountService::OnSmsCode(std::int32_t kind, std::int64_t code, std::int32_t userValue) {
  if (kind == kSafeSms && AsksForCaptcha(code)) WithLoginWindow([](LoginWindowLink& w) { w.EnterCaptchaMode(); });
  if (code == kSuccess) return;  // the window's countdown keeps running
  const std::string text = AccountErrorText(kSafeSms, code);
  WithLoginWindow([&](LoginWindowLink& w) {
    w.ShowError(userValue == 1 ? ErrorArea::SignIn : ErrorArea::Bind, text);
    w.StopSmsCountdown();
  });
}

void AccountService::OnMobileSignIn(std::int32_t kind, std::int64_t code, const Json::Value& answer,
                                    std::int32_t userValue) {
  const std::optional<UserProfile> profile = code == kSuccess ? ReadUserProfile(answer) : std::nullopt;
  if (profile) {
    if (kind == kSignInWithCaptcha) SendLoginStatistics("mobile", true, "");
    ApplyProfile(answer, LoginType::Mobile);
    WithLoginWindow([](LoginWindowLink& w) {
      w.StopPollTimers();
      w.CloseWithCode(kLogonClosedSignedIn);
    });
    if (kind == kSafeSignIn) SendLoginStatistics("mobile", true, "");
    return;
  }
  // A success answer that names no user is a failure like any other.
  std::string text = AccountErrorText(kind, code);
  SendLoginStatistics("mobile", false, text);
  if (kind == kSafeSignIn && code == kWrongVerifyCode) text = kWrongVerifyCodeText;
  ShowErrorInArea(userValue, text);
  if (kind == kSafeSignIn && AsksForCaptcha(code)) WithLoginWindow([](LoginWindowLink& w) { w.EnterCaptchaMode(); });
}

void AccountService::OnProfile(std::int64_t code, const Json::Value& answer, std::int32_t userValue,
                               bool answeredWithCode) {
  if (code != kSuccess) {
    // Only the service's own refusal signs the user out: a refresh that got
    // no answer (offline start) keeps the saved sign-in for the next start.
    if (answeredWithCode) session_.SignOut();
    return;
  }
  if (userValue == 3) {  // after a bind: now a mobile user
    if (!ApplyProfile(answer, LoginType::Mobile)) return;
    WithLoginWindow([](LoginWindowLink& w) { w.CloseWithCode(kLogonClosedBound); });
    SendLoginStatistics("mobile", true, "");
    return;
  }
  if (!ApplyProfile(answer, session_.GetLoginType())) return;
  if (userValue == 0) SendLoginStatistics(MethodOf(session_.GetLoginType()), true, "");
}

void AccountService::OnBind(std::int64_t code, const Json::Value& answer) {
  if (AsksForCaptcha(code)) WithLoginWindow([](LoginWindowLink& w) { w.EnterCaptchaMode(); });
  if (code == kSuccess) {
    const std::string token =
        JsonString(JsonObject(answer, "userinfo").value_or(Json::Value()), "usertoken").value_or("");
    std::string mobile;
    {
      std::lock_guard lock(mutex_);
      mobile.swap(bindMobile_);
    }
    if (!token.empty()) {
      RefreshProfile(mobile, token, 3);
      return;
    }
  }
  const std::string text = AccountErrorText(kBindErrors, code);
  WithLoginWindow([&](LoginWindowLink& w) { w.ShowError(ErrorArea::Bind, text); });
}

bool AccountService::ApplyProfile(const Json::Value& answer, LoginType flowDefault) {
  const std::optional<UserProfile> profile = ReadUserProfile(answer);
  if (!profile) return false;
  session_.Replace(SessionFromProfile(*profile, flowDefault));
  session_.Save();
  std::lock_guard lock(mutex_);
  if (mainWindow_ != nullptr) {
    mainWindow_->RefreshUserInfo();
    if (!profile->headPortrait.empty()) StartAvatarFetch();
  }
  return true;
}

void AccountService::WithLoginWindow(const std::function<void(LoginWindowLink&)>& effect) {
  std::lock_guard lock(mutex_);
  if (loginWindow_ != nullptr) effect(*loginWindow_);
}

void AccountService::ShowErrorInArea(std::int32_t userValue, const std::string& text) {
  WithLoginWindow([&](LoginWindowLink& w) { w.ShowError(userValue == 1 ? ErrorArea::SignIn : ErrorArea::Bind, text); });
}

// ---- avatar ---------------------------------------------------------------

void AccountService::StartAvatarFetch() {
  std::lock_guard lock(avatarMutex_);
  avatarThreads_.emplace_back([this] { FetchAvatar(); });
}

void AccountService::FetchAvatar() {
  {
    std::lock_guard lock(mutex_);
    if (mainWindow_ == nullptr) return;
  }
  const SessionData s = session_.Snapshot();
  if (s.loginType == LoginType::SignedOut || !IsWebAddress(s.avatar)) return;
  const std::string path = AvatarFilePath(tempFolder_, s.usertoken);
  std::error_code ec;
  if (std::filesystem::exists(path, ec)) return;
  // The download lands under a temporary name and is renamed into place only
  // when complete, so a failed fetch leaves nothing that blocks the next try.
  DownloadToFile(s.avatar, path);
  std::lock_guard lock(mutex_);
  if (mainWindow_ != nullptr) mainWindow_->RefreshUserInfo();
}

}  // namespace quillora
