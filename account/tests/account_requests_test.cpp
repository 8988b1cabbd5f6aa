// What the account requests carry and how odd answers are read.
#include <gtest/gtest.h>
#include <json/value.h>

#include <string>
#include <vector>

#include "account/account_error_text.h"
#include "account/tests/account_test_support.h"
#include "account/user_profile.h"
#include "service/transport/json_answer.h"

namespace quillora {
namespace {

using Keys = std::vector<std::string>;

TEST(AccountType, HyphenAfterTheFirstCharacterNoAtAndAtMostSixteenBytes) {
  EXPECT_EQ(AccountTypeFor("13800138000"), "0");
  EXPECT_EQ(AccountTypeFor("86-13800138000"), "1");     // 14 bytes
  EXPECT_EQ(AccountTypeFor("-13800138000"), "0");       // hyphen first only
  EXPECT_EQ(AccountTypeFor("a-b@example.com"), "0");
  EXPECT_EQ(AccountTypeFor("8613-80013800012"), "1");   // 16 bytes
  EXPECT_EQ(AccountTypeFor("86138-00138000123"), "0");  // 17 bytes
}

TEST(AccountErrors, SignInKindsDifferOnlyWhereTheTableSaysSo) {
  EXPECT_EQ(AccountErrorText(33, 10060), "登录失败");
  EXPECT_EQ(AccountErrorText(55, 10060), "缺少参数");
  EXPECT_EQ(AccountErrorText(30, 10061), "发送过于频繁");
  EXPECT_EQ(AccountErrorText(57, 10061), "缺少参数");
  EXPECT_EQ(AccountErrorText(32, 10062), "帐号密码不一致");
  EXPECT_EQ(AccountErrorText(56, 19001), "无效的图形验证码");
  EXPECT_EQ(AccountErrorText(57, 18024), "无效的短信验证码");
  EXPECT_EQ(AccountErrorText(55, 19004), "错误的图形验证码或短信校验码");
  EXPECT_EQ(AccountErrorText(55, 19313), "缺少参数");
  EXPECT_EQ(AccountErrorText(33, 0), "缺少参数");
}

Json::Value Parse(const std::string& text) { return ParseJsonAnswer(text).value_or(Json::Value()); }

TEST(UserProfiles, OddlyTypedMembersReadAsEmptyAndAnswersWithoutAUserAreRefused) {
  auto p = ReadUserProfile(Parse(
      R"({"userinfo":{"username":"u","usertoken":"t","nickname":5,"bindmobile":null,"uid":"12",)"
      R"("accounttype":3.9,"nowtime":1e300,"head_portrait":["x"]}})"));
  ASSERT_TRUE(p);
  EXPECT_EQ(p->nickname, "");
  EXPECT_EQ(p->bindmobile, "");
  EXPECT_EQ(p->uid, 0);
  EXPECT_EQ(p->accounttype, 3);
  EXPECT_GT(p->nowtime, 0) << "clamped, not undefined";
  EXPECT_EQ(p->headPortrait, "");
  EXPECT_FALSE(ReadUserProfile(Parse(R"({"userinfo":[]})")));
  EXPECT_FALSE(ReadUserProfile(Parse(R"({"userinfo":"u"})")));
  EXPECT_FALSE(ReadUserProfile(Parse(R"({"userinfo":{"username":"u"}})")));
  EXPECT_FALSE(ReadUserProfile(Parse(R"({"userinfo":{"username":"u","usertoken":7}})")));
}

TEST(UserProfiles, AccountTypeTwoKeepsTheFlowsDefault) {
  UserProfile p;
  p.username = "u";
  p.usertoken = "t";
  p.uid = 42;
  p.accounttype = 2;
  EXPECT_EQ(SessionFromProfile(p, LoginType::Mobile).loginType, LoginType::Mobile);
  EXPECT_EQ(SessionFromProfile(p, LoginType::WeChat).loginType, LoginType::WeChat);
  EXPECT_EQ(SessionFromProfile(p, LoginType::WeChat).uid, "42");
  p.accounttype = 4294967297;  // does not fit 32 bits: no known type
  EXPECT_EQ(SessionFromProfile(p, LoginType::QQ).loginType, LoginType::QQ);
}

TEST(Avatars, NoTokenCanSteerTheFileOutOfTheTemporaryFolder) {
  EXPECT_EQ(AvatarFilePath("/t/", "Uabc123"), "/t/Uabc123.png");
  const std::vector<std::string> tokens = {"../../etc/x", "a/b", "..", "", std::string("a\0b", 3), "a\\b",
                                           std::string(300, 'a')};
  for (const std::string& token : tokens) {
    const std::string path = AvatarFilePath("/t/", token);
    EXPECT_EQ(path.rfind("/t/", 0), 0u);
    EXPECT_EQ(path.find('/', 3), std::string::npos) << token;
    EXPECT_EQ(path.find(".."), std::string::npos) << token;
  }
}

class AccountRequests : public testing_support::AccountFixture {};

TEST_F(AccountRequests, SmsBodiesListTheirMembersInTheirOwnOrder) {
  service_->SendSmsCode({"13800138000", "", "quicklogin", true, 1, "", ""});
  ASSERT_TRUE(WaitForAnswer(account_kind::kSafeSms));
  EXPECT_EQ(MemberOrder("safsmsverify"),
            (Keys{"account", "accounttype", "appsource", "apptype", "deviceid", "deviceos", "devicetype", "language",
                  "productid", "softname", "softversion", "timestamp", "verifytype", "datasign"}));

  service_->SendSmsCode({"13800138000", "ab12", "bindaccount", false, 4, "86-13800138000", "tok"});
  ASSERT_TRUE(WaitForAnswer(account_kind::kSmsWithCaptcha));
  EXPECT_EQ(MemberOrder("smsverify"),
            (Keys{"account", "accounttype", "bindaccount", "deviceid", "deviceos", "devicetype", "imgcode",
                  "language", "productid", "softname", "softversion", "timestamp", "usertoken", "verifytype",
                  "datasign"}));
  const auto body = ParseJsonAnswer(emu_->Requests("/api/v4/smsverify").back().body).value();
  EXPECT_EQ(body["accounttype"].asString(), "1") << "taken from the bind account";
  EXPECT_EQ(body["deviceos"].asString(), "Windows");
  EXPECT_EQ(body["devicetype"].asString(), "10");
  EXPECT_EQ(body["productid"].asString(), "342");
}

TEST_F(AccountRequests, BindLeavesThePictureCodeOutInSafeMode) {
  session_.SetSignIn("u", "tok", LoginType::WeChat);
  service_->BindMobile("13800138000", "123456", "");
  ASSERT_TRUE(WaitForAnswer(account_kind::kBind));
  EXPECT_EQ(MemberOrder("virtualactbind"),
            (Keys{"accounttype", "bindaccount", "deviceid", "deviceos", "devicetype", "language", "productid",
                  "smscode", "softname", "softversion", "timestamp", "usertoken", "datasign"}));
  MakeService();  // the bind slot may still be finishing the first answer
  service_->BindMobile("13800138000", "123456", "x1y2");
  ASSERT_TRUE(WaitForAnswer(account_kind::kBind));
  const Keys withCode = MemberOrder("virtualactbind");
  EXPECT_EQ(withCode[5], "imgcode");
}

TEST_F(AccountRequests, EveryRequestIsSignedTheWayTheServiceChecks) {
  service_->RequestCaptcha(90, 54, 1);
  service_->RequestWeChatTag();
  service_->PollWeChatState("Lnothing");
  service_->MobileSignIn("13800138000", "1", "2");
  service_->RefreshProfile("a", "b", 7);
  for (std::int32_t kind : {account_kind::kCaptcha, account_kind::kWeChatTag, account_kind::kBrowserState,
                            account_kind::kSignInWithCaptcha, account_kind::kProfile}) {
    const auto report = WaitForAnswer(kind);
    ASSERT_TRUE(report) << kind;
    EXPECT_TRUE(report->arrived);
    // Refusals of the emulator's own (layout 40000, signature 40100) never come.
    EXPECT_NE(report->code.value_or(0) / 100, 400) << kind;
  }
  EXPECT_EQ(MemberOrder("imgverify"),
            (Keys{"deviceid", "deviceos", "devicetype", "fontsize", "height", "language", "length", "productid",
                  "softname", "softversion", "timestamp", "width", "datasign"}));
  EXPECT_EQ(MemberOrder("wechatstate")[4], "logintag");
}

TEST_F(AccountRequests, ASecondRequestOfAKindInFlightIsDroppedWithoutAnAnswer) {
  emulator::Fault slow;
  slow.path = "/api/v4/safsmsverify";
  slow.delay = std::chrono::milliseconds(500);
  slow.count = 1;
  emu_->SetFault(slow);
  service_->SendSmsCode({"13800138000", "", "quicklogin", true, 1, "", ""});
  service_->SendSmsCode({"13900139000", "", "quicklogin", true, 1, "", ""});
  const auto first = WaitForAnswer(account_kind::kSafeSms);
  ASSERT_TRUE(first);
  EXPECT_EQ(first->code, 10000);
  EXPECT_EQ(emu_->Requests("/api/v4/safsmsverify").size(), 1u);
  EXPECT_EQ(emu_->LastSmsCode("13900139000"), "");
}

}  // namespace
}  // namespace quillora
