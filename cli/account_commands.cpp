#include "cli/account_commands.h"

#include <unistd.h>

#include <json/value.h>
#include <json/writer.h>

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <deque>
#include <iostream>
#include <mutex>
#include <thread>

#include "account/account_error_text.h"
#include "account/account_service.h"
#include "app/config/app_config.h"
#include "platform/shell.h"
#include "service/transport/remote_services.h"

namespace quillora::cli {
namespace {

constexpr char kProgramName[] = "quillora-cli";
constexpr int kExitFailed = 1;
constexpr int kExitUsage = 2;
// Longer than any request's own time-outs: an answer always comes first.
constexpr auto kAnswerWait = std::chrono::seconds(30);

using account_kind::kBind;
using account_kind::kBrowserState;
using account_kind::kCaptcha;
using account_kind::kProfile;
using account_kind::kSafeSignIn;
using account_kind::kSafeSms;
using account_kind::kSignInWithCaptcha;
using account_kind::kSmsWithCaptcha;

// The command line's stand-in for the login window: it keeps what the
// answers asked the window to do, and hands the answers to the main thread.
class Conversation : public LoginWindowLink {
 public:
  explicit Conversation(AccountService& service) : service_(service) {
    service_.SetAnswerObserver([this](const AnswerReport& r) {
      {
        std::lock_guard lock(mutex_);
        answers_.push_back(r);
      }
      changed_.notify_all();
    });
    service_.SetLoginWindow(this);
  }
  ~Conversation() override {
    service_.SetLoginWindow(nullptr);
    service_.SetAnswerObserver(nullptr);
  }

  void StartPolling(BrowserSignIn, const std::string& tag) override { Update([&] { tag_ = tag; }); }
  void ShowError(ErrorArea, const std::string& text) override { Update([&] { error_ = text; }); }
  void EnterCaptchaMode() override { Update([&] { captchaAsked_ = true; }); }
  void StopSmsCountdown() override {}
  void StopPollTimers() override {}
  void SetCaptchaPicture(int, const std::string& path) override { Update([&] { picture_ = path; }); }
  void CloseWithCode(int code) override { Update([&] { closeCode_ = code; }); }

  // The next answer of `kind`; nothing when none came in time.
  std::optional<AnswerReport> Await(std::int32_t kind, std::chrono::milliseconds wait = kAnswerWait) {
    std::unique_lock lock(mutex_);
    std::optional<AnswerReport> found;
    changed_.wait_for(lock, wait, [&] {
      for (auto it = answers_.begin(); it != answers_.end(); ++it) {
        if (it->kind == kind) {
          found = *it;
          answers_.erase(it);
          return true;
        }
      }
      return false;
    });
    return found;
  }

  // The error text as the login window would show it.
  std::string TakeError() {
    std::lock_guard lock(mutex_);
    std::string text = error_ == kMissingParameterText ? kCheckInputText : error_;
    error_.clear();
    return text;
  }
  bool TakeCaptchaAsked() { return Take(captchaAsked_, false); }
  std::string TakePicture() { return Take(picture_, std::string()); }
  std::string Tag() {
    std::lock_guard lock(mutex_);
    return tag_;
  }
  int CloseCode() {
    std::lock_guard lock(mutex_);
    return closeCode_;
  }

 private:
  template <class F>
  void Update(F change) {
    {
      std::lock_guard lock(mutex_);
      change();
    }
    changed_.notify_all();
  }
  template <class T>
  T Take(T& field, T empty) {
    std::lock_guard lock(mutex_);
    T value = std::move(field);
    field = std::move(empty);
    return value;
  }

  AccountService& service_;
  std::mutex mutex_;
  std::condition_variable changed_;
  std::deque<AnswerReport> answers_;
  std::string tag_;
  std::string error_;
  std::string picture_;
  bool captchaAsked_ = false;
  int closeCode_ = 0;
};

// Ends a command with its reason.
struct Failure {
  std::string reason;
};

const char* LoginTypeName(LoginType type) {
  switch (type) {
    case LoginType::Mobile: return "mobile";
    case LoginType::QQ: return "qq";
    case LoginType::WeChat: return "wechat";
    case LoginType::Other: return "other";
    case LoginType::SignedOut: break;
  }
  return "signed out";
}

class AccountRunner {
 public:
  AccountRunner(const AccountCommand& command, AccountService& service)
      : command_(command), service_(service), conversation_(service) {}

