// The sign-in flows through the real client against the emulator: answers
// applied to the session and its saved record, effects on the windows, and
// the statistics the flows send.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include "account/tests/account_test_support.h"
#include "account/user_profile.h"

namespace quillora {
namespace {

using account_kind::kBind;
using account_kind::kBrowserState;
using account_kind::kCaptcha;
using account_kind::kProfile;
using account_kind::kSafeSignIn;
using account_kind::kSafeSms;
using account_kind::kSignInWithCaptcha;
using account_kind::kSmsWithCaptcha;
using account_kind::kWeChatTag;
using Values = std::vector<std::pair<std::string, std::string>>;

constexpr char kMobile[] = "13800138000";

class AccountFlows : public testing_support::AccountFixture {
 protected:
  SmsCodeRequest SignInSms(bool safe, const std::string& picture = "") {
    return {kMobile, picture, "quicklogin", safe, 1, "", ""};
  }

  // Binds kMobile to the signed-in account with the SMS code the service sent.
  void BindTheMobile(const std::string& token) {
    service_->SendSmsCode({kMobile, "", "bindaccount", true, 5, kMobile, token});
    ASSERT_EQ(WaitForAnswer(kSafeSms)->code, 10000);
    service_->BindMobile(kMobile, emu_->LastSmsCode(kMobile), "");
    ASSERT_EQ(WaitForAnswer(kBind)->code, 10000);
  }

  // The last login event the emulator recorded.
  Values LastLoginEvent(size_t expectedEvents) {
    EXPECT_TRUE(WaitForStatsEvents(expectedEvents));
    const auto events = emu_->StatsEvents();
    for (auto it = events.rbegin(); it != events.rend(); ++it) {
      if (it->name == "AppLogin") return it->values;
    }
    return {};
  }

  // Polls the way the window's timer does, until the window is closed.
  bool PollUntilClosed(const std::function<void()>& poll) {
    for (int i = 0; i < 100; ++i) {
      poll();
      if (window_.log.WaitFor("close 12343", std::chrono::milliseconds(300))) return true;
    }
    return false;
  }

