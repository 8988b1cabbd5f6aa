#include "account/user_profile.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include "common/codec.h"
#include "service/transport/json_answer.h"

namespace quillora {
namespace {

std::int64_t TruncatedNumber(const Json::Value& object, const char* key) {
  const Json::Value* member = object.find(key, key + std::char_traits<char>::length(key));
  if (member == nullptr || !member->isNumeric()) return 0;
  const double d = member->asDouble();
  if (std::isnan(d)) return 0;
  // Out-of-range doubles do not convert; clamp them first.
  constexpr double kMax = 9.2233720368547748e18;  // 2^63
  if (d >= kMax) return std::numeric_limits<std::int64_t>::max();
  if (d <= -kMax) return std::numeric_limits<std::int64_t>::min();
  return static_cast<std::int64_t>(d);
}

bool IsPlainFileNameToken(const std::string& token) {
  if (token.empty() || token.size() > 128) return false;
  if (token.find_first_not_of('.') == std::string::npos) return false;
  return std::all_of(token.begin(), token.end(), [](char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' ||
           c == '_' || c == '.';
  });
}

}  // namespace

std::optional<UserProfile> ReadUserProfile(const Json::Value& answer) {
  const std::optional<Json::Value> info = JsonObject(answer, "userinfo");
  if (!info) return std::nullopt;
  UserProfile p;
  p.username = JsonString(*info, "username").value_or("");
  p.usertoken = JsonString(*info, "usertoken").value_or("");
  if (p.username.empty() || p.usertoken.empty()) return std::nullopt;
  p.nickname = JsonString(*info, "nickname").value_or("");
  p.bindmobile = JsonString(*info, "bindmobile").value_or("");
  p.headPortrait = JsonString(*info, "head_portrait").value_or("");
  p.uid = TruncatedNumber(*info, "uid");
  p.accounttype = TruncatedNumber(*info, "accounttype");
  p.nowtime = TruncatedNumber(*info, "nowtime");
  return p;
}

SessionData SessionFromProfile(const UserProfile& profile, LoginType flowDefault) {
  SessionData d;
  d.account = profile.username;
  d.usertoken = profile.usertoken;
  d.nickname = profile.nickname;
  d.bindmobile = profile.bindmobile;
  d.uid = std::to_string(profile.uid);
  d.nowtime = profile.nowtime;
  const std::int64_t type = profile.accounttype;
  const bool fits = type >= std::numeric_limits<std::int32_t>::min() && type <= std::numeric_limits<std::int32_t>::max();
  d.loginType = LoginTypeFromAccountType(fits ? static_cast<std::int32_t>(type) : 0, flowDefault);
  d.avatar = profile.headPortrait;
  return d;
}

std::string AvatarFilePath(const std::string& tempFolder, const std::string& usertoken) {
  const std::string name = IsPlainFileNameToken(usertoken) ? usertoken : "avatar_" + Md5Hex(usertoken);
  return tempFolder + name + ".png";
}

}  // namespace quillora
