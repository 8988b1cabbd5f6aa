#include "update/update_check.h"

#include <utility>

#include "update/update_request.h"

namespace quillora {

UpdateChecker::UpdateChecker(UpdateCheckIdentity identity) : identity_(std::move(identity)) {}

UpdateChecker::~UpdateChecker() {
  std::thread finished;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    finished = std::move(thread_);
  }
  if (finished.joinable()) finished.join();
}

bool UpdateChecker::Start() {
  std::thread previous;
  std::lock_guard<std::mutex> lock(mutex_);
  if (running_) return false;
  // A thread that marked itself done has nothing left to do but return;
  // joining it here keeps exactly one thread object per checker.
  previous = std::move(thread_);
  if (previous.joinable()) previous.join();
  running_ = true;
  thread_ = std::thread(&UpdateChecker::Run, this, identity_);
  return true;
}

bool UpdateChecker::Running() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return running_;
}

bool UpdateChecker::WaitIdle(std::chrono::milliseconds timeout) const {
  std::unique_lock<std::mutex> lock(mutex_);
  return idle_.wait_for(lock, timeout, [this] { return !running_; });
}

std::string UpdateChecker::LatestVersion() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return latestVersion_;
}

void UpdateChecker::Run(UpdateCheckIdentity identity) {
  const std::string answer = CheckUpdateRequest(identity.name, identity.version, identity.package);
  const UpdateAnswer parsed = ParseUpdateAnswer(answer);
  std::lock_guard<std::mutex> lock(mutex_);
  if (parsed.code == kUpdateAvailable && !parsed.newVersion.empty()) {
    latestVersion_ = parsed.newVersion;
  }
  running_ = false;
  idle_.notify_all();
}

}  // namespace quillora
