#include "account/session/user_session.h"

#include <string_view>

#include "common/codec.h"
#include "platform/files.h"
#include "platform/key_value_store.h"
#include "platform/paths.h"
#include "service/identity/identity.h"

namespace quillora {

LoginType LoginTypeFromAccountType(int32_t accountType, LoginType flowDefault) {
  switch (accountType) {
    case 1: return LoginType::Mobile;
    case 3: return LoginType::WeChat;
    case 4: return LoginType::QQ;
    case 5: return LoginType::Other;
    default: return flowDefault;
  }
}

UserSession& UserSession::Instance() {
  // Function-local static: its initialisation is the creation lock.
  static UserSession* const session = new UserSession();
  return *session;
}

UserSession::UserSession() = default;

UserSession::UserSession(platform::KeyValueStore& store, std::string savedSignInKeyPath)
    : store_(&store), keyPath_(std::move(savedSignInKeyPath)) {}

void UserSession::SetSignIn(const std::string& account, const std::string& usertoken, LoginType loginType) {
  std::lock_guard lock(mutex_);
  data_.account = account;
  data_.usertoken = usertoken;
  data_.loginType = loginType;
}

void UserSession::SetNickname(const std::string& nickname) {
  std::lock_guard lock(mutex_);
  data_.nickname = nickname;
}

void UserSession::SetBindMobile(const std::string& bindmobile) {
  std::lock_guard lock(mutex_);
  data_.bindmobile = bindmobile;
}

void UserSession::SetUid(const std::string& uid) {
  std::lock_guard lock(mutex_);
  data_.uid = uid;
}

void UserSession::SetNowTime(int64_t nowtime) {
  std::lock_guard lock(mutex_);
  data_.nowtime = nowtime;
}

void UserSession::SetAvatar(const std::string& avatar) {
  std::lock_guard lock(mutex_);
  data_.avatar = avatar;
}

std::string UserSession::GetAccount() const {
  std::lock_guard lock(mutex_);
  return data_.account;
}

std::string UserSession::GetUserToken() const {
  std::lock_guard lock(mutex_);
  return data_.usertoken;
}

std::string UserSession::GetNickname() const {
  std::lock_guard lock(mutex_);
  return data_.nickname;
}

std::string UserSession::GetBindMobile() const {
  std::lock_guard lock(mutex_);
  return data_.bindmobile;
}

std::string UserSession::GetUid() const {
  std::lock_guard lock(mutex_);
  return data_.uid;
}

int64_t UserSession::GetNowTime() const {
  std::lock_guard lock(mutex_);
  return data_.nowtime;
}

std::string UserSession::GetAvatar() const {
  std::lock_guard lock(mutex_);
  return data_.avatar;
}

LoginType UserSession::GetLoginType() const {
  std::lock_guard lock(mutex_);
  return data_.loginType;
}

bool UserSession::IsSignedIn() const { return GetLoginType() != LoginType::SignedOut; }

std::string UserSession::GetDisplayName() const {
  std::lock_guard lock(mutex_);
  if (data_.loginType == LoginType::Other && !data_.bindmobile.empty()) return data_.bindmobile;
  if (!data_.nickname.empty()) return data_.nickname;
  return data_.account;
}

SessionData UserSession::Snapshot() const {
  std::lock_guard lock(mutex_);
  return data_;
}

void UserSession::Replace(const SessionData& data) {
  std::lock_guard lock(mutex_);
  data_ = data;
}

void UserSession::Clear() {
  std::lock_guard lock(mutex_);
  data_.usertoken.clear();
  data_.nickname.clear();
  data_.account.clear();
  data_.uid.clear();
  data_.avatar.clear();
  data_.nowtime = 0;
  data_.loginType = LoginType::SignedOut;
}

bool UserSession::ResolveStorage(platform::KeyValueStore*& store, std::string& keyPath) {
  if (!store_) {
    platform::KeyValueStore& user = platform::KeyValueStore::CurrentUser();
    const std::string uid = GetDeviceUid(user);
    // Without a device UID there is no key to save under; try again later.
    if (uid.empty()) return false;
    store_ = &user;
    keyPath_ = SavedSignInKeyPath(uid);
  }
  store = store_;
  keyPath = keyPath_;
  return true;
}

bool UserSession::Save() {
  // The snapshot is taken under the storage lock, so saves land in the order
  // of the states they record and the last save holds the latest state.
  std::lock_guard storageLock(storageMutex_);
  platform::KeyValueStore* store = nullptr;
  std::string keyPath;
  if (!ResolveStorage(store, keyPath)) return false;
  SavedSignIn record;
  {
    std::lock_guard lock(mutex_);
    record.account = data_.account;
    record.usertoken = data_.usertoken;
    record.loginType = static_cast<int32_t>(data_.loginType);
  }
  return WriteSavedSignIn(*store, keyPath, record);
}

bool UserSession::SignOut() {
  Clear();
  return Save();
}

void UserSession::LoadSaved() {
  std::lock_guard storageLock(storageMutex_);
  platform::KeyValueStore* store = nullptr;
  std::string keyPath;
  const SavedSignInDecoded saved =
      ResolveStorage(store, keyPath) ? ReadSavedSignIn(*store, keyPath) : SavedSignInDecoded{};
  switch (saved.status) {
    case SavedSignInStatus::NoSeparators:
      return;
    case SavedSignInStatus::Unreadable:
      Clear();
      return;
    case SavedSignInStatus::Loaded: {
      std::lock_guard lock(mutex_);
      const std::string bindmobile = data_.bindmobile;  // clear keeps it
      data_ = SessionData{};
      data_.bindmobile = bindmobile;
      data_.account = saved.record.account;
      data_.usertoken = saved.record.usertoken;
      data_.loginType = static_cast<LoginType>(saved.record.loginType);
      return;
    }
  }
}

std::string SaveVerifyImage(const std::string& dataUrl, int n, const std::string& folder) {
  constexpr std::string_view kJpg = "data:image/jpg;base64,";
  constexpr std::string_view kPng = "data:image/png;base64,";
  const std::string_view text = dataUrl;
  if (!text.starts_with(kJpg) && !text.starts_with(kPng)) return {};
  const auto bytes = Base64Decode(text.substr(kJpg.size()));
  // No picture at all is as useless to the window as a broken one.
  if (!bytes || bytes->empty() || folder.empty()) return {};
  const std::string path = folder + "Brenvoke_VerifyCode_" + std::to_string(n) + ".jpg";
  return platform::ReplaceFilePrivately(path, *bytes) ? path : std::string();
}

std::string SaveVerifyImage(const std::string& dataUrl, int n) {
  return SaveVerifyImage(dataUrl, n, platform::GetTempFolder());
}

}  // namespace quillora
