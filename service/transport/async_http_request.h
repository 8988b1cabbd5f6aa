#pragma once
// One asynchronous request object per request kind, on the libcurl multi
// interface, with its own thread that runs the transfer and calls back.
//
// A submission while a request (or a statistics exchange) is in flight is
// dropped without a callback. When the request is over the callback runs on
// the object's thread with (context, kind, userValue, response); the response
// is kSubstituteAnswer ("{\"code\":0}") when nothing usable arrived (failure,
// time-out, or an answer over kMaxAnswerBytes).
//
// Statistics kinds (18 to 28) use SendEvent: first the statistics host's time
// is asked for, then the event is sent as a GET whose header lines carry a
// sign line over that time; the callback runs for both answers.
#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

namespace quillora {

class AsyncHttpRequest {
 public:
  using NarrowCallback = void (*)(void* context, std::int32_t kind, std::int32_t userValue,
                                  std::string response);
  // The response converted to UTF-16; empty when it is not valid UTF-8.
  using WideCallback = void (*)(void* context, std::int32_t kind, std::int32_t userValue,
                                std::u16string response);
  using EventLines = std::array<std::string, 11>;

  static constexpr std::int32_t kFirstStatisticsKind = 18;
  static constexpr std::int32_t kLastStatisticsKind = 28;
  static bool IsStatisticsKind(std::int32_t kind) {
    return kind >= kFirstStatisticsKind && kind <= kLastStatisticsKind;
  }

  // Starts the object's thread. A null callback (NarrowCallback{}) is
  // allowed: answers are then dropped.
  AsyncHttpRequest(void* context, std::int32_t kind, NarrowCallback callback, std::int32_t userValue);
  AsyncHttpRequest(void* context, std::int32_t kind, WideCallback callback, std::int32_t userValue);
  // Abandons a request in flight (no callback follows) and stops the thread.
  // Must not be called from the object's own callback.
  ~AsyncHttpRequest();

  AsyncHttpRequest(const AsyncHttpRequest&) = delete;
  AsyncHttpRequest& operator=(const AsyncHttpRequest&) = delete;

  // Value handed to the next callbacks.
  void SetUserValue(std::int32_t value);

  // POST with "Content-Type:application/x-www-form-urlencoded;charset:utf-8".
  // The body is copied. Connect and total time-outs 10 s. Returns false when
  // the submission was dropped because the object is busy.
  bool PostForm(const std::string& url, std::string_view body);
  // The same with "Content-Type:application/json".
  bool PostJson(const std::string& url, std::string_view body);

  // Statistics exchange: the time query (20 s time-outs), then a GET of `url`
  // with the content-type line, StatisticsSignLine over the time cut out of
  // the time answer, and lines[1] to lines[10] (lines[0], the caller's own
  // sign line, is replaced). 3 s time-outs for the event. Only statistics
  // kinds go on to the event; other kinds stop after the time answer.
  // Returns false when dropped because busy.
  bool SendEvent(const std::string& url, const EventLines& lines);

  // True while a request or exchange is in flight.
  bool Busy() const;

  // The time text of a time answer: when the answer is longer than 22 bytes,
  // the 10 bytes that start 12 bytes before its end; otherwise empty.
  static std::string TimeTextFromAnswer(std::string_view answer);

 private:
  struct Impl;

  AsyncHttpRequest(void* context, std::int32_t kind, NarrowCallback narrow, WideCallback wide,
                   std::int32_t userValue);

  std::unique_ptr<Impl> impl_;
};

}  // namespace quillora
