#include "update/update_check.h"

#include <condition_variable>
#include <exception>
#include <mutex>
#include <thread>
#include <utility>

#include "update/update_request.h"

namespace quillora {

// Shared by the checker and its thread.
struct UpdateChecker::State {
  std::mutex mutex;  // the update lock: guards the members below
  std::condition_variable idle;
  bool running = false;
  std::string latestVersion;
};

UpdateChecker::UpdateChecker(UpdateCheckIdentity identity)
    : identity_(std::move(identity)), state_(std::make_shared<State>()) {}

UpdateChecker::~UpdateChecker() {
  std::unique_lock<std::mutex> lock(state_->mutex);
  state_->idle.wait(lock, [this] { return !state_->running; });
}

bool UpdateChecker::Start() {
  std::lock_guard<std::mutex> lock(state_->mutex);
  if (state_->running) return false;
  try {
    std::thread([state = state_, identity = identity_] { Run(state, identity); }).detach();
  } catch (const std::exception&) {
    return false;  // no thread could be made: no check this time
  }
  state_->running = true;
  return true;
}

bool UpdateChecker::Running() const {
  std::lock_guard<std::mutex> lock(state_->mutex);
  return state_->running;
}

bool UpdateChecker::WaitIdle(std::chrono::milliseconds timeout) const {
  std::unique_lock<std::mutex> lock(state_->mutex);
  return state_->idle.wait_for(lock, timeout, [this] { return !state_->running; });
}

std::string UpdateChecker::LatestVersion() const {
  std::lock_guard<std::mutex> lock(state_->mutex);
  return state_->latestVersion;
}

void UpdateChecker::Run(const std::shared_ptr<State>& state, const UpdateCheckIdentity& identity) {
  UpdateAnswer parsed;
  try {
    parsed = ParseUpdateAnswer(CheckUpdateRequest(identity.name, identity.version, identity.package));
  } catch (const std::exception&) {
    // Out of memory while asking: counts as no answer.
  }
  std::lock_guard<std::mutex> lock(state->mutex);
  if (parsed.code == kUpdateAvailable && !parsed.newVersion.empty()) {
    state->latestVersion = parsed.newVersion;
  }
  state->running = false;
  state->idle.notify_all();
}

}  // namespace quillora
