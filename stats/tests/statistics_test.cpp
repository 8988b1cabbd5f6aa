// Statistics events: the header lines and the login URL as built, then the
// events through the real transport against the emulator's statistics host.
#include "stats/statistics.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <string>
#include <thread>

#include "emulator/emulator.h"
#include "service/transport/remote_services.h"

namespace quillora::stats {
namespace {

StatisticsValues SampleValues() {
  StatisticsValues v;
  v.deviceId = "0123456789ABCDEF0123456789ABCDEF";
  v.softwareName = "Quillora";
  v.softwareVersion = "1.0.0";
  v.osVersion = "10";
  v.screenHeight = "1080";
  v.screenWidth = "1920";
  v.installFileName = "setup_Quillora_1.0.0.exe";
  return v;
}

TEST(StatisticsLines, ElevenLinesInOrderWithTheDeviceThreeTimes) {
  const EventLines lines = BuildEventLines(SampleValues());
  const char* const names[] = {"sign",          "distinct_id",  "os",          "os_version",
                               "device_id",     "screen_height", "screen_width", "mac_address",
                               "install_filename", "software_name", "software_version"};
  for (size_t i = 0; i < lines.size(); ++i) {
    EXPECT_EQ(lines[i].substr(0, lines[i].find(':')), names[i]) << i;
  }
  EXPECT_EQ(lines[1], "distinct_id:0123456789ABCDEF0123456789ABCDEF");
  EXPECT_EQ(lines[4].substr(lines[4].find(':')), lines[1].substr(lines[1].find(':')));
  EXPECT_EQ(lines[7].substr(lines[7].find(':')), lines[1].substr(lines[1].find(':')));
  EXPECT_EQ(lines[2], "os:Windows");
  EXPECT_EQ(lines[5], "screen_height:1080");
  // The placeholder sign line is the digest over an empty time.
  EXPECT_EQ(lines[0].size(), 5u + 32u);
}

TEST(StatisticsLines, InstallFileNameIsPercentEncodedByteByByte) {
  EXPECT_EQ(EncodeInstallFileName("setup Quillora 1.0.exe"), "setup%20Quillora%201.0.exe");
  EXPECT_EQ(EncodeInstallFileName("安装.exe"), "%E5%AE%89%E8%A3%85.exe");
  EXPECT_EQ(EncodeInstallFileName("a+b%c"), "a+b%c");
}

TEST(StatisticsLines, LongOrHostileValuesNeverOverrunOrSplitALine) {
  StatisticsValues v = SampleValues();
  v.osVersion = std::string(300, 'x');
  v.softwareVersion = "1.0\r\nX-Injected: 1";
  v.installFileName = std::string(100, ' ');  // 300 bytes once encoded
  std::string wide;
  for (int i = 0; i < 100; ++i) wide += "界";  // 300 bytes of 3-byte sequences
  v.softwareName = wide;
  const EventLines lines = BuildEventLines(v);
  for (const std::string& line : lines) {
    EXPECT_LE(line.size(), kMaxHeaderLineBytes);
    EXPECT_EQ(line.find_first_of("\r\n"), std::string::npos);
  }
  EXPECT_EQ(lines[3].size(), kMaxHeaderLineBytes);
  EXPECT_EQ(lines[10], "software_version:1.0");
  // Cut before a whole character, never inside one.
  EXPECT_EQ((lines[9].size() - std::string("software_name:").size()) % 3, 0u);
}

TEST(StatisticsLines, LoginUrlCarriesRawValuesAndStaysWithinItsBound) {
  ServiceSettings settings = DefaultServiceSettings();
  settings.statsBase = "https://stats.test";
  ConfigureRemoteServices(settings);
  EXPECT_EQ(LoginEventUrl("mobile", "0", "验证码错误", "0"),
            "https://stats.test/ver1/AppLogin/loginMethod/mobile/isSuccess/0/failReason/验证码错误/isVip/0");
  std::string reason;
  for (int i = 0; i < 400; ++i) reason += "错";
  const std::string url = LoginEventUrl("mobile", "0", reason, "0");
  EXPECT_LE(url.size(), kMaxLoginUrlBytes);
  EXPECT_EQ(url.substr(url.size() - 8), "/isVip/0");
  const size_t reasonStart = url.find("/failReason/") + 12;
  EXPECT_EQ((url.size() - 8 - reasonStart) % 3, 0u) << "cut at a character boundary";
  EXPECT_TRUE(LoginEventUrl(std::string(1100, 'm'), "0", "", "0").empty());
  ConfigureRemoteServices(DefaultServiceSettings());
}

// Counts the answers the client hands back (time answers and event answers).
struct AnswerCounter {
  std::atomic<int> answers{0};
  static void OnAnswer(void* context, std::int32_t, std::int32_t, std::string) {
    ++static_cast<AnswerCounter*>(context)->answers;
  }
};

class StatisticsEvents : public ::testing::Test {
 protected:
  void SetUp() override {
    emulator::Options o;
    o.threads = 8;
    emu_ = std::make_unique<emulator::Emulator>(o);
    ASSERT_TRUE(emu_->Start()) << emu_->LastError();
    ConfigureRemoteServices(emu_->Settings());
    client_ = std::make_unique<StatisticsClient>(&counter_, &AnswerCounter::OnAnswer);
    client_->SetValues(SampleValues());
  }
  void TearDown() override {
    client_.reset();
    ConfigureRemoteServices(DefaultServiceSettings());
  }

