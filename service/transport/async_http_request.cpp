#include "service/transport/async_http_request.h"

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <thread>
#include <utility>
#include <vector>

#include "common/text.h"
#include "service/transport/curl_common.h"
#include "service/transport/http.h"
#include "service/transport/remote_services.h"
#include "service/transport/signing.h"

namespace quillora {

using transport_detail::AnswerBuffer;
using transport_detail::ApplyCommonOptions;
using transport_detail::HeaderList;
using transport_detail::UrlForCurl;
using transport_detail::WriteAnswer;

namespace {

constexpr char kFormContentType[] = "Content-Type:application/x-www-form-urlencoded;charset:utf-8";
constexpr char kJsonContentType[] = "Content-Type:application/json";

enum class Step { Post, TimeQuery, Event };

// Everything one transfer needs; built by the submitter, consumed by the
// object's thread.
struct Transfer {
  Step step = Step::Post;
  std::string url;
  std::string body;                  // Post only
  std::vector<std::string> headers;  // in sending order
  long timeoutMs = 10000;
  // Statistics exchange: where the event goes once the time is known.
  std::string eventUrl;
  AsyncHttpRequest::EventLines lines;
};

}  // namespace

struct AsyncHttpRequest::Impl {
  void* context = nullptr;
  std::int32_t kind = 0;
  NarrowCallback narrow = nullptr;
  WideCallback wide = nullptr;

  // Hand-over between submitters and the object's thread.
  std::mutex mutex;
  std::condition_variable wake;
  bool busy = false;     // a request or exchange is in flight (submissions dropped)
  bool pending = false;  // `next` holds a transfer not yet taken by the thread
  bool stop = false;
  std::int32_t userValue = 0;
  Transfer next;
  std::atomic<bool> stopping{false};  // read by the transfer loop without the mutex

  // Used by the object's thread only (after construction).
  CURLM* multi = nullptr;
  CURL* easy = nullptr;
  transport_detail::SharedTransportRef shared;  // what `easy` is attached to
  AnswerBuffer response;

  std::thread thread;