  static Values Login(const char* method, const char* success, const char* reason) {
    return {{"loginMethod", method}, {"isSuccess", success}, {"failReason", reason}, {"isVip", "0"}};
  }
};

TEST_F(AccountFlows, SafeSmsSignInFillsAndSavesTheSessionAndClosesTheWindow) {
  service_->SendSmsCode(SignInSms(true));
  ASSERT_EQ(WaitForAnswer(kSafeSms)->code, 10000);
  service_->MobileSignInSafe(kMobile, emu_->LastSmsCode(kMobile));
  ASSERT_TRUE(window_.log.WaitFor("stop polls"));
  ASSERT_TRUE(window_.log.WaitFor("close 12343"));
  const SessionData s = session_.Snapshot();
  EXPECT_EQ(s.account, kMobile);
  EXPECT_EQ(s.loginType, LoginType::Mobile);
  EXPECT_EQ(s.usertoken, emu_->FindUser(kMobile)->usertoken);
  EXPECT_EQ(s.bindmobile, kMobile);
  EXPECT_NE(s.uid, "0");
  const SessionData saved = Reloaded();
  EXPECT_EQ(saved.account, kMobile);
  EXPECT_EQ(saved.usertoken, s.usertoken);
  EXPECT_EQ(saved.loginType, LoginType::Mobile);
  EXPECT_EQ(LastLoginEvent(1), Login("mobile", "1", "0"));
}

TEST_F(AccountFlows, CaptchaModeWhenTheServiceAsksThenSignInWithThePictureCode) {
  emu_->SetCaptchaRequired(true);
  service_->SendSmsCode(SignInSms(true));
  ASSERT_EQ(WaitForAnswer(kSafeSms)->code, 28001);
  ASSERT_TRUE(window_.log.WaitFor("captcha mode"));
  ASSERT_TRUE(window_.log.WaitFor("error signin"));
  ASSERT_TRUE(window_.log.WaitFor("stop sms"));

  service_->RequestCaptcha(90, 54, 1);
  const auto picture = window_.log.WaitFor("picture 1 ");
  ASSERT_TRUE(picture);
  const std::string path = picture->substr(10);
  EXPECT_EQ(path, tempFolder_ + "Brenvoke_VerifyCode_1.jpg");
  std::ifstream file(path, std::ios::binary);
  std::string magic(4, '\0');
  file.read(magic.data(), 4);
  EXPECT_EQ(magic, "\x89PNG");

  const std::string answer = emu_->LastCaptchaAnswer();
  service_->SendSmsCode(SignInSms(false, answer));
  ASSERT_EQ(WaitForAnswer(kSmsWithCaptcha)->code, 10000);
  service_->MobileSignIn(kMobile, emu_->LastSmsCode(kMobile), answer);
  ASSERT_TRUE(window_.log.WaitFor("close 12343"));
  EXPECT_TRUE(session_.IsSignedIn());
}

TEST_F(AccountFlows, WrongSmsCodeShowsItsTextAndReportsTheFailure) {
  service_->SendSmsCode(SignInSms(true));
  ASSERT_TRUE(WaitForAnswer(kSafeSms));
  const std::string right = emu_->LastSmsCode(kMobile);
  service_->MobileSignInSafe(kMobile, right == "000000" ? "111111" : "000000");
  ASSERT_EQ(WaitForAnswer(kSafeSignIn)->code, 19313);
  EXPECT_TRUE(window_.log.WaitFor("error signin 验证码错误"));
  EXPECT_FALSE(session_.IsSignedIn());
  // The statistics carry the table's text, before the window's wording.
  EXPECT_EQ(LastLoginEvent(1), Login("mobile", "0", "缺少参数"));
}

TEST_F(AccountFlows, WeChatPageOpensWhenClickAndTagAreBothThereThenTheScanSignsIn) {
  service_->RequestWeChatPage();  // click before the tag: only remembered
  service_->RequestWeChatPage();
  EXPECT_TRUE(OpenedUrls().empty());
  service_->RequestWeChatTag();
  const auto poll = window_.log.WaitFor("poll wechat ");
  ASSERT_TRUE(poll);
  const std::string tag = poll->substr(12);
  ASSERT_EQ(OpenedUrls(), std::vector<std::string>{emu_->PageBase() + "/scanlogin/" + tag});
  service_->RequestWeChatPage();  // the tag was used up: nothing opens again
  EXPECT_EQ(OpenedUrls().size(), 1u);

  service_->PollWeChatState(tag);
  EXPECT_EQ(WaitForAnswer(kBrowserState)->code, 41000);
  EXPECT_TRUE(session_.Snapshot().account.empty()) << "not confirmed yet";
  ASSERT_TRUE(emu_->ConfirmScan(tag));
  ASSERT_TRUE(PollUntilClosed([&] { service_->PollWeChatState(tag); }));
  EXPECT_EQ(session_.GetLoginType(), LoginType::WeChat);
  EXPECT_EQ(Reloaded().loginType, LoginType::WeChat);
  EXPECT_EQ(LastLoginEvent(1), Login("weixin", "1", "0"));
}

TEST_F(AccountFlows, QQPageAddressEndsWithTheServicesReturnPageAndTheTag) {
  service_->RequestQQTag();
  ASSERT_TRUE(WaitForAnswer(account_kind::kQQTag));
  service_->RequestQQPage();
  const auto poll = window_.log.WaitFor("poll qq ");
  ASSERT_TRUE(poll);
  const std::string tag = poll->substr(8);
  const auto urls = OpenedUrls();
  ASSERT_EQ(urls.size(), 1u);
  EXPECT_EQ(urls[0], emu_->PageBase() + "/oauth2.0/show?which=Login&display=pc&client_id=101935172"
                                        "&response_type=token&scope=all&redirect_uri=" +
                         emu_->PageBase() + "/scanlogin/qqlogin?state=" + tag);
  ASSERT_TRUE(emu_->ConfirmScan(tag, "qq_" + tag.substr(1, 8)));
  ASSERT_TRUE(PollUntilClosed([&] { service_->PollQQState(tag); }));
  EXPECT_EQ(session_.GetLoginType(), LoginType::QQ);
}

TEST_F(AccountFlows, AnAnswerAfterTheWindowClosedStillSignsInButTouchesNoWindow) {
  service_->RequestWeChatTag();
  ASSERT_TRUE(WaitForAnswer(kWeChatTag));
  const std::string tag = emu_->IssuedLoginTags().back();
  ASSERT_TRUE(emu_->ConfirmScan(tag));
  service_->SetLoginWindow(nullptr);
  const size_t linesBefore = window_.log.Lines().size();
  service_->PollWeChatState(tag);
  ASSERT_EQ(WaitForAnswer(kBrowserState)->code, 10000);
  EXPECT_TRUE(session_.IsSignedIn());
  EXPECT_EQ(window_.log.Lines().size(), linesBefore);
  EXPECT_EQ(LastLoginEvent(1), Login("weixin", "1", "0"));
}

TEST_F(AccountFlows, BindingAMobileRefreshesTheProfileAndClosesWithTheBindCode) {
  SignedInByWeChat("wx_alice", "Twx", 77);
  BindTheMobile("Twx");
  ASSERT_EQ(WaitForAnswer(kProfile)->code, 10000);
  ASSERT_TRUE(window_.log.WaitFor("close 24345"));
  const SessionData s = session_.Snapshot();
  EXPECT_EQ(s.bindmobile, kMobile);
  EXPECT_EQ(s.loginType, LoginType::WeChat) << "accounttype 3 of the profile wins over the default";
  const auto profile = emu_->Requests("/api/v4/memprofile").back();
  EXPECT_NE(profile.body.find(std::string("\"account\":\"") + kMobile + "\""), std::string::npos);
}

TEST_F(AccountFlows, ABindFinishingWhileTheStartUpRefreshIsOutStillClosesTheWindow) {
  SignedInByWeChat("wx_bob", "Twb", 78);
  emulator::Fault slow;  // keeps the start-up refresh out while the bind runs
  slow.path = "/api/v4/memprofile";
  slow.kind = emulator::Fault::Kind::kNone;
  slow.delay = std::chrono::seconds(4);
  slow.count = 1;
  emu_->SetFault(slow);
  service_->CheckSignInAtStart();
  ASSERT_TRUE(emu_->WaitForRequests("/api/v4/memprofile", 1, std::chrono::seconds(10)));

  BindTheMobile("Twb");
  EXPECT_TRUE(window_.log.WaitFor("close 24345")) << "the refresh after the bind was lost";
  EXPECT_EQ(session_.Snapshot().bindmobile, kMobile);
  EXPECT_EQ(emu_->Requests("/api/v4/memprofile").size(), 2u);
}

TEST_F(AccountFlows, BindErrorsAndCaptchaRequestsReachTheBindArea) {
  session_.SetSignIn("nobody", "Tunknown", LoginType::WeChat);
  service_->BindMobile(kMobile, "000000", "");
  ASSERT_TRUE(WaitForAnswer(kBind));
  EXPECT_TRUE(window_.log.WaitFor("error bind 缺少参数"));
  emulator::User u;
  u.username = "wx_bob";
  u.usertoken = "Tbob";
  emu_->AddUser(u);
  session_.SetSignIn("wx_bob", "Tbob", LoginType::WeChat);
  emu_->SetCaptchaRequired(true);
  MakeService();  // the bind slot may still be finishing the first answer
  service_->BindMobile(kMobile, "000000", "");
  ASSERT_EQ(WaitForAnswer(kBind)->code, 28001);
  EXPECT_TRUE(window_.log.WaitFor("captcha mode"));
}

TEST_F(AccountFlows, AFirstRunSendsInstallThenStartALaterRunStartOnly) {
  MakeService(/*firstRun=*/true, /*sendStartEvents=*/true);
  ASSERT_TRUE(WaitForStatsEvents(2));
  MakeService(/*firstRun=*/false, /*sendStartEvents=*/true);
  ASSERT_TRUE(WaitForStatsEvents(3));
  std::vector<std::string> names;
  for (const auto& e : emu_->StatsEvents()) {
    names.push_back(e.name);
    EXPECT_TRUE(e.signValid);
    EXPECT_EQ(e.request.Header("screen_width"), "1920");
    EXPECT_EQ(e.request.Header("os_version"), "10");
  }
  EXPECT_EQ(names, (std::vector<std::string>{"AppInstall", "AppStart", "AppStart"}));
}

class StartUpRefresh : public AccountFlows {
 protected:
  void SignInSaved() {
    emulator::User u;
    u.username = "alice";
    u.usertoken = "Talice";
    u.accounttype = 1;
    emu_->AddUser(u);
    session_.SetSignIn("alice", "Talice", LoginType::QQ);
    session_.Save();
  }
};

TEST_F(StartUpRefresh, AcceptedProfileKeepsTheTypeAndReportsTheSignIn) {
  SignInSaved();
  service_->SetMainWindow(&main_);
  service_->CheckSignInAtStart();
  ASSERT_EQ(WaitForAnswer(kProfile)->code, 10000);
  EXPECT_TRUE(main_.log.WaitFor("refresh"));
  EXPECT_EQ(session_.GetLoginType(), LoginType::Mobile) << "accounttype 1";
  EXPECT_EQ(LastLoginEvent(1), Login("mobile", "1", "0"));
  // The avatar is fetched for the main window, which is told again.
  EXPECT_TRUE(main_.log.WaitFor("refresh"));
  EXPECT_TRUE(std::filesystem::exists(AvatarFilePath(tempFolder_, "Talice")));
  service_->SetMainWindow(nullptr);
}

TEST_F(StartUpRefresh, RejectedTokenSignsOutAndRewritesTheSavedRecord) {
  SignInSaved();
  session_.SetSignIn("alice", "Tstale", LoginType::QQ);
  session_.Save();
  service_->CheckSignInAtStart();
  ASSERT_EQ(WaitForAnswer(kProfile)->code, 40301);
  EXPECT_FALSE(session_.IsSignedIn());
  const SessionData saved = Reloaded();
  EXPECT_EQ(saved.loginType, LoginType::SignedOut);
  EXPECT_EQ(saved.usertoken, "");
}

TEST_F(StartUpRefresh, NoAnswerOrAnUnreadableOneKeepsTheUserSignedIn) {
  SignInSaved();
  for (auto kind : {emulator::Fault::Kind::kDrop, emulator::Fault::Kind::kMalformed,
                    emulator::Fault::Kind::kTruncated}) {
    emulator::Fault f;
    f.path = "/api/v4/memprofile";
    f.kind = kind;
    f.count = 1;
    emu_->SetFault(f);
    // A slot stays busy until its answer has been handled: a fresh service
    // per round, like a fresh start.
    MakeService();
    service_->CheckSignInAtStart();
    const auto report = WaitForAnswer(kProfile);
    ASSERT_TRUE(report) << static_cast<int>(kind);
    EXPECT_TRUE(session_.IsSignedIn()) << static_cast<int>(kind);
    EXPECT_EQ(Reloaded().usertoken, "Talice");
  }
}

TEST_F(StartUpRefresh, AFailedAvatarDownloadLeavesNoFileBehind) {
  SignInSaved();
  emulator::Fault f;
  f.path = "/avatar/*";
  f.kind = emulator::Fault::Kind::kTruncated;
  emu_->SetFault(f);
  service_->SetMainWindow(&main_);
  service_->CheckSignInAtStart();
  ASSERT_TRUE(main_.log.WaitFor("refresh"));
  ASSERT_TRUE(main_.log.WaitFor("refresh")) << "told after the attempt as well";
  EXPECT_FALSE(std::filesystem::exists(AvatarFilePath(tempFolder_, "Talice")));
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(tempFolder_), {}), 0);
  service_->SetMainWindow(nullptr);
}