  int Run() {
    try {
      switch (command_.verb) {
        case AccountCommand::Verb::kLogin:
          command_.method == AccountCommand::Method::kSms ? SmsSignIn() : BrowserSignIn();
          break;
        case AccountCommand::Verb::kBind: Bind(); break;
        case AccountCommand::Verb::kWhoami: return Whoami();
        case AccountCommand::Verb::kLogout:
          service_.Session().SignOut();
          Print("signed out");
          return 0;
      }
    } catch (const Failure& f) {
      FinishStatistics();
      return Fail(f.reason);
    }
    FinishStatistics();
    Print("signed in as " + service_.Session().GetDisplayName() + " (" +
          LoginTypeName(service_.Session().GetLoginType()) + ")");
    return 0;
  }

 private:
  // ---- the SMS road, with a picture captcha when the service asks ----

  void SmsSignIn() {
    const bool safe = SendSmsCode("quicklogin", 1, "", "");
    const std::string sms = ReadCode("SMS code");
    if (safe) {
      service_.MobileSignInSafe(command_.mobile, sms);
      Expect(kSafeSignIn);
      if (Closed()) return;
      if (!conversation_.TakeCaptchaAsked()) throw Failure{conversation_.TakeError()};
      conversation_.TakeError();
      pictureCode_ = AskPictureCode(1);
    }
    service_.MobileSignIn(command_.mobile, sms, pictureCode_);
    Expect(kSignInWithCaptcha);
    if (!Closed()) throw Failure{conversation_.TakeError()};
  }

  void Bind() {
    RequireSignIn();
    const std::string token = service_.Session().GetUserToken();
    SendSmsCode("bindaccount", 5, command_.mobile, token);
    service_.BindMobile(command_.mobile, ReadCode("SMS code"), pictureCode_);
    const AnswerReport bind = Expect(kBind);
    if (bind.code != 10000) throw Failure{BindError(bind)};
    Expect(kProfile);
    if (conversation_.CloseCode() != kLogonClosedBound) throw Failure{"the service did not confirm the new profile"};
  }

  std::string BindError(const AnswerReport& r) {
    if (r.code == 28001 || r.code == 28002) return "the service asks for a picture captcha; run bind again";
    return conversation_.TakeError();
  }

  // Sends the SMS code, first without a captcha, then with one when the
  // service asks for it. Returns whether the safe form went through.
  bool SendSmsCode(const std::string& verifyType, std::int32_t userValue, const std::string& bindAccount,
                   const std::string& token) {
    SmsCodeRequest r{command_.mobile, "", verifyType, true, userValue, bindAccount, token};
    service_.SendSmsCode(r);
    const AnswerReport safe = Expect(kSafeSms);
    if (safe.code == 10000) return true;
    if (!conversation_.TakeCaptchaAsked()) throw Failure{conversation_.TakeError()};
    conversation_.TakeError();
    r.safe = false;
    r.pictureCode = pictureCode_ = AskPictureCode(userValue == 1 ? 1 : 4);
    service_.SendSmsCode(r);
    if (Expect(kSmsWithCaptcha).code != 10000) throw Failure{conversation_.TakeError()};
    return false;
  }

  std::string AskPictureCode(std::int32_t userValue) {
    service_.RequestCaptcha(90, 54, userValue);
    Expect(kCaptcha);
    const std::string picture = conversation_.TakePicture();
    if (picture.empty()) throw Failure{"the service sent no captcha picture"};
    std::fprintf(stderr, "%s: the service asks for a picture captcha: %s\n", kProgramName, picture.c_str());
    return ReadCode("picture code");
  }

  // ---- WeChat and QQ pages ----

  void BrowserSignIn() {
    const bool weChat = command_.method == AccountCommand::Method::kWeChat;
    weChat ? service_.RequestWeChatTag() : service_.RequestQQTag();
    weChat ? service_.RequestWeChatPage() : service_.RequestQQPage();
    Expect(weChat ? account_kind::kWeChatTag : account_kind::kQQTag);
    const std::string tag = conversation_.Tag();
    if (tag.empty()) throw Failure{"the service gave no sign-in code"};
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(command_.pollSeconds);
    while (std::chrono::steady_clock::now() < deadline) {
      weChat ? service_.PollWeChatState(tag) : service_.PollQQState(tag);
      conversation_.Await(kBrowserState);
      if (Closed()) return;
      std::this_thread::sleep_for(std::chrono::seconds(1));
    }
    throw Failure{"the sign-in was not confirmed in time"};
  }