  bool Submit(Transfer transfer);
  void Run();
  // Performs one transfer on the reused easy handle; returns the answer, the
  // substitute when nothing usable arrived. Sets `abandoned` when stopped.
  std::string Perform(const Transfer& transfer, bool& abandoned);
  void Deliver(std::string response);
};

bool AsyncHttpRequest::Impl::Submit(Transfer transfer) {
  {
    std::lock_guard lock(mutex);
    if (busy || stop) return false;
    next = std::move(transfer);
    busy = true;
    pending = true;
  }
  wake.notify_one();
  return true;
}

std::string AsyncHttpRequest::Impl::Perform(const Transfer& transfer, bool& abandoned) {
  abandoned = false;
  response.Clear();
  if (easy == nullptr || multi == nullptr) return kSubstituteAnswer;
  // A reset drops the previous request's options; open connections live in
  // the process-wide share and stay.
  curl_easy_reset(easy);
  HeaderList headers;
  for (const auto& line : transfer.headers) headers.Append(line);
  bool ok = ApplyCommonOptions(easy, shared);
  ok = ok && curl_easy_setopt(easy, CURLOPT_URL, UrlForCurl(transfer.url).c_str()) == CURLE_OK;
  ok = ok && curl_easy_setopt(easy, CURLOPT_HTTPHEADER, headers.Get()) == CURLE_OK;
  ok = ok && curl_easy_setopt(easy, CURLOPT_WRITEFUNCTION, &WriteAnswer) == CURLE_OK;
  ok = ok && curl_easy_setopt(easy, CURLOPT_WRITEDATA, &response) == CURLE_OK;
  ok = ok && curl_easy_setopt(easy, CURLOPT_TIMEOUT_MS, transfer.timeoutMs) == CURLE_OK;
  ok = ok && curl_easy_setopt(easy, CURLOPT_CONNECTTIMEOUT_MS, transfer.timeoutMs) == CURLE_OK;
  if (transfer.step == Step::Post) {
    ok = ok && curl_easy_setopt(easy, CURLOPT_POST, 1L) == CURLE_OK;
    ok = ok && curl_easy_setopt(easy, CURLOPT_POSTFIELDSIZE_LARGE,
                                static_cast<curl_off_t>(transfer.body.size())) == CURLE_OK;
    ok = ok && curl_easy_setopt(easy, CURLOPT_POSTFIELDS, transfer.body.c_str()) == CURLE_OK;
    // No CURLOPT_PIPEWAIT: an object runs one request at a time, so there is
    // never a connection of its own to wait for, and with the process-wide
    // pool a wait for a connection held elsewhere is never woken (the
    // request would hang past every time-out).
  } else {
    ok = ok && curl_easy_setopt(easy, CURLOPT_HTTPGET, 1L) == CURLE_OK;
  }
  if (!ok || curl_multi_add_handle(multi, easy) != CURLM_OK) return kSubstituteAnswer;

  for (;;) {
    int running = 0;
    const CURLMcode rc = curl_multi_perform(multi, &running);
    if (rc != CURLM_OK || running == 0) break;
    if (stopping.load()) {
      abandoned = true;
      break;
    }
    // Waits for socket activity, curl's own timers, a wake-up or 100 ms.
    if (curl_multi_poll(multi, nullptr, 0, 100, nullptr) != CURLM_OK) break;
  }
  curl_multi_remove_handle(multi, easy);
  if (response.overflow || response.data.empty()) return kSubstituteAnswer;
  return std::move(response.data);
}

void AsyncHttpRequest::Impl::Deliver(std::string answer) {
  std::int32_t value = 0;
  {
    std::lock_guard lock(mutex);
    value = userValue;
  }
  if (narrow != nullptr) {
    narrow(context, kind, value, std::move(answer));
  } else if (wide != nullptr) {
    wide(context, kind, value, IsValidUtf8(answer) ? Utf8ToUtf16(answer) : std::u16string());
  }
}

void AsyncHttpRequest::Impl::Run() {
  for (;;) {
    Transfer transfer;
    {
      std::unique_lock lock(mutex);
      wake.wait(lock, [this] { return stop || pending; });
      if (stop) return;
      transfer = std::move(next);
      pending = false;
    }
    bool abandoned = false;
    std::string answer = Perform(transfer, abandoned);
    if (abandoned) return;
    const bool timeAnswer = transfer.step == Step::TimeQuery;
    std::string time = timeAnswer ? TimeTextFromAnswer(answer) : std::string();
    Deliver(std::move(answer));

    std::lock_guard lock(mutex);
    if (timeAnswer && IsStatisticsKind(kind) && !stop) {
      // The event follows at once; the object stays busy in between, so a
      // new event cannot slip into the exchange.
      Transfer event;
      event.step = Step::Event;
      event.url = std::move(transfer.eventUrl);
      event.headers.push_back(kFormContentType);
      event.headers.push_back(StatisticsSignLine(time));
      for (std::size_t i = 1; i < transfer.lines.size(); ++i) event.headers.push_back(transfer.lines[i]);
      event.timeoutMs = 3000;
      next = std::move(event);
      pending = true;
    } else {
      busy = false;
    }
  }
}

AsyncHttpRequest::AsyncHttpRequest(void* context, std::int32_t kind, NarrowCallback callback,
                                   std::int32_t userValue)
    : AsyncHttpRequest(context, kind, callback, nullptr, userValue) {}

AsyncHttpRequest::AsyncHttpRequest(void* context, std::int32_t kind, WideCallback callback,
                                   std::int32_t userValue)
    : AsyncHttpRequest(context, kind, nullptr, callback, userValue) {}

AsyncHttpRequest::AsyncHttpRequest(void* context, std::int32_t kind, NarrowCallback narrow, WideCallback wide,
                                   std::int32_t userValue)
    : impl_(std::make_unique<Impl>()) {
  EnsureCurlInitialised();
  impl_->context = context;
  impl_->kind = kind;
  impl_->narrow = narrow;
  impl_->wide = wide;
  impl_->userValue = userValue;
  impl_->multi = curl_multi_init();
  impl_->easy = curl_easy_init();
  if (impl_->multi != nullptr) curl_multi_setopt(impl_->multi, CURLMOPT_PIPELINING, CURLPIPE_MULTIPLEX);
  impl_->thread = std::thread([impl = impl_.get()] { impl->Run(); });
}

AsyncHttpRequest::~AsyncHttpRequest() {
  {
    std::lock_guard lock(impl_->mutex);
    impl_->stop = true;
  }
  impl_->stopping.store(true);
  impl_->wake.notify_one();
  if (impl_->multi != nullptr) curl_multi_wakeup(impl_->multi);
  if (impl_->thread.joinable()) impl_->thread.join();
  if (impl_->easy != nullptr) curl_easy_cleanup(impl_->easy);
  if (impl_->multi != nullptr) curl_multi_cleanup(impl_->multi);
}

void AsyncHttpRequest::SetUserValue(std::int32_t value) {
  std::lock_guard lock(impl_->mutex);
  impl_->userValue = value;
}

bool AsyncHttpRequest::PostForm(const std::string& url, std::string_view body) {
  Transfer t;
  t.url = url;
  t.body.assign(body);
  t.headers.push_back(kFormContentType);
  return impl_->Submit(std::move(t));
}

bool AsyncHttpRequest::PostJson(const std::string& url, std::string_view body) {
  Transfer t;
  t.url = url;
  t.body.assign(body);
  t.headers.push_back(kJsonContentType);
  return impl_->Submit(std::move(t));
}

bool AsyncHttpRequest::SendEvent(const std::string& url, const EventLines& lines) {
  Transfer t;
  t.step = Step::TimeQuery;
  t.url = ServerTimeUrl();
  t.headers.push_back(kFormContentType);
  t.timeoutMs = 20000;
  t.eventUrl = url;
  t.lines = lines;
  return impl_->Submit(std::move(t));
}

bool AsyncHttpRequest::Busy() const {
  std::lock_guard lock(impl_->mutex);
  return impl_->busy;
}

std::string AsyncHttpRequest::TimeTextFromAnswer(std::string_view answer) {
  if (answer.size() <= 22) return {};
  std::string time(answer.substr(answer.size() - 12, 10));
  // Whatever the host answered, the time text goes into a header line.
  for (char c : time) {
    if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f) return {};
  }
  return time;
}

}  // namespace quillora
