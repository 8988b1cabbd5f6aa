#include "update/update_check.h"

#include <gtest/gtest.h>
#include <json/json.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <ctime>
#include <fstream>
#include <set>
#include <thread>

#include "emulator/emulator.h"
#include "service/transport/remote_services.h"
#include "update/tests/update_test_support.h"
#include "update/update_request.h"

namespace quillora {
namespace {

using namespace std::chrono_literals;

constexpr auto kDeadline = 30s;

const UpdateCheckIdentity kInstalled{"Quillora", "1.0.0", "setup_Quillora_1.0.0.exe"};

class UpdateCheckTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(emu_.Start()) << emu_.LastError();
    ConfigureRemoteServices(emu_.Settings());
  }

  void Answer(int code, const std::string& version) {
    emulator::UpdateBehaviour b;
    b.code = code;
    b.version = version;
    emu_.SetUpdate(b);
  }

  // Every update check is answered only after `delay`.
  void DelayAnswers(std::chrono::milliseconds delay) {
    emulator::Fault slow;
    slow.path = "/ver1/checkUpdate";
    slow.delay = delay;
    emu_.SetFault(slow);
  }

  std::string RunOneCheck(const UpdateCheckIdentity& identity = kInstalled) {
    UpdateChecker checker(identity);
    EXPECT_TRUE(checker.Start());
    EXPECT_TRUE(checker.WaitIdle(kDeadline));
    return checker.LatestVersion();
  }

  emulator::Emulator emu_{testing_support::SmallEmulator()};
};

TEST_F(UpdateCheckTest, CodeOneRecordsTheNewVersionAndTheRequestCarriesServerTime) {
  Answer(1, "2.0.0");
  emu_.SetServerTimeOffset(-100000);
  EXPECT_EQ(RunOneCheck(), "2.0.0");

  const auto requests = emu_.Requests("/ver1/checkUpdate");
  ASSERT_EQ(requests.size(), 1u);
  EXPECT_EQ(requests[0].method, "POST");
  EXPECT_EQ(requests[0].Header("Content-Type"), "application/json");
  Json::Value body;
  Json::Reader reader;
  ASSERT_TRUE(reader.parse(requests[0].body, body)) << requests[0].body;
  const std::string t = body["machine_code"].asString();
  EXPECT_EQ(body["guid"].asString(), t);
  // The statistics host's clock, not the local one.
  const long long sent = std::atoll(t.c_str());
  const long long expected = static_cast<long long>(std::time(nullptr)) - 100000;
  EXPECT_NEAR(static_cast<double>(sent), static_cast<double>(expected), 60.0);
  EXPECT_EQ(requests[0].body, BuildCheckUpdateBody("Quillora", "1.0.0", "setup_Quillora_1.0.0.exe", sent));
  EXPECT_EQ(emu_.Requests("/ver1/getUnixTime").size(), 1u);
}

TEST_F(UpdateCheckTest, TheInstalledVersionStillCountsAsAnUpdate) {
  Answer(1, "1.0.0");
  EXPECT_EQ(RunOneCheck(), "1.0.0");
}

TEST_F(UpdateCheckTest, NoUpdateOrUnusableAnswersLeaveTheVersionEmpty) {
  for (int code : {0, 3, 2}) {
    Answer(code, "2.0.0");
    EXPECT_EQ(RunOneCheck(), "") << "code " << code;
  }
  Answer(1, "2.0.0");
  for (auto kind : {emulator::Fault::Kind::kMalformed, emulator::Fault::Kind::kTruncated,
                    emulator::Fault::Kind::kDrop}) {
    emulator::Fault f;
    f.path = "/ver1/checkUpdate";
    f.kind = kind;
    emu_.SetFault(f);
    EXPECT_EQ(RunOneCheck(), "") << "fault " << static_cast<int>(kind);
  }
  EXPECT_EQ(emu_.Requests("/ver1/checkUpdate").size(), 6u);
}

