#pragma once
// The client side of the service's account interface: sign-in by WeChat or
// QQ page, by mobile number and SMS code (with a picture captcha when the
// service asks for one), binding a mobile number, the profile refresh, and
// the statistics events. Every operation returns at once; answers arrive on
// the transport's threads, are applied to the UserSession (and its saved
// sign-in) and reach the windows through their links (window_links.h).
//
// Thread safety: every operation may be called from any thread. The window
// links, the browser tags and page flags and the bind number are guarded by
// the service's lock; a window that clears its link under that lock receives
// nothing afterwards.
#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "account/account_client.h"
#include "account/session/user_session.h"
#include "account/window_links.h"
#include "stats/statistics.h"

namespace Json {
class Value;
}

namespace quillora {

struct AccountServiceOptions {
  // deviceid, softname and softversion; deviceos, devicetype and productid
  // are set at creation (below).
  AccountClientValues clientValues;
  std::string osName;  // sent as "devicetype" and as the statistics OS version
  // The statistics values (device and software values are taken from above).
  std::string screenWidth = "0";
  std::string screenHeight = "0";
  std::string installerFileName;
  bool firstRun = false;          // send the install event before the start event
  bool sendStartEvents = true;    // off for tools that are not the program starting
  UserSession* session = nullptr; // required
  std::string tempFolder;         // captcha pictures and avatars, with a trailing separator
  // Opens a browser page; the result is ignored.
  std::function<void(const std::string& url)> openUrl;
  // Writes every answer, with user names and tokens masked, to standard error.
  bool debugLog = false;
};

// What an answer turned out to be, for observers (tools and tests).
struct AnswerReport {
  std::int32_t kind = 0;
  std::int32_t userValue = 0;
  bool arrived = false;               // false: nothing arrived (transport failure)
  std::optional<std::int64_t> code;   // nothing: not JSON, or no integer "code"
  bool vip = false;                   // the answer's user is a VIP ("userinfo"."isvip" 1)
};

class AccountService {
 public:
  // The process's service, built from the configuration store, the identity
  // values and the platform. Created on first use, never destroyed; its
  // creation sends the install (first run) and start events.
  static AccountService& Instance();
  // Set before the first Instance(): the primary screen's size for the
  // statistics (the windowed program knows it), and whether the start
  // events are sent (tools that share the settings turn them off).
  static void SetScreenSize(int width, int height);
  static void SetSendsStartEvents(bool send);
  // The options Instance() uses (tools adjust them and build their own).
  static AccountServiceOptions DefaultOptions();

  explicit AccountService(AccountServiceOptions options);
  ~AccountService();
  AccountService(const AccountService&) = delete;
  AccountService& operator=(const AccountService&) = delete;

  UserSession& Session() { return session_; }

  // Browser sign-in.
  void RequestWeChatTag();  // empties the WeChat tag, then asks for a new one
  void RequestQQTag();
  void PollWeChatState(const std::string& tag);
  void PollQQState(const std::string& tag);
  // The user asked for the page: opens it when the tag is there, or as soon
  // as it arrives.
  void RequestWeChatPage();
  void RequestQQPage();

  // Mobile sign-in and binding.
  void RequestCaptcha(int width, int height, std::int32_t userValue);
  void SendSmsCode(const SmsCodeRequest& request);
  void MobileSignIn(const std::string& account, const std::string& smsCode, const std::string& pictureCode);
  void MobileSignInSafe(const std::string& account, const std::string& smsCode);
  // Binds `mobile` to the signed-in account; an empty picture code is the
  // safe form.
  void BindMobile(const std::string& mobile, const std::string& smsCode, const std::string& pictureCode);

  // user value 0: the start-up refresh; 3: after a bind.
  void RefreshProfile(const std::string& account, const std::string& usertoken, std::int32_t userValue);
  // At start: refreshes a saved user's profile, or stores the signed-out
  // state when nobody is signed in.
  void CheckSignInAtStart();

  void SetLoginWindow(LoginWindowLink* window);
  void SetMainWindow(MainWindowLink* window);

  // The AppLogin event; the fail reason is UTF-8 text ("0" when empty).
  void SendLoginStatistics(const std::string& method, bool success, const std::string& failReason,
                           bool vip = false);

  // True while a statistics event is still on its way (tools wait for it
  // before they end).
  bool StatisticsInFlight() const { return statistics_.InFlight(); }

  // Called after every answer has been handled, on the transport's thread.
  void SetAnswerObserver(std::function<void(const AnswerReport&)> observer);

  // Page addresses of the browser sign-ins.
  static std::string WeChatPageUrl(const std::string& tag);
  static std::string QQPageUrl(const std::string& tag);

  // The client's answer callback: parses the answer and runs its handler.
  static void ResponseDispatcher(void* context, std::int32_t kind, std::int32_t userValue, std::string response);

 private:
  struct BrowserState {
    std::string tag;
    bool pageRequested = false;
  };

  void Dispatch(std::int32_t kind, std::int32_t userValue, const std::string& response);
  void Handle(std::int32_t kind, std::int64_t code, const Json::Value& answer, std::int32_t userValue,
              bool arrived);
  void OnLoginTag(BrowserSignIn which, std::int64_t code, const Json::Value& answer);
  void OnBrowserState(std::int64_t code, const Json::Value& answer, std::int32_t userValue);
  void OnCaptcha(std::int64_t code, const Json::Value& answer, std::int32_t userValue);
  void OnSmsCode(std::int32_t kind, std::int64_t code, std::int32_t userValue);
  void OnMobileSignIn(std::int32_t kind, std::int64_t code, const Json::Value& answer, std::int32_t userValue);
  void OnProfile(std::int64_t code, const Json::Value& answer, std::int32_t userValue, bool arrived);
  void OnBind(std::int64_t code, const Json::Value& answer);

  // Applies the answer's profile (clear, set, save) and tells the main
  // window; false when the answer names no user.
  bool ApplyProfile(const Json::Value& answer, LoginType flowDefault);
  // With the lock held.
  void OpenPageLocked(BrowserSignIn which);
  BrowserState& StateOf(BrowserSignIn which) { return which == BrowserSignIn::WeChat ? weChat_ : qq_; }
  // Runs `effect` on the login window when it is open (under the lock).
  void WithLoginWindow(const std::function<void(LoginWindowLink&)>& effect);
  void ShowErrorInArea(std::int32_t userValue, const std::string& text);
  void StartAvatarFetch();
  void FetchAvatar();

  UserSession& session_;
  const std::string tempFolder_;
  const std::function<void(const std::string&)> openUrl_;
  const bool debugLog_;

  std::mutex mutex_;  // the service's lock
  LoginWindowLink* loginWindow_ = nullptr;
  MainWindowLink* mainWindow_ = nullptr;
  BrowserState weChat_;
  BrowserState qq_;
  std::string bindMobile_;
  std::function<void(const AnswerReport&)> observer_;

  std::mutex avatarMutex_;
  std::vector<std::thread> avatarThreads_;

  // Last: their threads deliver answers to the members above, so they stop
  // first.
  AccountClient client_;
  stats::StatisticsClient statistics_;
};

}  // namespace quillora
