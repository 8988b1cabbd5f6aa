#pragma once
// One copy of the program per user session. The first copy holds the guard
// for its whole life; a later copy finds it held and can ask the first copy
// to show its main window.
#include <functional>
#include <memory>
#include <string>

namespace quillora::platform {

class SingleInstance {
 public:
  enum class Role {
    Primary,    // this process holds the guard
    Secondary,  // another process holds it
    Unavailable // the guard could not be set up (no usable runtime folder)
  };

  // Tries to take the guard named `name` in the user's runtime folder
  // (`folder` overrides the folder, for tests; empty: the default).
  static std::unique_ptr<SingleInstance> Acquire(const std::string& name, const std::string& folder = {});

  ~SingleInstance();
  SingleInstance(const SingleInstance&) = delete;
  SingleInstance& operator=(const SingleInstance&) = delete;

  Role GetRole() const;

  // Primary only: `onShowRequest` runs on the guard's own listener thread each
  // time another copy asks to show the main window; the caller hands the
  // request over to its UI thread. Replaces an earlier handler. Until the
  // first handler is set, requests wait unanswered (for up to the asking
  // copy's patience), so none is acknowledged without being acted on.
  void SetShowRequestHandler(std::function<void()> onShowRequest);

  // Secondary only: asks the primary copy to show its main window. Returns
  // false when no primary copy answers (it may still be starting up).
  bool RequestShow() const;

 private:
  struct State;
  explicit SingleInstance(std::unique_ptr<State> state);
  std::unique_ptr<State> state_;
};

}  // namespace quillora::platform