TEST_F(UpdateCheckTest, UnreachableUpdateHostLeavesTheVersionEmpty) {
  testing_support::RefusingPort refusing;
  ASSERT_NE(refusing.Port(), 0);
  ServiceSettings s = emu_.Settings();
  s.updateBase = refusing.HttpBase();
  ConfigureRemoteServices(s);
  Answer(1, "2.0.0");
  EXPECT_EQ(RunOneCheck(), "");
  EXPECT_TRUE(emu_.Requests("/ver1/checkUpdate").empty());
}

TEST_F(UpdateCheckTest, OneCheckAtATimeAndReadersSeeOnlyWholeValues) {
  Answer(1, "2.0.0");
  DelayAnswers(300ms);

  UpdateChecker checker(kInstalled);
  ASSERT_TRUE(checker.Start());
  EXPECT_FALSE(checker.Start());  // the first is still waiting for its answer

  std::set<std::string> seen;
  std::thread reader([&] {
    while (checker.Running()) seen.insert(checker.LatestVersion());
    seen.insert(checker.LatestVersion());
  });
  ASSERT_TRUE(checker.WaitIdle(kDeadline));
  reader.join();
  for (const std::string& v : seen) EXPECT_TRUE(v.empty() || v == "2.0.0") << v;
  EXPECT_TRUE(seen.count("2.0.0"));
  EXPECT_EQ(emu_.Requests("/ver1/checkUpdate").size(), 1u);

  // A finished check lets a new one start; its "no update" keeps what is known.
  emu_.ClearFaults();
  Answer(0, "");
  ASSERT_TRUE(checker.Start());
  ASSERT_TRUE(checker.WaitIdle(kDeadline));
  EXPECT_EQ(checker.LatestVersion(), "2.0.0");
  EXPECT_EQ(emu_.Requests("/ver1/checkUpdate").size(), 2u);
}

TEST_F(UpdateCheckTest, DestroyingTheCheckerWaitsForItsThread) {
  Answer(1, "2.0.0");
  DelayAnswers(200ms);
  {
    UpdateChecker checker(kInstalled);
    ASSERT_TRUE(checker.Start());
  }
  // The thread is gone with its checker; the request had been answered.
  EXPECT_EQ(emu_.Requests("/ver1/checkUpdate").size(), 1u);
}

TEST_F(UpdateCheckTest, ProcessCheckSendsTheConfiguredVersion) {
  testing_support::TempFolder home;
  ASSERT_TRUE(home.Ok());
  {
    std::ofstream ini(home.Folder() + "set.ini");
    ini << "[Install]\nVersion=1.2.3\n";
  }
  ASSERT_EQ(::setenv("QUILLORA_HOME", home.Folder().c_str(), 1), 0);
  // The configuration store keeps the device identifier in the user's
  // configuration folder; keep it out of the real one.
  ASSERT_EQ(::setenv("XDG_CONFIG_HOME", home.Path().c_str(), 1), 0);
  Answer(1, "2.0.0");

  ASSERT_TRUE(StartUpdateCheck());
  const auto until = std::chrono::steady_clock::now() + kDeadline;
  while (GetLatestVersion().empty() && std::chrono::steady_clock::now() < until) {
    std::this_thread::sleep_for(5ms);  // polling a condition, bounded by the deadline
  }
  EXPECT_EQ(GetLatestVersion(), "2.0.0");
  const auto requests = emu_.Requests("/ver1/checkUpdate");
  ASSERT_EQ(requests.size(), 1u);
  Json::Value body;
  Json::Reader reader;
  ASSERT_TRUE(reader.parse(requests[0].body, body));
  EXPECT_EQ(body["software_name"].asString(), "Quillora");
  EXPECT_EQ(body["software_version"].asString(), "1.2.3");
  EXPECT_EQ(body["software_package"].asString(), "setup_Quillora_1.2.3.exe");
  ::unsetenv("QUILLORA_HOME");
  ::unsetenv("XDG_CONFIG_HOME");
}

}  // namespace
}  // namespace quillora
