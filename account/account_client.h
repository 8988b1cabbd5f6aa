#pragma once
// Turns account operations into signed JSON requests to the service API, one
// request slot per kind. A request made while its slot still carries an
// earlier one is dropped: no answer follows for it.
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>

#include "service/transport/async_http_request.h"
#include "service/transport/signing.h"

namespace quillora {

// Request kinds; the kind comes back with the answer.
namespace account_kind {
inline constexpr std::int32_t kCaptcha = 29;           // imgverify
inline constexpr std::int32_t kSmsWithCaptcha = 30;    // smsverify
inline constexpr std::int32_t kSignInWithCaptcha = 33; // loginquick
inline constexpr std::int32_t kWeChatTag = 41;         // wechatguid
inline constexpr std::int32_t kBrowserState = 42;      // wechatstate
inline constexpr std::int32_t kProfile = 45;           // memprofile
inline constexpr std::int32_t kQQTag = 51;             // wechatguid
inline constexpr std::int32_t kSafeSignIn = 55;        // safloginquick
inline constexpr std::int32_t kBindErrors = 56;        // the error texts of bind answers
inline constexpr std::int32_t kSafeSms = 57;           // safsmsverify
inline constexpr std::int32_t kBind = 59;              // virtualactbind
}  // namespace account_kind

// "1" when `account` holds a "-" after its first character, no "@", and is at
// most 16 bytes long (a mobile number with a country prefix); else "0".
std::string AccountTypeFor(const std::string& account);

// The identity values every account request carries.
struct AccountClientValues {
  std::string deviceid;
  std::string softname;
  std::string softversion;
  std::string language = "zh-cn";
  std::string deviceos = "Win7";
  std::string devicetype = "pc";
  std::string productid = "1";
};

// Sending an SMS code, for a sign-in or for binding a mobile number.
struct SmsCodeRequest {
  std::string account;      // the mobile number typed
  std::string pictureCode;  // captcha answer; unused in the safe form
  std::string verifyType;   // "quicklogin" or "bindaccount"
  bool safe = true;         // without picture captcha (kind 57) or with (kind 30)
  std::int32_t userValue = 1;
  std::string bindAccount;  // with a user token: the number to bind
  std::string usertoken;    // the signed-in user's token when binding
};

class AccountClient {
 public:
  // `owner` is handed to `callback` with every answer. A null callback makes
  // every request fail without being sent.
  AccountClient(void* owner, AsyncHttpRequest::NarrowCallback callback);
  ~AccountClient();
  AccountClient(const AccountClient&) = delete;
  AccountClient& operator=(const AccountClient&) = delete;

  void SetValues(const AccountClientValues& values);
  AccountClientValues Values() const;

  // Each returns false when nothing was sent (no callback, or the kind's slot
  // still busy).
  bool RequestLoginTag(std::int32_t kind, std::int32_t userValue);  // 41 or 51
  bool PollBrowserState(const std::string& tag, std::int32_t userValue);
  bool RequestCaptcha(int width, int height, int length, int fontSize, std::int32_t userValue);
  bool SendSmsCode(const SmsCodeRequest& request);
  bool SignInWithCaptcha(const std::string& account, const std::string& smsCode, const std::string& pictureCode);
  bool SafeSignIn(const std::string& account, const std::string& smsCode);
  // An empty picture code leaves "imgcode" out (safe mode).
  bool BindMobile(const std::string& mobile, const std::string& smsCode, const std::string& pictureCode,
                  const std::string& usertoken);
  // User value 3 marks the refresh that follows a bind; it has a slot of its
  // own (see the definition).
  bool RefreshProfile(const std::string& account, const std::string& usertoken, std::int32_t userValue);

  // Abandons requests in flight and stops the slots' threads; no answer is
  // delivered afterwards. The destructor does the same.
  void Shutdown();

 private:
  ParamMap DeviceParams() const;
  // Posts on the slot `slotKey` (the kind itself unless told otherwise).
  bool Post(std::int32_t kind, std::int32_t userValue, const char* endpoint, ParamMap params);
  bool Post(std::int32_t kind, std::int32_t slotKey, std::int32_t userValue, const char* endpoint, ParamMap params);

  void* const owner_;
  const AsyncHttpRequest::NarrowCallback callback_;
  mutable std::mutex mutex_;
  AccountClientValues values_;
  std::map<std::int32_t, std::unique_ptr<AsyncHttpRequest>> slots_;
};

}  // namespace quillora
