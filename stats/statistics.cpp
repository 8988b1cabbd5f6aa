#include "stats/statistics.h"

#include <cstdio>

#include "service/transport/remote_services.h"
#include "service/transport/signing.h"

namespace quillora::stats {
namespace {

// Length of the longest prefix of `text` within `limit` bytes that does not
// end inside a UTF-8 sequence.
std::size_t Utf8PrefixLength(std::string_view text, std::size_t limit) {
  if (text.size() <= limit) return text.size();
  std::size_t n = limit;
  while (n > 0 && (static_cast<unsigned char>(text[n]) & 0xC0) == 0x80) --n;
  return n;
}

std::string HeaderLine(std::string_view name, std::string_view value) {
  std::string line(name);
  line += ':';
  line += value.substr(0, value.find_first_of(std::string_view("\r\n\0", 3)));
  line.resize(Utf8PrefixLength(line, kMaxHeaderLineBytes));
  return line;
}

}  // namespace

std::string EncodeInstallFileName(std::string_view utf8) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string out;
  for (char c : utf8) {
    const auto u = static_cast<unsigned char>(c);
    if (u >= 0x80) {
      out += '%';
      out += kHex[u >> 4];
      out += kHex[u & 0x0F];
    } else if (c == ' ') {
      out += "%20";
    } else {
      out += c;
    }
  }
  return out;
}

EventLines BuildEventLines(const StatisticsValues& v) {
  // The placeholder is built like the real sign line, over an empty time.
  const std::string sign = StatisticsSignLine("");
  return EventLines{
      HeaderLine("sign", sign.substr(5)),
      HeaderLine("distinct_id", v.deviceId),
      HeaderLine("os", v.os),
      HeaderLine("os_version", v.osVersion),
      HeaderLine("device_id", v.deviceId),
      HeaderLine("screen_height", v.screenHeight),
      HeaderLine("screen_width", v.screenWidth),
      // The adapter address is not sent: the device UID stands in for it.
      HeaderLine("mac_address", v.deviceId),
      HeaderLine("install_filename", EncodeInstallFileName(v.installFileName)),
      HeaderLine("software_name", v.softwareName),
      HeaderLine("software_version", v.softwareVersion),
  };
}

std::string LoginEventUrl(std::string_view method, std::string_view isSuccess, std::string_view failReason,
                          std::string_view isVip) {
  const std::string head = StatisticsUrl(kLoginEventPath) + "/loginMethod/" + std::string(method) +
                           "/isSuccess/" + std::string(isSuccess) + "/failReason/";
  const std::string tail = "/isVip/" + std::string(isVip);
  if (head.size() + tail.size() > kMaxLoginUrlBytes) return {};
  const std::size_t room = kMaxLoginUrlBytes - head.size() - tail.size();
  return head + std::string(failReason.substr(0, Utf8PrefixLength(failReason, room))) + tail;
}

StatisticsClient::StatisticsClient(void* context, AsyncHttpRequest::NarrowCallback callback)
    : context_(context), callback_(callback) {}

StatisticsClient::~StatisticsClient() { Shutdown(); }

void StatisticsClient::Shutdown() {
  std::map<std::int32_t, std::unique_ptr<AsyncHttpRequest>> slots;
  {
    std::lock_guard lock(mutex_);
    stopped_ = true;
    slots.swap(slots_);
  }
  slots.clear();  // joins the slots' threads outside the lock
}

void StatisticsClient::SetValues(const StatisticsValues& values) {
  std::lock_guard lock(mutex_);
  values_ = values;
}

StatisticsValues StatisticsClient::Values() const {
  std::lock_guard lock(mutex_);
  return values_;
}

void StatisticsClient::SendStartupEvents(bool firstRun, std::int32_t userValue) {
  if (firstRun) {
    {
      std::lock_guard lock(mutex_);
      startAfterInstall_ = true;
      startUserValue_ = userValue;
    }
    if (SendInstallEvent(userValue)) return;
    std::lock_guard lock(mutex_);
    startAfterInstall_ = false;
  }
  SendStartEvent(userValue);
}

void StatisticsClient::OnAnswer(void* context, std::int32_t kind, std::int32_t userValue, std::string response) {
  auto* self = static_cast<StatisticsClient*>(context);
  if (self->callback_ != nullptr) self->callback_(self->context_, kind, userValue, response);
  if (kind != kInstallEventKind) return;
  bool sendStart = false;
  std::int32_t startValue = 0;
  {
    std::lock_guard lock(self->mutex_);
    ++self->installAnswers_;
    if (self->installAnswers_ % 2 == 0 && self->startAfterInstall_) {
      self->startAfterInstall_ = false;
      sendStart = true;
      startValue = self->startUserValue_;
    }
  }
  if (sendStart) self->SendStartEvent(startValue);
}

bool StatisticsClient::InFlight() const {
  std::lock_guard lock(mutex_);
  for (const auto& [kind, slot] : slots_) {
    if (slot->Busy()) return true;
  }
  return false;
}

bool StatisticsClient::SendInstallEvent(std::int32_t userValue) {
  return Send(kInstallEventKind, userValue, StatisticsUrl(kInstallEventPath));
}

bool StatisticsClient::SendStartEvent(std::int32_t userValue) {
  return Send(kStartEventKind, userValue, StatisticsUrl(kStartEventPath));
}

bool StatisticsClient::SendLoginEvent(std::string_view method, std::string_view isSuccess,
                                      std::string_view failReason, std::string_view isVip,
                                      std::int32_t userValue) {
  const std::string url = LoginEventUrl(method, isSuccess, failReason, isVip);
  if (url.empty()) return false;
  return Send(kLoginEventKind, userValue, url);
}

bool StatisticsClient::Send(std::int32_t kind, std::int32_t userValue, const std::string& url) {
  std::lock_guard lock(mutex_);
  if (stopped_) return false;
  auto& slot = slots_[kind];
  if (!slot) {
    slot = std::make_unique<AsyncHttpRequest>(this, kind, &StatisticsClient::OnAnswer, userValue);
  } else {
    // The user value of an exchange in flight stays its own.
    if (slot->Busy()) return false;
    slot->SetUserValue(userValue);
  }
  return slot->SendEvent(url, BuildEventLines(values_));
}

}  // namespace quillora::stats
