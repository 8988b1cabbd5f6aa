// quillora-cli login / bind / whoami / logout through the real program,
// with the codes fed to its standard input as a script would.
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "cli/tests/cli_fixture.h"
#include "platform/tests/test_support.h"

namespace quillora::cli {
namespace {

using cli_testing::CliProgram;
using cli_testing::RunResult;
using testing_support::EventuallyTrue;

constexpr char kMobile[] = "13800138000";

class CliAccount : public CliProgram {
 protected:
  void TearDown() override { UserSession::Instance().SignOut(); }

  // Writes each code once the emulator has it, in the order the program asks.
  std::function<void(int)> Codes(std::vector<std::function<std::string()>> sources) {
    return [sources](int fd) {
      for (const auto& source : sources) {
        std::string code;
        if (!EventuallyTrue([&] { return !(code = source()).empty(); }, std::chrono::seconds(30))) return;
        code += "\n";
        if (::write(fd, code.data(), code.size()) != static_cast<ssize_t>(code.size())) return;
      }
    };
  }
  std::function<std::string()> Sms(const std::string& mobile) {
    return [this, mobile] { return emu_->LastSmsCode(mobile); };
  }
  std::function<std::string()> Captcha() {
    return [this] { return emu_->LastCaptchaAnswer(); };
  }

  static SessionData Saved() {
    UserSession::Instance().LoadSaved();
    return UserSession::Instance().Snapshot();
  }

