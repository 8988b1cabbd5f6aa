#pragma once
// The main program's update check: asks the update service once, on its own
// thread, and remembers the newest version for the settings page. Installing
// is the Update program's job; nothing here compares versions, an answer with
// code 1 means that an update exists.
#include <chrono>
#include <memory>
#include <string>

namespace quillora {

// What the check sends: product identifier, installed version and the
// installer file name of the installed version.
struct UpdateCheckIdentity {
  std::string name;
  std::string version;
  std::string package;
};

class UpdateChecker {
 public:
  explicit UpdateChecker(UpdateCheckIdentity identity);
  // Waits for a running check to end (at most the requests' time-outs).
  ~UpdateChecker();
  UpdateChecker(const UpdateChecker&) = delete;
  UpdateChecker& operator=(const UpdateChecker&) = delete;

  // Starts the check thread unless one is running. True when a check was
  // started. The thread is detached and shares only the state below, so a
  // check never has to be joined, and the process-wide checker can be left
  // running when the program ends.
  bool Start();
  // True while a check thread runs.
  bool Running() const;
  // Waits until no check runs; false when `timeout` passed first.
  bool WaitIdle(std::chrono::milliseconds timeout) const;
  // The newest version reported by the service; empty until an answer with
  // code 1 and a version arrived. Never cleared once set.
  std::string LatestVersion() const;

 private:
  struct State;
  static void Run(const std::shared_ptr<State>& state, const UpdateCheckIdentity& identity);

  const UpdateCheckIdentity identity_;
  const std::shared_ptr<State> state_;
};

// The process-wide check, fed from the configuration store (product name,
// installed version, installer file name). The remote services must have
// been configured for the process. Returns whether a check was started.
bool StartUpdateCheck();
// A copy of the newest version known to the process-wide check.
std::string GetLatestVersion();

}  // namespace quillora