  // ---- profile ----

  void RequireSignIn() {
    if (!service_.Session().IsSignedIn()) throw Failure{"not signed in (quillora-cli login)"};
  }

  int Whoami() {
    try {
      RequireSignIn();
      const SessionData before = service_.Session().Snapshot();
      service_.RefreshProfile(before.account, before.usertoken, 2);
      const AnswerReport r = Expect(kProfile);
      if (r.code != 10000) {
        throw Failure{service_.Session().IsSignedIn() ? "the service sent no profile"
                                                      : "the service no longer accepts this sign-in; signed out"};
      }
      vip_ = r.vip;
    } catch (const Failure& f) {
      return Fail(f.reason);
    }
    const SessionData s = service_.Session().Snapshot();
    if (command_.json) {
      Json::Value root(Json::objectValue);
      root["ok"] = true;
      root["account"] = s.account;
      root["name"] = service_.Session().GetDisplayName();
      root["loginType"] = LoginTypeName(s.loginType);
      root["bindMobile"] = s.bindmobile;
      root["vip"] = vip_;
      WriteJson(root);
    } else {
      std::cout << "account: " << s.account << "\nname: " << service_.Session().GetDisplayName()
                << "\nlogin: " << LoginTypeName(s.loginType) << "\nmobile: " << s.bindmobile
                << "\nvip: " << (vip_ ? "yes" : "no") << "\n";
    }
    return 0;
  }

  // ---- helpers ----

  AnswerReport Expect(std::int32_t kind) {
    const std::optional<AnswerReport> r = conversation_.Await(kind);
    if (!r || !r->arrived) throw Failure{"no answer from the service"};
    return *r;
  }

  bool Closed() { return conversation_.CloseCode() == kLogonClosedSignedIn; }

  std::string ReadCode(const char* what) {
    std::fprintf(stderr, "%s: %s: ", kProgramName, what);
    std::fflush(stderr);
    std::string line;
    if (!std::getline(std::cin, line)) throw Failure{std::string("no ") + what + " given"};
    while (!line.empty() && (line.back() == '\r' || line.back() == ' ')) line.pop_back();
    return line;
  }

