#pragma once
// Who is signed in to the service. Written by the account answer handlers on
// transport threads, read by the windows, the task worker and the statistics:
// every field is guarded by the session's own mutex, and Snapshot() reads all
// of them consistently at once.
#include <cstdint>
#include <mutex>
#include <string>

#include "account/session/saved_sign_in.h"

namespace quillora {
namespace platform {
class KeyValueStore;
}

enum class LoginType : int32_t {
  SignedOut = 0,
  Mobile = 1,  // SMS sign-in, also after binding a mobile number
  QQ = 2,
  WeChat = 3,
  Other = 4,
};

// The login type for the service's "accounttype", with `flowDefault` for the
// values the table leaves to the sign-in flow (2, any other, missing).
LoginType LoginTypeFromAccountType(int32_t accountType, LoginType flowDefault);

struct SessionData {
  std::string account;     // the service's "username"
  std::string usertoken;   // sent with every authenticated request
  std::string nickname;
  std::string bindmobile;  // mobile number bound to the account
  std::string uid;         // the service's numeric uid as decimal text
  int64_t nowtime = 0;     // server time at the last sign-in or refresh
  LoginType loginType = LoginType::SignedOut;
  std::string avatar;      // "head_portrait" as received
};

class UserSession {
 public:
  // The process's session, saving to the current user's store under the
  // device's key. Created on first use, never destroyed; thread-safe.
  static UserSession& Instance();

  // A session saving to the current user's store under the device's key.
  UserSession();
  // A session saving to `store` under `savedSignInKeyPath` (tests, tools).
  UserSession(platform::KeyValueStore& store, std::string savedSignInKeyPath);
  UserSession(const UserSession&) = delete;
  UserSession& operator=(const UserSession&) = delete;

  void SetSignIn(const std::string& account, const std::string& usertoken, LoginType loginType);
  void SetNickname(const std::string& nickname);
  void SetBindMobile(const std::string& bindmobile);
  void SetUid(const std::string& uid);
  void SetNowTime(int64_t nowtime);
  void SetAvatar(const std::string& avatar);

  std::string GetAccount() const;
  std::string GetUserToken() const;
  std::string GetNickname() const;
  std::string GetBindMobile() const;
  std::string GetUid() const;
  int64_t GetNowTime() const;
  std::string GetAvatar() const;
  LoginType GetLoginType() const;

  // Login type is not SignedOut.
  bool IsSignedIn() const;

  // The bound mobile for login type Other when one is set, else the nickname
  // when set, else the account.
  std::string GetDisplayName() const;

  // Every field at one instant.
  SessionData Snapshot() const;

  // Clears, then takes every field of `data`, as one step: no reader sees a
  // mixture of the old and the new user. Does not save.
  void Replace(const SessionData& data);

  // Empties usertoken, nickname, account, uid and avatar, sets nowtime and
  // login type to 0. The bound mobile stays until the next profile.
  void Clear();

  // Writes the saved sign-in from account, usertoken and login type. Returns
  // whether the store was written.
  bool Save();

  // Clear, then Save.
  bool SignOut();

  // Reads the saved sign-in: an unreadable record clears the session, a
  // record without two separators leaves it untouched, a good one replaces
  // the sign-in (clear, then account, token and type).
  void LoadSaved();

 private:
  // The store and key the saved sign-in goes to; resolved on first use for a
  // session bound to the current user.
  bool ResolveStorage(platform::KeyValueStore*& store, std::string& keyPath);

  mutable std::mutex mutex_;
  SessionData data_;

  std::mutex storageMutex_;  // serialises Save/LoadSaved and guards the two below
  platform::KeyValueStore* store_ = nullptr;
  std::string keyPath_;
};

// Writes a picture captcha that arrives as "data:image/jpg;base64,..." or
// "data:image/png;base64,..." to the temporary folder as
// "Brenvoke_VerifyCode_" + n + ".jpg" (".jpg" for PNG data too), replacing
// an earlier one. Returns the full path, or empty for any other data type, a
// payload that does not decode, or a failed write.
std::string SaveVerifyImage(const std::string& dataUrl, int n);

// The same into `folder` (ending in a separator); tests use it.
std::string SaveVerifyImage(const std::string& dataUrl, int n, const std::string& folder);

}  // namespace quillora
