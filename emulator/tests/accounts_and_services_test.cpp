// Sign-in flows, the statistics host and the update host.
#include "common/codec.h"
#include "emulator/tests/emulator_fixture.h"

namespace quillora::emulator::testing {
namespace {

Members Device(Members more) {
  Members m = {{"deviceid", "dev1"}, {"deviceos", "Windows"}, {"devicetype", "Windows 10"}, {"language", "zh-cn"},
               {"productid", "342"}, {"softname", "Quillora"}, {"softversion", "1.0.0"}, {"timestamp", "1700000000"}};
  for (auto& e : more) m.push_back(e);
  return m;
}

TEST_F(EmulatorTest, CaptchaIsARealPictureWithAKnownAnswer) {
  Json::Value v = Api("imgverify", Device({{"fontsize", "16"}, {"height", "54"}, {"length", "4"}, {"width", "90"}}));
  ASSERT_EQ(v["code"].asInt(), 10000);
  std::string url = v["message"].asString();
  const std::string prefix = "data:image/png;base64,";
  ASSERT_EQ(url.rfind(prefix, 0), 0u);
  auto png = Base64Decode(url.substr(prefix.size()));
  ASSERT_TRUE(png);
  EXPECT_EQ(png->substr(0, 8), "\x89PNG\r\n\x1a\n");
  EXPECT_EQ(png->substr(16, 8), std::string("\0\0\0\x5a\0\0\0\x36", 8)) << "90 x 54";
  std::string answer = emu.LastCaptchaAnswer();
  EXPECT_EQ(answer.size(), 4u);
  EXPECT_EQ(ParseAnswer(Get(emu.ControlBase() + "/control/captcha").body)["answer"].asString(), answer);
}

TEST_F(EmulatorTest, MobileSignInWithCaptchaThenProfile) {
  const Members sms = {{"account", "13800138000"}, {"accounttype", "0"}, {"verifytype", "quicklogin"}};
  Members wrong = sms;
  wrong.emplace_back("imgcode", "zzzz");
  Api("imgverify", Device({{"fontsize", "16"}, {"height", "54"}, {"length", "4"}, {"width", "90"}}));
  EXPECT_EQ(Api("smsverify", Device(wrong))["code"].asInt(), 18006);
  Members right = sms;
  right.emplace_back("imgcode", emu.LastCaptchaAnswer());
  ASSERT_EQ(Api("smsverify", Device(right))["code"].asInt(), 10000);
  std::string code = emu.LastSmsCode("13800138000");
  ASSERT_EQ(code.size(), 6u);
  EXPECT_EQ(ParseAnswer(Get(emu.ControlBase() + "/control/sms?mobile=13800138000").body)["code"].asString(), code);

  Members login = {{"account", "13800138000"}, {"accounttype", "0"}, {"imgcode", emu.LastCaptchaAnswer()},
                   {"showvip", "1"}, {"smscode", "000000" == code ? "111111" : "000000"}};
  EXPECT_EQ(Api("loginquick", Device(login))["code"].asInt(), 19004);
  login[4].second = code;
  Json::Value ok = Api("loginquick", Device(login));
  ASSERT_EQ(ok["code"].asInt(), 10000);
  const Json::Value& info = ok["userinfo"];
  EXPECT_EQ(info["username"].asString(), "13800138000");
  EXPECT_EQ(info["bindmobile"].asString(), "13800138000");
  EXPECT_EQ(info["accounttype"].asInt(), 1);
  EXPECT_TRUE(info["uid"].isIntegral() && info["nowtime"].isIntegral());
  EXPECT_FALSE(info["usertoken"].asString().empty());
  HttpResult avatar = Get(info["head_portrait"].asString());
  EXPECT_EQ(avatar.status, 200);
  EXPECT_EQ(avatar.body.substr(0, 4), "\x89PNG");
  // Captcha and SMS code are good for one sign-in each.
  EXPECT_EQ(Api("loginquick", Device(login))["code"].asInt(), 18006);
  Api("imgverify", Device({{"fontsize", "16"}, {"height", "54"}, {"length", "4"}, {"width", "90"}}));
  login[2].second = emu.LastCaptchaAnswer();
  EXPECT_EQ(Api("loginquick", Device(login))["code"].asInt(), 19004);

  std::string token = info["usertoken"].asString();
  Json::Value profile =
      Api("memprofile", Device({{"account", "13800138000"}, {"accounttype", "0"}, {"usertoken", token}}));
  EXPECT_EQ(profile["code"].asInt(), 10000);
  EXPECT_EQ(profile["userinfo"]["usertoken"].asString(), token);
  EXPECT_EQ(Api("memprofile", Device({{"account", "13800138000"}, {"accounttype", "0"}, {"usertoken", "x"}}))["code"]
                .asInt(),
            kCodeBadUser);
}

TEST_F(EmulatorTest, SafeSignInAndCaptchaSwitch) {
  const Members sms = {{"account", "86-13800138001"}, {"accounttype", "1"}, {"appsource", "PC"}, {"apptype", "PC"},
                       {"verifytype", "quicklogin"}};
  emu.SetCaptchaRequired(true);
  EXPECT_EQ(Api("safsmsverify", Device(sms))["code"].asInt(), 28001);
  emu.SetCaptchaRequired(false);
  ASSERT_EQ(Api("safsmsverify", Device(sms))["code"].asInt(), 10000);
  Members login = {{"account", "86-13800138001"}, {"accounttype", "1"}, {"showvip", "1"}, {"smscode", "bad"}};
  EXPECT_EQ(Api("safloginquick", Device(login))["code"].asInt(), 19313);
  login[3].second = emu.LastSmsCode("86-13800138001");
  EXPECT_EQ(Api("safloginquick", Device(login))["code"].asInt(), 10000);
}

TEST_F(EmulatorTest, ScanSignInThroughTheBrowserPages) {
  Json::Value guid = Api("wechatguid", Device({}));
  ASSERT_EQ(guid["code"].asInt(), 10000);
  std::string tag = guid["logintag"].asString();
  Members poll = {{"logintag", tag}, {"showvip", "1"}};
  EXPECT_EQ(Api("wechatstate", Device(poll))["code"].asInt(), kCodeScanPending);
  HttpResult page = Get(emu.PageBase() + "/scanlogin/" + tag);
  ASSERT_EQ(page.status, 200);
  EXPECT_NE(page.body.find("/scanlogin/" + tag + "/confirm"), std::string::npos);
  EXPECT_EQ(Post(emu.PageBase() + "/scanlogin/" + tag + "/confirm", "").status, 200);
  Json::Value done = Api("wechatstate", Device(poll));
  ASSERT_EQ(done["code"].asInt(), 10000);
  EXPECT_EQ(done["userinfo"]["accounttype"].asInt(), 3);
  EXPECT_EQ(Api("wechatstate", Device(poll))["userinfo"]["usertoken"], done["userinfo"]["usertoken"]);

  // QQ: the authorisation page sends the browser to the redirect address with the tag.
  std::string qqTag = Api("wechatguid", Device({}))["logintag"].asString();
  std::string redirect = emu.PageBase() + "/scanlogin/qqlogin?state=" + qqTag;
  EXPECT_EQ(Get(redirect).status, 200);
  EXPECT_EQ(Post(emu.PageBase() + "/scanlogin/qqlogin/confirm?state=" + qqTag, "").status, 200);
  Json::Value qq = Api("wechatstate", Device({{"logintag", qqTag}, {"showvip", "1"}}));
  EXPECT_EQ(qq["userinfo"]["accounttype"].asInt(), 4);

  EXPECT_EQ(Get(emu.PageBase() + "/scanlogin/Lunknown").status, 404);
  EXPECT_EQ(Api("wechatstate", Device({{"logintag", "Lunknown"}, {"showvip", "1"}}))["code"].asInt(),
            kCodeUnknownLoginTag);
  EXPECT_FALSE(emu.ConfirmScan("Lunknown"));
}

TEST_F(EmulatorTest, BindMobileToAScanAccount) {
  std::string tag = Api("wechatguid", Device({}))["logintag"].asString();
  ASSERT_TRUE(emu.ConfirmScan(tag));
  std::string token = Api("wechatstate", Device({{"logintag", tag}, {"showvip", "1"}}))["userinfo"]["usertoken"].asString();
  Members sms = {{"account", "13900000000"}, {"accounttype", "0"}, {"appsource", "PC"}, {"apptype", "PC"},
                 {"bindaccount", "13900000000"}, {"usertoken", token}, {"verifytype", "bindaccount"}};
  ASSERT_EQ(Api("safsmsverify", Device(sms))["code"].asInt(), 10000);
  Members bind = {{"accounttype", "0"}, {"bindaccount", "13900000000"}, {"smscode", "x"}, {"usertoken", token}};
  EXPECT_EQ(Api("virtualactbind", Device(bind))["code"].asInt(), 18013);
  bind[2].second = emu.LastSmsCode("13900000000");
  Json::Value bound = Api("virtualactbind", Device(bind));
  ASSERT_EQ(bound["code"].asInt(), 10000);
  // The client then refreshes the profile with the bound mobile as account.
  Json::Value profile = Api("memprofile", Device({{"account", "13900000000"}, {"accounttype", "0"},
                                                  {"usertoken", bound["userinfo"]["usertoken"].asString()}}));
  EXPECT_EQ(profile["code"].asInt(), 10000);
  EXPECT_EQ(profile["userinfo"]["bindmobile"].asString(), "13900000000");
}

TEST_F(EmulatorTest, ServerTimeAndSignedEvents) {
  emu.SetServerTimeOffset(1000);
  HttpResult time = Get(emu.StatsBase() + "/ver1/getUnixTime", emu.CaFile());
  ASSERT_GT(time.body.size(), 22u);
  // The client takes the ten bytes that start twelve before the end.
  std::string digits = time.body.substr(time.body.size() - 12, 10);
  EXPECT_EQ(time.body.substr(time.body.size() - 2), "}}");
  long long t = std::stoll(digits);
  EXPECT_NEAR(static_cast<double>(t), static_cast<double>(std::time(nullptr) + 1000), 5.0);

  std::vector<std::string> headers = {"sign:" + StatisticsSignValue(digits), "distinct_id:d", "os:Windows",
                                      "os_version:10", "device_id:d", "screen_height:1080", "screen_width:1920",
                                      "mac_address:d", "install_filename:setup_Quillora_1.0.0.exe",
                                      "software_name:Quillora", "software_version:1.0.0"};
  std::string login = emu.StatsBase() + "/ver1/AppLogin/loginMethod/mobile/isSuccess/0/failReason/"
                      "\xE7\x99\xBB\xE5\xBD\x95\xE5\xA4\xB1\xE8\xB4\xA5/isVip/0";
  EXPECT_EQ(ParseAnswer(Get(login, emu.CaFile(), headers).body)["code"].asInt(), 1);
  EXPECT_EQ(ParseAnswer(Get(emu.StatsBase() + "/ver1/AppStart/isLogin/0/isVip/0", emu.CaFile(), headers).body)["code"]
                .asInt(),
            1);
  headers[0] = "sign:" + std::string(32, '0') + digits;
  EXPECT_EQ(ParseAnswer(Get(emu.StatsBase() + "/ver1/AppInstall", emu.CaFile(), headers).body)["code"].asInt(),
            kCodeBadSignature);
  // A failed time query leaves the time text empty; the sign line is still valid.
  headers[0] = "sign:" + StatisticsSignValue("");
  EXPECT_EQ(ParseAnswer(Get(emu.StatsBase() + "/ver1/AppInstall", emu.CaFile(), headers).body)["code"].asInt(), 1);

  auto events = emu.StatsEvents();
  ASSERT_EQ(events.size(), 4u);
  EXPECT_EQ(events[0].name, "AppLogin");
  ASSERT_EQ(events[0].values.size(), 4u);
  EXPECT_EQ(events[0].values[2].second, "登录失败");
  EXPECT_TRUE(events[0].signValid);
  EXPECT_EQ(events[0].timeText, digits);
  EXPECT_FALSE(events[2].signValid);
  EXPECT_TRUE(events[3].signValid);
  EXPECT_EQ(events[3].timeText, "");
}

TEST_F(EmulatorTest, UpdateAnswersAndInstallerDownload) {
  const std::string body =
      R"({"software_name":"Quillora","software_version":"1.0.0","software_package":"setup_Quillora_1.0.0.exe",)"
      R"("machine_code":"1700000000","guid":"1700000000","time":"","token":""})";
  Json::Value none = ParseAnswer(Post(emu.UpdateBase() + "/ver1/checkUpdate", body).body);
  EXPECT_EQ(none["code"].asInt(), 0);
  EXPECT_FALSE(none.isMember("responseData"));

  UpdateBehaviour u;
  u.code = 1;
  u.version = "1.1.0";
  u.updateType = 1;
  u.installerBytes = std::string("MZ\0\x01installer", 13);
  u.includeChecksum = true;
  emu.SetUpdate(u);
  Json::Value yes = ParseAnswer(Post(emu.UpdateBase() + "/ver1/checkUpdate", body).body);
  ASSERT_EQ(yes["code"].asInt(), 1);
  EXPECT_EQ(yes["responseData"]["software_version"].asString(), "1.1.0");
  EXPECT_EQ(yes["responseData"]["software_update_type"].asInt(), 1);
  EXPECT_EQ(yes["responseData"]["software_download"].asString(), emu.InstallerUrl());
  EXPECT_EQ(yes["responseData"]["software_md5"].asString(), Md5Hex(u.installerBytes));
  HttpResult installer = Get(emu.InstallerUrl());
  EXPECT_EQ(installer.body, u.installerBytes);
  EXPECT_EQ(Get(emu.UpdateBase() + "/download/setup_Quillora_9.9.9.exe").status, 404);

  u.code = 3;
  emu.SetUpdate(u);
  EXPECT_EQ(ParseAnswer(Post(emu.UpdateBase() + "/ver1/checkUpdate", body).body)["code"].asInt(), 3);
  EXPECT_EQ(ParseAnswer(Post(emu.UpdateBase() + "/ver1/checkUpdate", "{\"software_name\":1}").body)["code"].asInt(),
            kCodeMalformed);
}

}  // namespace
}  // namespace quillora::emulator::testing
