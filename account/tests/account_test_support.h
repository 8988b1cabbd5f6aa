#pragma once
// Shared by the account tests: an embedded emulator, a session over a private
// store, an AccountService over both, and recording stand-ins for the two
// windows that let a test wait for what an answer did.
#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "account/account_service.h"
#include "account/session/user_session.h"
#include "emulator/emulator.h"
#include "platform/key_value_store.h"
#include "platform/tests/test_support.h"

namespace quillora::testing_support {

// Lines such as "poll wechat L123", "error signin 验证码错误", "captcha mode",
// "stop sms", "stop polls", "picture 1 /tmp/...", "close 12343".
class EventLog {
 public:
  void Add(std::string line);
  // Waits for a line starting with `prefix` that no earlier wait took, and
  // takes it.
  std::optional<std::string> WaitFor(const std::string& prefix,
                                     std::chrono::milliseconds timeout = std::chrono::seconds(20));
  std::vector<std::string> Lines() const;

 private:
  mutable std::mutex mutex_;
  std::condition_variable changed_;
  std::vector<std::string> lines_;
  std::vector<bool> taken_;
};

class RecordingLoginWindow : public LoginWindowLink {
 public:
  void StartPolling(BrowserSignIn which, const std::string& tag) override;
  void ShowError(ErrorArea area, const std::string& text) override;
  void EnterCaptchaMode() override { log.Add("captcha mode"); }
  void StopSmsCountdown() override { log.Add("stop sms"); }
  void StopPollTimers() override { log.Add("stop polls"); }
  void SetCaptchaPicture(int userValue, const std::string& path) override;
  void CloseWithCode(int code) override { log.Add("close " + std::to_string(code)); }
  EventLog log;
};

class RecordingMainWindow : public MainWindowLink {
 public:
  void RefreshUserInfo() override { log.Add("refresh"); }
  EventLog log;
};

class AccountFixture : public ::testing::Test {
 protected:
  static constexpr char kDeviceId[] = "0123456789ABCDEF0123456789ABCDEF";

  void SetUp() override;
  void TearDown() override;

  // A WeChat account without a mobile number, known to the emulator and
  // signed in.
  void SignedInByWeChat(const std::string& name, const std::string& token, std::int64_t uid = 0);
  // (Re)creates the service; the previous one is gone first.
  void MakeService(bool firstRun = false, bool sendStartEvents = false);
  // Waits until an answer of `kind` not yet taken has been handled; its report.
  std::optional<AnswerReport> WaitForAnswer(std::int32_t kind,
                                            std::chrono::milliseconds timeout = std::chrono::seconds(20));
  // Until the emulator has recorded `n` statistics events.
  bool WaitForStatsEvents(size_t n);
  std::vector<std::string> OpenedUrls() const;
  // The sign-in as a fresh session would load it from the store.
  SessionData Reloaded() const;
  // The body members of the last request to `endpoint`, in the order sent.
  std::vector<std::string> MemberOrder(const std::string& endpoint) const;

  TempFolder dir_;
  std::string tempFolder_;
  std::unique_ptr<emulator::Emulator> emu_;
  platform::KeyValueStore store_{dir_.Path() + "/store"};
  std::string key_ = SavedSignInKeyPath(kDeviceId);
  UserSession session_{store_, key_};
  RecordingLoginWindow window_;
  RecordingMainWindow main_;
  std::unique_ptr<AccountService> service_;

 private:
  mutable std::mutex mutex_;
  std::condition_variable answered_;
  std::vector<AnswerReport> answers_;
  std::vector<bool> answerTaken_;
  std::vector<std::string> opened_;
};

}  // namespace quillora::testing_support