  // The sign-in events must leave before the process ends.
  void FinishStatistics() {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(25);
    while (service_.StatisticsInFlight() && std::chrono::steady_clock::now() < deadline) {
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
  }

  int Fail(const std::string& reason) {
    if (command_.json) {
      Json::Value root(Json::objectValue);
      root["ok"] = false;
      root["error"] = reason;
      WriteJson(root);
    }
    std::fprintf(stderr, "%s: %s\n", kProgramName, reason.c_str());
    return kExitFailed;
  }

  void Print(const std::string& text) {
    if (command_.json) {
      Json::Value root(Json::objectValue);
      root["ok"] = true;
      root["message"] = text;
      WriteJson(root);
    } else {
      std::cout << text << "\n";
    }
  }

  static void WriteJson(const Json::Value& root) {
    Json::StreamWriterBuilder builder;
    builder["indentation"] = "  ";
    builder["emitUTF8"] = true;
    std::cout << Json::writeString(builder, root) << "\n";
  }

  const AccountCommand& command_;
  AccountService& service_;
  Conversation conversation_;
  std::string pictureCode_;
  bool vip_ = false;
};

bool IsMobileText(const std::string& s) {
  if (s.empty() || s.size() > 20) return false;
  for (char c : s) {
    if (!((c >= '0' && c <= '9') || c == '-' || c == '+')) return false;
  }
  return true;
}

}  // namespace

bool IsAccountCommand(const std::vector<std::string>& args) {
  if (args.empty()) return false;
  return args[0] == "login" || args[0] == "bind" || args[0] == "whoami" || args[0] == "logout";
}

std::string AccountUsageText() {
  return "Usage:\n"
         "  quillora-cli login --sms MOBILE [--code-from-stdin]\n"
         "  quillora-cli login --wechat|--qq [--no-browser] [--wait SECONDS]\n"
         "  quillora-cli bind MOBILE [--code-from-stdin]\n"
         "  quillora-cli whoami [--json]\n"
         "  quillora-cli logout\n"
         "\n"
         "Signs in to the translation service the way the main program does and\n"
         "saves the sign-in where the main program finds it. Codes (the SMS code, and\n"
         "a picture code when the service shows a captcha: its picture is saved to a\n"
         "file whose path is printed) are asked on the terminal; with --code-from-stdin\n"
         "they are read from standard input, one line each, picture code first.\n"
         "WeChat and QQ sign-ins open the sign-in page in the browser (--no-browser\n"
         "only prints its address) and wait until it is confirmed (default 100 s).\n"
         "\n"
         "Exit status: 0 done, 1 refused or failed, 2 usage error.\n";
}

std::optional<AccountCommand> ParseAccountCommand(const std::vector<std::string>& args, std::string& error) {
  AccountCommand c;
  const std::string& verb = args.at(0);
  c.verb = verb == "login" ? AccountCommand::Verb::kLogin
           : verb == "bind" ? AccountCommand::Verb::kBind
           : verb == "logout" ? AccountCommand::Verb::kLogout
                              : AccountCommand::Verb::kWhoami;
  bool methodGiven = false;
  for (size_t i = 1; i < args.size(); ++i) {
    const std::string& a = args[i];
    auto next = [&]() -> std::optional<std::string> {
      if (i + 1 < args.size()) return args[++i];
      error = "option " + a + " needs a value";
      return std::nullopt;
    };
    if (a == "--help" || a == "-h") {
      c.help = true;
    } else if (a == "--json") {
      c.json = true;
    } else if (a == "--code-from-stdin") {
      c.codeFromStdin = true;
    } else if (a == "--no-browser") {
      c.noBrowser = true;
    } else if (a == "--wait") {
      const auto v = next();
      if (!v) return std::nullopt;
      char* end = nullptr;
      const long seconds = std::strtol(v->c_str(), &end, 10);
      if (end == v->c_str() || *end != '\0' || seconds < 1 || seconds > 3600) {
        error = "--wait takes a number of seconds from 1 to 3600";
        return std::nullopt;
      }
      c.pollSeconds = static_cast<int>(seconds);
    } else if (c.verb == AccountCommand::Verb::kLogin && (a == "--sms" || a == "--wechat" || a == "--qq")) {
      if (methodGiven) {
        error = "give one of --sms, --wechat and --qq";
        return std::nullopt;
      }
      methodGiven = true;
      c.method = a == "--sms" ? AccountCommand::Method::kSms
                 : a == "--qq" ? AccountCommand::Method::kQQ
                               : AccountCommand::Method::kWeChat;
      if (a == "--sms") {
        const auto v = next();
        if (!v) return std::nullopt;
        c.mobile = *v;
      }
    } else if (c.verb == AccountCommand::Verb::kBind && c.mobile.empty() && !a.empty() && a[0] != '-') {
      c.mobile = a;
    } else {
      error = "unknown argument " + a + " for " + verb;
      return std::nullopt;
    }
  }
  if (c.help) return c;
  if (c.verb == AccountCommand::Verb::kLogin && !methodGiven) {
    error = "login needs --sms MOBILE, --wechat or --qq";
    return std::nullopt;
  }
  const bool needsMobile = c.verb == AccountCommand::Verb::kBind ||
                           (c.verb == AccountCommand::Verb::kLogin && c.method == AccountCommand::Method::kSms);
  if (needsMobile && !IsMobileText(c.mobile)) {
    error = "\"" + c.mobile + "\" is not a mobile number";
    return std::nullopt;
  }
  if (needsMobile && !c.codeFromStdin && ::isatty(STDIN_FILENO) == 0) {
    error = "codes are asked on a terminal; give --code-from-stdin to read them from standard input";
    return std::nullopt;
  }
  return c;
}

int RunAccountCommand(const AccountCommand& command) {
  if (command.help) {
    std::cout << AccountUsageText();
    return 0;
  }
  // A tool, not a start of the program: no first run, no start events.
  AppConfig::LeaveFirstRunToTheProgram();
  AccountService::SetSendsStartEvents(false);
  AppConfig& config = AppConfig::Instance();
  ConfigureRemoteServices(config.GetServiceSettings());
  AccountServiceOptions options = AccountService::DefaultOptions();
  options.openUrl = [&command](const std::string& url) {
    std::fprintf(stderr, "%s: sign-in page: %s\n", kProgramName, url.c_str());
    if (!command.noBrowser) platform::OpenWithDesktop(url);
  };
  // Kept for the life of the process: answers may still be on their way when
  // main ends.
  static AccountService* const service = new AccountService(std::move(options));
  return AccountRunner(command, *service).Run();
}

}  // namespace quillora::cli
