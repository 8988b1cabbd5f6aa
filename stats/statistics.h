#pragma once
// Usage statistics: install, start and sign-in events sent to the statistics
// host as GETs whose path names the event and whose header lines describe the
// device and the program. Fire and forget: nothing waits for an event and no
// answer is acted upon.
#include <array>
#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>

#include "service/transport/async_http_request.h"

namespace quillora::stats {

// Request kinds of the three events (statistics kinds of the transport).
inline constexpr std::int32_t kInstallEventKind = 19;
inline constexpr std::int32_t kStartEventKind = 20;
inline constexpr std::int32_t kLoginEventKind = 21;

inline constexpr char kInstallEventPath[] = "/ver1/AppInstall";
inline constexpr char kStartEventPath[] = "/ver1/AppStart/isLogin/0/isVip/0";
inline constexpr char kLoginEventPath[] = "/ver1/AppLogin";

// The longest header line and the longest login URL, in bytes.
inline constexpr std::size_t kMaxHeaderLineBytes = 255;
inline constexpr std::size_t kMaxLoginUrlBytes = 1023;

// What the events say about the device and the program.
struct StatisticsValues {
  std::string deviceId;          // device UID
  std::string softwareName;      // "Quillora"
  std::string softwareVersion;
  std::string os = "Windows";
  std::string osVersion;         // the OS name of the identity values
  std::string screenHeight = "0";
  std::string screenWidth = "0";
  std::string installFileName;   // as given; encoded when the lines are built
};

// UTF-8 bytes of 0x80 and above become "%XX" (uppercase hex), a space "%20";
// every other byte stays.
std::string EncodeInstallFileName(std::string_view utf8);

using EventLines = AsyncHttpRequest::EventLines;

// The eleven header lines of an event, in sending order: a placeholder sign
// line over an empty time (the transport sends its own), then distinct_id,
// os, os_version, device_id, screen_height, screen_width, mac_address,
// install_filename, software_name and software_version. Each line is cut to
// kMaxHeaderLineBytes, without splitting a UTF-8 sequence, and cut at a line
// break or NUL so that no value can start a header of its own.
EventLines BuildEventLines(const StatisticsValues& values);

// "<stats host>/ver1/AppLogin/loginMethod/M/isSuccess/S/failReason/F/isVip/V"
// with the values as given (the fail reason is the raw UTF-8 error text). A
// URL that would exceed kMaxLoginUrlBytes is shortened by cutting the fail
// reason (at a UTF-8 boundary); when even that cannot make it fit, empty.
std::string LoginEventUrl(std::string_view method, std::string_view isSuccess, std::string_view failReason,
                          std::string_view isVip);

// One sender of events, with one request slot per event kind (created on the
// first event of that kind, reused afterwards). An event raised while the
// previous one of its kind is in flight is dropped. Answers go to `callback`
// with `context`, like any other answer of the owner.
class StatisticsClient {
 public:
  StatisticsClient(void* context, AsyncHttpRequest::NarrowCallback callback);
  ~StatisticsClient();
  StatisticsClient(const StatisticsClient&) = delete;
  StatisticsClient& operator=(const StatisticsClient&) = delete;

  // Set once, before the first event.
  void SetValues(const StatisticsValues& values);
  StatisticsValues Values() const;

  // The events of a program start: on a first run the install event, and the
  // start event once the install exchange is over (so the host sees them in
  // that order); otherwise the start event alone.
  void SendStartupEvents(bool firstRun, std::int32_t userValue);

  // False when the event was dropped (its slot busy) or could not be built.
  bool SendInstallEvent(std::int32_t userValue);
  bool SendStartEvent(std::int32_t userValue);
  bool SendLoginEvent(std::string_view method, std::string_view isSuccess, std::string_view failReason,
                      std::string_view isVip, std::int32_t userValue);

  // True while any event's exchange is running.
  bool InFlight() const;

  // Abandons events in flight and stops the slots' threads; no answer is
  // delivered afterwards. The destructor does the same.
  void Shutdown();

 private:
  bool Send(std::int32_t kind, std::int32_t userValue, const std::string& url);
  // The slots' callback: hands the answer on, and starts the start event
  // after the install exchange when asked to.
  static void OnAnswer(void* context, std::int32_t kind, std::int32_t userValue, std::string response);

  void* const context_;
  const AsyncHttpRequest::NarrowCallback callback_;
  mutable std::mutex mutex_;
  StatisticsValues values_;
  bool stopped_ = false;
  bool startAfterInstall_ = false;
  std::int32_t startUserValue_ = 0;
  int installAnswers_ = 0;  // each exchange answers twice: time, then event
  std::map<std::int32_t, std::unique_ptr<AsyncHttpRequest>> slots_;
};

}  // namespace quillora::stats
