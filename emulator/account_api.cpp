// The account endpoints of the service API and the browser pages of the
// API host (scan sign-in).
#include <algorithm>

#include "common/codec.h"
#include "common/text.h"
#include "emulator/emulator_impl.h"
#include "emulator/picture.h"

namespace quillora::emulator {

namespace {

// Account error codes the client knows (it shows its own texts for them).
constexpr int kInvalidAccount = 18005;
constexpr int kInvalidPictureCode = 18006;
constexpr int kInvalidSmsCode = 18013;
constexpr int kWrongCodes = 19004;
constexpr int kWrongVerifyCode = 19313;
constexpr int kCaptchaNeeded = 28001;

const std::vector<std::string> kDeviceMembers = {"deviceid", "deviceos", "devicetype", "language",
                                                 "productid", "softname", "softversion", "timestamp"};

std::vector<std::string> With(std::vector<std::string> base, std::initializer_list<const char*> more) {
  for (const char* m : more) base.emplace_back(m);
  return base;
}

std::string HtmlEscape(const std::string& s) {
  std::string out;
  for (char c : s) {
    switch (c) {
      case '<': out += "&lt;"; break;
      case '>': out += "&gt;"; break;
      case '&': out += "&amp;"; break;
      case '"': out += "&quot;"; break;
      default: out += c;
    }
  }
  return out;
}

Answer Html(const std::string& title, const std::string& inner) {
  Answer a;
  a.contentType = "text/html; charset=utf-8";
  a.body = "<!DOCTYPE html><html><head><meta charset=\"utf-8\"><title>" + HtmlEscape(title) +
           "</title></head><body style=\"font-family:sans-serif;text-align:center;margin-top:4em\"><h1>" +
           HtmlEscape(title) + "</h1>" + inner + "</body></html>";
  return a;
}

}  // namespace

std::string Emulator::Impl::UserKeyForAccount(const std::string& account) const {
  if (account.empty()) return std::string();
  if (users.count(account)) return account;
  for (const auto& [key, u] : users) {
    if (!u.bindmobile.empty() && u.bindmobile == account) return key;
  }
  return std::string();
}

std::optional<User> Emulator::Impl::UserByToken(const std::string& token) const {
  if (token.empty()) return std::nullopt;
  for (const auto& [key, u] : users) {
    if (u.usertoken == token) return u;
  }
  return std::nullopt;
}

Json::Value Emulator::Impl::UserInfo(const User& user) const {
  Json::Value info(Json::objectValue);
  info["username"] = user.username;
  info["usertoken"] = user.usertoken;
  info["nickname"] = user.nickname;
  info["bindmobile"] = user.bindmobile;
  info["uid"] = static_cast<Json::Int64>(user.uid);
  info["accounttype"] = user.accounttype;
  info["nowtime"] = static_cast<Json::Int64>(std::time(nullptr) + timeOffset);
  info["isvip"] = user.vip ? 1 : 0;
  info["head_portrait"] =
      "http://127.0.0.1:" + std::to_string(previewPort) + "/avatar/" + std::to_string(user.uid) + ".png";
  return info;
}

bool Emulator::ConfirmScan(const std::string& logintag, const std::string& username) {
  std::lock_guard lock(impl_->mu);
  auto it = impl_->loginTags.find(logintag);
  if (it == impl_->loginTags.end()) return false;
  it->second.confirmed = true;
  it->second.username = username;
  return true;
}

void Emulator::Impl::RegisterAccountApi(httplib::Server& s) {
  auto userAnswer = [this](const User& u) {
    Json::Value v(Json::objectValue);
    v["code"] = kCodeSuccess;
    v["userinfo"] = UserInfo(u);
    return JsonAnswer(v);
  };
  // Signs in (creating the account on first use) and issues a fresh token. With mu held.
  auto signIn = [this](const std::string& account, int accounttype) -> User {
    std::string key = UserKeyForAccount(account);
    if (key.empty()) {
      User u;
      u.username = account;
      u.bindmobile = accounttype == 1 ? account : std::string();
      u.accounttype = accounttype;
      u.uid = nextUid++;
      u.nickname = (accounttype == 1 ? "用户" : accounttype == 3 ? "微信用户" : "QQ用户") +
                   account.substr(account.size() > 4 ? account.size() - 4 : 0);
      key = u.username;
      users[key] = u;
    }
    User& u = users[key];
    u.usertoken = "U" + Md5Hex(key + ":" + std::to_string(++idCounter) + ":" + std::to_string(std::time(nullptr)));
    return u;
  };
  auto captchaOk = [this](const FlatBody& body) {  // with mu held
    auto it = captchas.find(body.Value("deviceid"));
    return it != captchas.end() && !body.Value("imgcode").empty() && EqualsIgnoringAsciiCase(it->second, body.Value("imgcode"));
  };
  auto issueSms = [this](const std::string& mobile) {  // with mu held
    std::string digits;
    for (char c : Md5Hex(mobile + "#" + std::to_string(++idCounter))) {
      if (digits.size() == 6) break;
      digits += static_cast<char>('0' + (std::isdigit(static_cast<unsigned char>(c)) ? c - '0' : (c - 'a') % 10));
    }
    smsCodes[mobile] = digits;
  };

  Route(s, "api", "POST", "/api/v4/imgverify", [this](const httplib::Request& req) {
    Answer fail;
    auto body = CheckBody(req, true, With(kDeviceMembers, {"fontsize", "height", "length", "width"}), &fail);
    if (!body) return fail;
    auto num = [&](const char* key, int lo, int hi, int dflt) {
      std::string v = body->Value(key);
      if (v.empty() || v.size() > 4 || !std::all_of(v.begin(), v.end(), [](char c) { return c >= '0' && c <= '9'; }))
        return dflt;
      return std::clamp(std::stoi(v), lo, hi);
    };
    int length = num("length", 1, 8, 4);
    std::string seedText = Md5Hex(body->Value("deviceid") + NewId("c", 8));
    std::string answer;
    for (int i = 0; i < length; ++i) answer += static_cast<char>('0' + (seedText[static_cast<size_t>(i)] % 10));
    {
      std::lock_guard lock(mu);
      captchas[body->Value("deviceid")] = answer;
      lastCaptcha = answer;
    }
    std::string png = CaptchaPng(answer, num("width", 16, 512, 90), num("height", 12, 256, 54),
                                 static_cast<uint32_t>(std::stoul(seedText.substr(8, 8), nullptr, 16)));
    Json::Value v(Json::objectValue);
    v["code"] = kCodeSuccess;
    v["message"] = "data:image/png;base64," + Base64Encode(png);
    return JsonAnswer(v);
  });

  // Both SMS endpoints; `safe` is the variant without a picture code.
  auto sms = [this, captchaOk, issueSms](const httplib::Request& req, bool safe) {
    Answer fail;
    auto required = With(kDeviceMembers, {"account", "accounttype", "verifytype"});
    if (!safe) required.emplace_back("imgcode");
    auto body = CheckBody(req, true, required, &fail);
    if (!body) return fail;
    std::string verifytype = body->Value("verifytype");
    if (verifytype != "quicklogin" && verifytype != "bindaccount")
      return CodeAnswer(kCodeMalformed, "unknown verifytype");
    std::lock_guard lock(mu);
    if (safe && captchaRequired) return CodeAnswer(kCaptchaNeeded);
    if (!safe && !captchaOk(*body)) return CodeAnswer(kInvalidPictureCode);
    std::string target = body->Value("account");
    if (body->Has("usertoken")) {
      if (!UserByToken(body->Value("usertoken"))) return CodeAnswer(kCodeBadUser, "unknown user token");
      target = body->Value("bindaccount");
    }
    if (target.empty() || target.size() > 20) return CodeAnswer(kInvalidAccount);
    issueSms(target);
    return CodeAnswer(kCodeSuccess);
  };
  Route(s, "api", "POST", "/api/v4/smsverify", [sms](const httplib::Request& req) { return sms(req, false); });
  Route(s, "api", "POST", "/api/v4/safsmsverify", [sms](const httplib::Request& req) { return sms(req, true); });

  auto login = [this, captchaOk, signIn, userAnswer](const httplib::Request& req, bool safe) {
    Answer fail;
    auto required = With(kDeviceMembers, {"account", "accounttype", "showvip", "smscode"});
    if (!safe) required.emplace_back("imgcode");
    auto body = CheckBody(req, true, required, &fail);
    if (!body) return fail;
    std::lock_guard lock(mu);
    if (safe && captchaRequired) return CodeAnswer(kCaptchaNeeded);
    if (!safe && !captchaOk(*body)) return CodeAnswer(kInvalidPictureCode);
    std::string account = body->Value("account");
    auto it = smsCodes.find(account);
    if (it == smsCodes.end() || it->second != body->Value("smscode"))
      return CodeAnswer(safe ? kWrongVerifyCode : kWrongCodes);
    smsCodes.erase(it);
    if (!safe) captchas.erase(body->Value("deviceid"));
    return userAnswer(signIn(account, 1));
  };
  Route(s, "api", "POST", "/api/v4/loginquick", [login](const httplib::Request& req) { return login(req, false); });
  Route(s, "api", "POST", "/api/v4/safloginquick", [login](const httplib::Request& req) { return login(req, true); });

  Route(s, "api", "POST", "/api/v4/wechatguid", [this](const httplib::Request& req) {
    Answer fail;
    auto body = CheckBody(req, true, kDeviceMembers, &fail);
    if (!body) return fail;
    std::string tag = NewId("L", 24);
    {
      std::lock_guard lock(mu);
      loginTags[tag] = LoginTag{};
      loginTagOrder.push_back(tag);
    }
    Json::Value v(Json::objectValue);
    v["code"] = kCodeSuccess;
    v["logintag"] = tag;
    return JsonAnswer(v);
  });

  Route(s, "api", "POST", "/api/v4/wechatstate", [this, signIn, userAnswer](const httplib::Request& req) {
    Answer fail;
    auto body = CheckBody(req, true, With(kDeviceMembers, {"logintag", "showvip"}), &fail);
    if (!body) return fail;
    std::lock_guard lock(mu);
    auto it = loginTags.find(body->Value("logintag"));
    if (it == loginTags.end()) return CodeAnswer(kCodeUnknownLoginTag, "unknown logintag");
    if (!it->second.confirmed) return CodeAnswer(kCodeScanPending, "waiting for the scan");
    std::string name = it->second.username;
    if (name.empty()) name = "wx_" + it->first.substr(1, 8);
    // The scan itself names the account kind: a "qq_" user is a QQ sign-in.
    int type = name.rfind("qq_", 0) == 0 ? 4 : 3;
    std::string key = UserKeyForAccount(name);
    if (!key.empty() && !users[key].usertoken.empty()) return userAnswer(users[key]);  // repeated poll
    return userAnswer(signIn(name, type));
  });

  Route(s, "api", "POST", "/api/v4/memprofile", [this, userAnswer](const httplib::Request& req) {
    Answer fail;
    auto body = CheckBody(req, true, With(kDeviceMembers, {"account", "accounttype", "usertoken"}), &fail);
    if (!body) return fail;
    std::lock_guard lock(mu);
    auto user = UserByToken(body->Value("usertoken"));
    std::string account = body->Value("account");
    if (!user || (user->username != account && user->bindmobile != account))
      return CodeAnswer(kCodeBadUser, "unknown account or user token");
    return userAnswer(*user);
  });

  Route(s, "api", "POST", "/api/v4/virtualactbind", [this, captchaOk, userAnswer](const httplib::Request& req) {
    Answer fail;
    auto body = CheckBody(req, true, With(kDeviceMembers, {"accounttype", "bindaccount", "smscode", "usertoken"}), &fail);
    if (!body) return fail;
    std::lock_guard lock(mu);
    auto user = UserByToken(body->Value("usertoken"));
    if (!user) return CodeAnswer(kCodeBadUser, "unknown user token");
    if (body->Has("imgcode")) {
      if (!captchaOk(*body)) return CodeAnswer(kInvalidPictureCode);
    } else if (captchaRequired) {
      return CodeAnswer(kCaptchaNeeded);
    }
    std::string mobile = body->Value("bindaccount");
    auto it = smsCodes.find(mobile);
    if (mobile.empty() || it == smsCodes.end() || it->second != body->Value("smscode"))
      return CodeAnswer(kInvalidSmsCode);
    std::string other = UserKeyForAccount(mobile);
    if (!other.empty() && other != user->username) return CodeAnswer(19003, "mobile already bound");
    smsCodes.erase(it);
    User& u = users[user->username];
    u.bindmobile = mobile;
    return userAnswer(u);
  });
}

void Emulator::Impl::RegisterPages(httplib::Server& s) {
  auto confirm = [this](const std::string& tag, const std::string& username) {
    std::lock_guard lock(mu);
    auto it = loginTags.find(tag);
    if (it == loginTags.end()) return false;
    it->second.confirmed = true;
    it->second.username = username;
    return true;
  };
  auto page = [this](const std::string& tag, const char* what, const std::string& action) {
    bool known;
    {
      std::lock_guard lock(mu);
      known = loginTags.count(tag) > 0;
    }
    if (!known) {
      Answer a = Html("Unknown sign-in", "<p>This sign-in code is not known.</p>");
      a.status = 404;
      return a;
    }
    return Html(std::string("Quillora emulator: ") + what,
                "<p>Sign-in code <code>" + HtmlEscape(tag) + "</code></p><form method=\"post\" action=\"" +
                    HtmlEscape(action) + "\"><button id=\"confirm\" type=\"submit\" style=\"font-size:1.5em\">"
                    "Confirm sign-in</button></form>");
  };
  auto done = [](bool ok) {
    if (!ok) {
      Answer a = Html("Unknown sign-in", "<p>This sign-in code is not known.</p>");
      a.status = 404;
      return a;
    }
    return Html("Signed in", "<p>You can return to Quillora now.</p>");
  };

  // QQ: the authorisation page redirects here with the tag as "state".
  Route(s, "pages", "GET", "/scanlogin/qqlogin", [page](const httplib::Request& req) {
    std::string tag = req.get_param_value("state");
    return page(tag, "QQ sign-in", "/scanlogin/qqlogin/confirm?state=" + tag);
  });
  Route(s, "pages", "POST", "/scanlogin/qqlogin/confirm", [confirm, done](const httplib::Request& req) {
    std::string tag = req.get_param_value("state");
    return done(confirm(tag, "qq_" + tag.substr(std::min<size_t>(1, tag.size()), 8)));
  });
  Route(s, "pages", "GET", R"(/scanlogin/([A-Za-z0-9]+))", [page](const httplib::Request& req) {
    std::string tag = req.matches[1];
    return page(tag, "WeChat scan", "/scanlogin/" + tag + "/confirm");
  });
  Route(s, "pages", "POST", R"(/scanlogin/([A-Za-z0-9]+)/confirm)", [confirm, done](const httplib::Request& req) {
    return done(confirm(req.matches[1], std::string()));
  });
  Route(s, "pages", "GET", "/chat", [](const httplib::Request&) {
    return Html("Customer service", "<p>The emulator has no one to chat with.</p>");
  });
  RegisterFallback(s, "pages");
}

}  // namespace quillora::emulator
