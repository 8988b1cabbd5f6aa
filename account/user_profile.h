#pragma once
// The "userinfo" object of the account answers, and where its avatar is kept.
#include <json/value.h>

#include <cstdint>
#include <optional>
#include <string>

#include "account/session/user_session.h"

namespace quillora {

struct UserProfile {
  std::string username;
  std::string usertoken;
  std::string nickname;
  std::string bindmobile;
  std::string headPortrait;  // avatar URL as received
  std::int64_t uid = 0;
  std::int64_t accounttype = 0;
  std::int64_t nowtime = 0;
};

// The "userinfo" member of an answer. Strings count only when they are JSON
// strings (otherwise empty); numbers are taken as floating-point values and
// truncated (0 when missing or not numbers; clamped to the 64-bit range).
// Nothing when "userinfo" is not an object or names no user (empty username
// or user token): such an answer cannot sign anyone in.
std::optional<UserProfile> ReadUserProfile(const Json::Value& answer);

// The session record the profile stands for, with the login type worked out
// from "accounttype" and the flow's default.
SessionData SessionFromProfile(const UserProfile& profile, LoginType flowDefault);

// The avatar file of a user: `tempFolder` + usertoken + ".png". A token that
// is not a plain file name (path separators, dots only, control or other
// unusual bytes, over 128 bytes) is replaced by its MD5, so no token can
// steer the file out of the folder.
std::string AvatarFilePath(const std::string& tempFolder, const std::string& usertoken);

}  // namespace quillora