  bool LoginEventWith(const std::string& method, const std::string& success) {
    for (const auto& e : emu_->StatsEvents()) {
      if (e.name == "AppLogin" && e.values.size() == 4 && e.values[0].second == method &&
          e.values[1].second == success)
        return true;
    }
    return false;
  }
};

TEST_F(CliAccount, SmsSignInInSafeModeIsSavedForTheMainProgramAndReported) {
  const RunResult r = Run({"login", "--sms", kMobile, "--code-from-stdin"}, Codes({Sms(kMobile)}));
  ASSERT_EQ(r.exitCode, 0) << r.err;
  EXPECT_NE(r.out.find("signed in as"), std::string::npos) << r.out;
  const SessionData s = Saved();
  EXPECT_EQ(s.account, kMobile);
  EXPECT_EQ(s.loginType, LoginType::Mobile);
  EXPECT_EQ(s.usertoken, emu_->FindUser(kMobile)->usertoken);
  EXPECT_TRUE(LoginEventWith("mobile", "1")) << "sent before the program ended";
  EXPECT_EQ(r.err.find(s.usertoken), std::string::npos);
  EXPECT_TRUE(emu_->StatsEvents().size() == 1) << "a tool sends no start events";

  // A translation afterwards carries the account and its token.
  const RunResult t = Run({"--from", "zh", "--to", "en", "--text", "你好"});
  ASSERT_EQ(t.exitCode, 0) << t.err;
  const auto par = emu_->Requests("/api/v4/uploadpar");
  ASSERT_EQ(par.size(), 1u);
  EXPECT_NE(par[0].body.find(std::string("\"account\":\"") + kMobile + "\""), std::string::npos);
  EXPECT_NE(par[0].body.find("\"usertoken\":\"" + s.usertoken + "\""), std::string::npos);
}

TEST_F(CliAccount, CaptchaModeAsksForThePictureCodeFirst) {
  emu_->SetCaptchaRequired(true);
  const RunResult r = Run({"login", "--sms", kMobile, "--code-from-stdin"}, Codes({Captcha(), Sms(kMobile)}));
  ASSERT_EQ(r.exitCode, 0) << r.err;
  EXPECT_NE(r.err.find("Brenvoke_VerifyCode_1.jpg"), std::string::npos) << r.err;
  EXPECT_TRUE(std::filesystem::exists(dir_ + "tmp/Brenvoke_VerifyCode_1.jpg"));
  EXPECT_EQ(emu_->Requests("/api/v4/loginquick").size(), 1u);
  EXPECT_EQ(Saved().account, kMobile);
}

TEST_F(CliAccount, AWrongCodeFailsWithTheServicesReason) {
  const RunResult r = Run({"login", "--sms", kMobile, "--code-from-stdin"}, [](int fd) {
    (void)!::write(fd, "000001\n", 7);
  });
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_NE(r.err.find("验证码错误"), std::string::npos) << r.err;
  EXPECT_FALSE(Saved().loginType != LoginType::SignedOut);
  EXPECT_TRUE(EventuallyTrue([&] { return LoginEventWith("mobile", "0"); }));
}

TEST_F(CliAccount, BindWhoamiAndLogout) {
  emulator::User u;
  u.username = "wx_carol";
  u.usertoken = "Tcarol";
  u.accounttype = 3;
  u.vip = true;
  emu_->AddUser(u);
  UserSession::Instance().SetSignIn("wx_carol", "Tcarol", LoginType::WeChat);
  ASSERT_TRUE(UserSession::Instance().Save());

  const RunResult b = Run({"bind", kMobile, "--code-from-stdin"}, Codes({Sms(kMobile)}));
  ASSERT_EQ(b.exitCode, 0) << b.err;
  EXPECT_EQ(emu_->FindUser("wx_carol")->bindmobile, kMobile);

  const RunResult w = Run({"whoami", "--json"});
  ASSERT_EQ(w.exitCode, 0) << w.err;
  const Json::Value v = ParseJson(w.out);
  EXPECT_EQ(v["account"].asString(), "wx_carol");
  EXPECT_EQ(v["bindMobile"].asString(), kMobile);
  EXPECT_EQ(v["loginType"].asString(), "wechat");
  EXPECT_TRUE(v["vip"].asBool());
  EXPECT_FALSE(v.isMember("usertoken"));

  ASSERT_EQ(Run({"logout"}).exitCode, 0);
  EXPECT_EQ(Saved().loginType, LoginType::SignedOut);
  const RunResult after = Run({"whoami"});
  EXPECT_EQ(after.exitCode, 1);
  EXPECT_NE(after.err.find("not signed in"), std::string::npos);
}

TEST_F(CliAccount, WeChatSignInConfirmedAtTheScanPage) {
  std::atomic<bool> stop{false};
  std::thread scanner([&] {
    EventuallyTrue([&] { return stop || !emu_->IssuedLoginTags().empty(); }, std::chrono::seconds(30));
    if (!emu_->IssuedLoginTags().empty()) emu_->ConfirmScan(emu_->IssuedLoginTags().front(), "wx_dave");
  });
  const RunResult r = Run({"login", "--wechat", "--no-browser", "--wait", "30"});
  stop = true;
  scanner.join();
  ASSERT_EQ(r.exitCode, 0) << r.err;
  EXPECT_NE(r.err.find(emu_->PageBase() + "/scanlogin/L"), std::string::npos) << r.err;
  EXPECT_EQ(Saved().account, "wx_dave");
  EXPECT_EQ(Saved().loginType, LoginType::WeChat);
  EXPECT_TRUE(LoginEventWith("weixin", "1"));
}

TEST_F(CliAccount, AnUnconfirmedBrowserSignInEndsWhenItsTimeIsUp) {
  const RunResult r = Run({"login", "--qq", "--no-browser", "--wait", "2"});
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_NE(r.err.find("/oauth2.0/show?which=Login"), std::string::npos) << r.err;
  EXPECT_NE(r.err.find("not confirmed in time"), std::string::npos) << r.err;
}

TEST_F(CliAccount, UsageErrors) {
  EXPECT_EQ(Run({"login"}).exitCode, 2);
  EXPECT_EQ(Run({"login", "--sms", "not-a-number!"}).exitCode, 2);
  // Codes cannot be asked without a terminal unless the flag says so.
  EXPECT_EQ(Run({"login", "--sms", kMobile}).exitCode, 2);
  EXPECT_EQ(Run({"bind"}).exitCode, 2);
  EXPECT_EQ(Run({"whoami", "extra"}).exitCode, 2);
}

}  // namespace
}  // namespace quillora::cli