  // Until the emulator has recorded `n` events (generous deadline).
  bool WaitForEvents(size_t n) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (emu_->StatsEvents().size() < n) {
      if (std::chrono::steady_clock::now() > deadline) return false;
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return true;
  }

  AnswerCounter counter_;
  std::unique_ptr<emulator::Emulator> emu_;
  std::unique_ptr<StatisticsClient> client_;
};

TEST_F(StatisticsEvents, FirstRunSendsInstallThenStartEachAfterItsOwnTimeQueryAndSigned) {
  // A slow install exchange must still reach the host before the start event.
  emulator::Fault slowInstall;
  slowInstall.path = "/ver1/AppInstall";
  slowInstall.delay = std::chrono::milliseconds(300);
  slowInstall.count = 1;
  emu_->SetFault(slowInstall);
  client_->SendStartupEvents(true, 0);
  ASSERT_TRUE(WaitForEvents(2));
  const auto events = emu_->StatsEvents();
  ASSERT_EQ(events.size(), 2u);
  EXPECT_EQ(events[0].name, "AppInstall");
  EXPECT_EQ(events[1].name, "AppStart");
  for (const auto& e : events) {
    EXPECT_TRUE(e.signValid);
    EXPECT_EQ(e.timeText.size(), 10u) << "signed over the host's time";
    EXPECT_EQ(e.request.Header("install_filename"), "setup_Quillora_1.0.0.exe");
    EXPECT_EQ(e.request.Header("mac_address"), e.request.Header("distinct_id"));
  }
  // Time query and event, in that order, for each.
  std::vector<std::string> paths;
  for (const auto& j : emu_->Requests("/ver1/*")) paths.push_back(j.path);
  EXPECT_EQ(paths, (std::vector<std::string>{"/ver1/getUnixTime", "/ver1/AppInstall", "/ver1/getUnixTime",
                                             "/ver1/AppStart/isLogin/0/isVip/0"}));
}

TEST_F(StatisticsEvents, LaterRunsSendOnlyTheStartEvent) {
  client_->SendStartupEvents(false, 0);
  ASSERT_TRUE(WaitForEvents(1));
  client_.reset();  // waits for nothing more to leave
  const auto events = emu_->StatsEvents();
  ASSERT_EQ(events.size(), 1u);
  EXPECT_EQ(events[0].name, "AppStart");
}

TEST_F(StatisticsEvents, FailedLoginCarriesItsUtf8ReasonAndASecondEventInFlightIsDropped) {
  emulator::Fault slowTime;
  slowTime.path = "/ver1/getUnixTime";
  slowTime.delay = std::chrono::milliseconds(400);
  slowTime.count = 1;
  emu_->SetFault(slowTime);
  ASSERT_TRUE(client_->SendLoginEvent("mobile", "0", "验证码错误", "0", 1));
  EXPECT_FALSE(client_->SendLoginEvent("qq", "1", "0", "0", 1)) << "slot busy";
  ASSERT_TRUE(WaitForEvents(1));
  const auto events = emu_->StatsEvents();
  ASSERT_EQ(events.size(), 1u);
  EXPECT_EQ(events[0].values, (std::vector<std::pair<std::string, std::string>>{
                                  {"loginMethod", "mobile"}, {"isSuccess", "0"},
                                  {"failReason", "验证码错误"}, {"isVip", "0"}}));
}

TEST_F(StatisticsEvents, AFailedTimeQueryStillSendsTheEventSignedOverNoTime) {
  emulator::Fault drop;
  drop.path = "/ver1/getUnixTime";
  drop.kind = emulator::Fault::Kind::kDrop;
  drop.count = 1;
  emu_->SetFault(drop);
  ASSERT_TRUE(client_->SendStartEvent(0));
  ASSERT_TRUE(WaitForEvents(1));
  const auto events = emu_->StatsEvents();
  ASSERT_EQ(events.size(), 1u);
  EXPECT_TRUE(events[0].signValid);
  EXPECT_EQ(events[0].timeText, "");
}

}  // namespace
}  // namespace quillora::stats
