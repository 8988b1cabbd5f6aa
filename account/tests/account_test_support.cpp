#include "account/tests/account_test_support.h"

#include <filesystem>
#include <thread>

#include "service/transport/remote_services.h"

namespace quillora::testing_support {

void EventLog::Add(std::string line) {
  {
    std::lock_guard lock(mutex_);
    lines_.push_back(std::move(line));
    taken_.push_back(false);
  }
  changed_.notify_all();
}

std::optional<std::string> EventLog::WaitFor(const std::string& prefix, std::chrono::milliseconds timeout) {
  std::unique_lock lock(mutex_);
  std::optional<std::string> found;
  changed_.wait_for(lock, timeout, [&] {
    for (size_t i = 0; i < lines_.size(); ++i) {
      if (!taken_[i] && lines_[i].rfind(prefix, 0) == 0) {
        taken_[i] = true;
        found = lines_[i];
        return true;
      }
    }
    return false;
  });
  return found;
}

std::vector<std::string> EventLog::Lines() const {
  std::lock_guard lock(mutex_);
  return lines_;
}

void RecordingLoginWindow::StartPolling(BrowserSignIn which, const std::string& tag) {
  log.Add(std::string("poll ") + (which == BrowserSignIn::WeChat ? "wechat " : "qq ") + tag);
}

void RecordingLoginWindow::ShowError(ErrorArea area, const std::string& text) {
  log.Add(std::string("error ") + (area == ErrorArea::SignIn ? "signin " : "bind ") + text);
}

void RecordingLoginWindow::SetCaptchaPicture(int userValue, const std::string& path) {
  log.Add("picture " + std::to_string(userValue) + " " + path);
}

void AccountFixture::SetUp() {
  emulator::Options o;
  o.threads = 8;
  emu_ = std::make_unique<emulator::Emulator>(o);
  ASSERT_TRUE(emu_->Start()) << emu_->LastError();
  ConfigureRemoteServices(emu_->Settings());
  tempFolder_ = dir_.Path() + "/tmp/";
  std::filesystem::create_directories(tempFolder_);
  MakeService();
}

void AccountFixture::TearDown() {
  service_.reset();
  emu_.reset();
  ConfigureRemoteServices(DefaultServiceSettings());
}

void AccountFixture::SignedInByWeChat(const std::string& name, const std::string& token, std::int64_t uid) {
  emulator::User u;
  u.username = name;
  u.usertoken = token;
  u.accounttype = 3;
  u.uid = uid;
  emu_->AddUser(u);
  session_.SetSignIn(name, token, LoginType::WeChat);
}

void AccountFixture::MakeService(bool firstRun, bool sendStartEvents) {
  service_.reset();
  AccountServiceOptions o;
  o.clientValues.deviceid = kDeviceId;
  o.clientValues.softname = "Quillora";
  o.clientValues.softversion = "1.0.0";
  o.osName = "10";
  o.screenWidth = "1920";
  o.screenHeight = "1080";
  o.installerFileName = "setup_Quillora_1.0.0.exe";
  o.firstRun = firstRun;
  o.sendStartEvents = sendStartEvents;
  o.session = &session_;
  o.tempFolder = tempFolder_;
  o.openUrl = [this](const std::string& url) {
    std::lock_guard lock(mutex_);
    opened_.push_back(url);
  };
  service_ = std::make_unique<AccountService>(std::move(o));
  service_->SetAnswerObserver([this](const AnswerReport& r) {
    {
      std::lock_guard lock(mutex_);
      answers_.push_back(r);
      answerTaken_.push_back(false);
    }
    answered_.notify_all();
  });
  service_->SetLoginWindow(&window_);
}

std::optional<AnswerReport> AccountFixture::WaitForAnswer(std::int32_t kind, std::chrono::milliseconds timeout) {
  std::unique_lock lock(mutex_);
  std::optional<AnswerReport> found;
  answered_.wait_for(lock, timeout, [&] {
    for (size_t i = 0; i < answers_.size(); ++i) {
      if (!answerTaken_[i] && answers_[i].kind == kind) {
        answerTaken_[i] = true;
        found = answers_[i];
        return true;
      }
    }
    return false;
  });
  return found;
}

bool AccountFixture::WaitForStatsEvents(size_t n) {
  return EventuallyTrue([&] { return emu_->StatsEvents().size() >= n; }, std::chrono::seconds(30));
}

std::vector<std::string> AccountFixture::OpenedUrls() const {
  std::lock_guard lock(mutex_);
  return opened_;
}

SessionData AccountFixture::Reloaded() const {
  platform::KeyValueStore store(store_.Folder());
  UserSession fresh(store, key_);
  fresh.LoadSaved();
  return fresh.Snapshot();
}

std::vector<std::string> AccountFixture::MemberOrder(const std::string& endpoint) const {
  const auto requests = emu_->Requests("/api/v4/" + endpoint);
  std::vector<std::string> keys;
  if (requests.empty()) return keys;
  // Bodies are flat objects of strings: every key is a quoted text followed
  // by a colon.
  const std::string& body = requests.back().body;
  for (size_t colon = body.find("\":"); colon != std::string::npos; colon = body.find("\":", colon + 2)) {
    const size_t open = body.rfind('"', colon - 1);
    if (open != std::string::npos) keys.push_back(body.substr(open + 1, colon - open - 1));
  }
  return keys;
}

}  // namespace quillora::testing_support