// Answers handed straight to the dispatcher, as the transport would.
class OddAnswers : public AccountFlows {
 protected:
  void Answer(std::int32_t kind, std::int32_t userValue, const std::string& text) {
    AccountService::ResponseDispatcher(service_.get(), kind, userValue, text);
  }
};

TEST_F(OddAnswers, SuccessWithoutAUsableUserChangesNothingAndShowsTheErrorText) {
  session_.SetSignIn("keep", "Tkeep", LoginType::Mobile);
  for (const char* text : {R"({"code":10000})", R"({"code":10000,"userinfo":"x"})",
                           R"({"code":10000,"userinfo":{"username":"u"}})",
                           R"({"code":10000,"userinfo":{"username":7,"usertoken":[]}})"}) {
    Answer(kSignInWithCaptcha, 1, text);
    EXPECT_TRUE(window_.log.WaitFor("error signin 缺少参数")) << text;
    Answer(kBrowserState, 3, text);
    Answer(kProfile, 0, text);
    EXPECT_EQ(session_.GetAccount(), "keep") << text;
  }
  EXPECT_EQ(window_.log.WaitFor("close", std::chrono::milliseconds(0)), std::nullopt);
}

TEST_F(OddAnswers, CodesOfTheWrongTypeCountAsZeroAndGarbageIsIgnored) {
  session_.SetSignIn("keep", "Tkeep", LoginType::Mobile);
  const std::string user = R"("userinfo":{"username":"new","usertoken":"Tnew"})";
  Answer(kSafeSignIn, 1, R"({"code":"10000",)" + user + "}");
  Answer(kSafeSignIn, 1, R"({"code":10000.0,)" + user + "}");
  EXPECT_EQ(session_.GetAccount(), "keep");
  std::string deep(100000, '[');
  Answer(kProfile, 0, deep);
  Answer(kProfile, 0, "{\"code\":10000,\"userinfo\":{\"username\":\"" + std::string(1 << 20, 'a'));
  Answer(kProfile, 0, "");
  EXPECT_EQ(session_.GetAccount(), "keep");
  // A profile that the service itself refused, with a real code, signs out.
  Answer(kProfile, 0, R"({"code":40301})");
  EXPECT_FALSE(session_.IsSignedIn());
}

}  // namespace
}  // namespace quillora
