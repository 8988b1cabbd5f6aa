#include "account/account_client.h"

#include <ctime>

#include "service/transport/remote_services.h"

namespace quillora {

using namespace account_kind;

std::string AccountTypeFor(const std::string& account) {
  const bool hyphenAfterFirst = account.find('-', 1) != std::string::npos;
  const bool noAt = account.find('@') == std::string::npos;
  return hyphenAfterFirst && noAt && account.size() <= 16 ? "1" : "0";
}

AccountClient::AccountClient(void* owner, AsyncHttpRequest::NarrowCallback callback)
    : owner_(owner), callback_(callback) {}

AccountClient::~AccountClient() { Shutdown(); }

void AccountClient::Shutdown() {
  std::map<std::int32_t, std::unique_ptr<AsyncHttpRequest>> slots;
  {
    std::lock_guard lock(mutex_);
    slots.swap(slots_);
  }
  slots.clear();  // joins the slots' threads outside the lock
}

void AccountClient::SetValues(const AccountClientValues& values) {
  std::lock_guard lock(mutex_);
  values_ = values;
}

AccountClientValues AccountClient::Values() const {
  std::lock_guard lock(mutex_);
  return values_;
}

ParamMap AccountClient::DeviceParams() const {
  std::lock_guard lock(mutex_);
  ParamMap p;
  p.Set("deviceid", values_.deviceid);
  p.Set("deviceos", values_.deviceos);
  p.Set("devicetype", values_.devicetype);
  p.Set("language", values_.language);
  p.Set("productid", values_.productid);
  p.Set("softname", values_.softname);
  p.Set("softversion", values_.softversion);
  p.SetInt("timestamp", static_cast<std::int64_t>(std::time(nullptr)));
  return p;
}

bool AccountClient::Post(std::int32_t kind, std::int32_t userValue, const char* endpoint, ParamMap params) {
  return Post(kind, kind, userValue, endpoint, std::move(params));
}

bool AccountClient::Post(std::int32_t kind, std::int32_t slotKey, std::int32_t userValue, const char* endpoint,
                         ParamMap params) {
  if (callback_ == nullptr) return false;
  // The parameter map keeps its keys in ascending byte order, which is the
  // member order every account endpoint expects.
  const std::string body = BuildSignedBody(params);
  std::lock_guard lock(mutex_);
  auto& slot = slots_[slotKey];
  if (!slot) {
    slot = std::make_unique<AsyncHttpRequest>(owner_, kind, callback_, userValue);
  } else {
    // A request in flight keeps its own user value; the new one is dropped.
    if (slot->Busy()) return false;
    slot->SetUserValue(userValue);
  }
  return slot->PostJson(ApiUrl(endpoint), body);
}

bool AccountClient::RequestLoginTag(std::int32_t kind, std::int32_t userValue) {
  return Post(kind, userValue, "wechatguid", DeviceParams());
}

bool AccountClient::PollBrowserState(const std::string& tag, std::int32_t userValue) {
  ParamMap p = DeviceParams();
  p.Set("logintag", tag);
  p.Set("showvip", "1");
  return Post(kBrowserState, userValue, "wechatstate", std::move(p));
}

bool AccountClient::RequestCaptcha(int width, int height, int length, int fontSize, std::int32_t userValue) {
  ParamMap p = DeviceParams();
  p.SetInt("width", width);
  p.SetInt("height", height);
  p.SetInt("length", length);
  p.SetInt("fontsize", fontSize);
  return Post(kCaptcha, userValue, "imgverify", std::move(p));
}

bool AccountClient::SendSmsCode(const SmsCodeRequest& r) {
  ParamMap p = DeviceParams();
  const bool binding = !r.usertoken.empty();
  p.Set("account", r.account);
  p.Set("accounttype", AccountTypeFor(binding ? r.bindAccount : r.account));
  p.Set("verifytype", r.verifyType);
  if (binding) {
    p.Set("bindaccount", r.bindAccount);
    p.Set("usertoken", r.usertoken);
  }
  if (r.safe) {
    p.Set("appsource", "PC");
    p.Set("apptype", "PC");
    return Post(kSafeSms, r.userValue, "safsmsverify", std::move(p));
  }
  p.Set("imgcode", r.pictureCode);
  return Post(kSmsWithCaptcha, r.userValue, "smsverify", std::move(p));
}

bool AccountClient::SignInWithCaptcha(const std::string& account, const std::string& smsCode,
                                      const std::string& pictureCode) {
  ParamMap p = DeviceParams();
  p.Set("account", account);
  p.Set("accounttype", AccountTypeFor(account));
  p.Set("imgcode", pictureCode);
  p.Set("showvip", "1");
  p.Set("smscode", smsCode);
  return Post(kSignInWithCaptcha, 1, "loginquick", std::move(p));
}

bool AccountClient::SafeSignIn(const std::string& account, const std::string& smsCode) {
  ParamMap p = DeviceParams();
  p.Set("account", account);
  p.Set("accounttype", AccountTypeFor(account));
  p.Set("showvip", "1");
  p.Set("smscode", smsCode);
  return Post(kSafeSignIn, 1, "safloginquick", std::move(p));
}

bool AccountClient::BindMobile(const std::string& mobile, const std::string& smsCode,
                               const std::string& pictureCode, const std::string& usertoken) {
  ParamMap p = DeviceParams();
  p.Set("accounttype", AccountTypeFor(mobile));
  p.Set("bindaccount", mobile);
  if (!pictureCode.empty()) p.Set("imgcode", pictureCode);
  p.Set("smscode", smsCode);
  p.Set("usertoken", usertoken);
  return Post(kBind, 0, "virtualactbind", std::move(p));
}

bool AccountClient::RefreshProfile(const std::string& account, const std::string& usertoken,
                                   std::int32_t userValue) {
  ParamMap p = DeviceParams();
  p.Set("account", account);
  p.Set("accounttype", AccountTypeFor(account));
  p.Set("usertoken", usertoken);
  // The refresh after a bind is what closes the login window. Sharing the
  // start-up refresh's slot, it would be dropped whenever a bind finished
  // while that one was still out, leaving the window open with no word.
  constexpr std::int32_t kAfterBind = 3;
  constexpr std::int32_t kAfterBindSlot = -kProfile;
  return Post(kProfile, userValue == kAfterBind ? kAfterBindSlot : kProfile, userValue, "memprofile", std::move(p));
}

}  // namespace quillora
