#pragma once
// A private desktop tray for tests: its own X display (Xvfb) and session bus
// (dbus-daemon) with a StatusNotifier watcher and host on it (sni_watcher). A
// program started with Environment() sees a tray; what its tray item shows
// arrives as the watcher's report lines. Needs no Qt. (Qt's offscreen
// platform has no tray of any kind, hence the X display.)
#include <chrono>
#include <string>
#include <vector>

namespace quillora::testing_support {

class PrivateTrayHost {
 public:
  // Starts the bus and the watcher (`watcherProgram` is sni_watcher's path).
  explicit PrivateTrayHost(const std::string& watcherProgram);
  ~PrivateTrayHost();  // ends both
  PrivateTrayHost(const PrivateTrayHost&) = delete;
  PrivateTrayHost& operator=(const PrivateTrayHost&) = delete;

  // False, with a reason, when no tray could be set up.
  bool Ready() const { return ready_; }
  const std::string& Problem() const { return problem_; }
  const std::string& BusAddress() const { return address_; }
  const std::string& Display() const { return display_; }
  // "NAME=value" entries for a program on this desktop (xcb platform).
  std::vector<std::string> Environment() const;
  // Sets the same in this process (before Qt starts).
  void EnterEnvironment() const;

  // Waits until the watcher has reported a line starting with `prefix`
  // (an item's "menu " line ends its report); that line, or "" on timeout.
  // A zero timeout only looks at what has arrived (for a caller that must
  // keep its own event loop turning meanwhile).
  // Only lines from number `from` on count (LineCount() before an action
  // waits for what the action brings).
  std::string WaitForLine(const std::string& prefix, std::chrono::milliseconds timeout = std::chrono::seconds(60),
                          size_t from = 0);
  size_t LineCount() const { return lines_.size(); }
  // Sends a command to the watcher ("activate", "click <label>"); its
  // answer arrives as a "done" or "failed" line.
  bool Send(const std::string& command);
  // Every line reported so far.
  const std::vector<std::string>& Lines() const { return lines_; }

  // Empty when dbus-daemon and Xvfb are installed, else what is missing
  // (tests skip with it).
  static std::string MissingTools();

 private:
  bool ReadLine(int fd, std::string& buffer, std::string& line, std::chrono::milliseconds timeout);

  bool StartDisplay();
  bool StartBus();

  int displayPid_ = -1, busPid_ = -1, watcherPid_ = -1;
  int displayOut_ = -1, busOut_ = -1, watcherIn_ = -1, watcherOut_ = -1;
  std::string displayBuffer_, busBuffer_, watcherBuffer_;
  std::string display_, address_, problem_;
  std::vector<std::string> lines_;
  bool ready_ = false;
};

}  // namespace quillora::testing_support
