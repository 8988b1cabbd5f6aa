#pragma once
// Internal to the transport library: what every easy handle gets.
#include <curl/curl.h>

#include <cstddef>
#include <string>

#include "service/transport/http.h"
#include "service/transport/shared_transport.h"

namespace quillora::transport_detail {

// The body of an answer, cut off at kMaxAnswerBytes.
struct AnswerBuffer {
  std::string data;
  bool overflow = false;

  void Clear() {
    data.clear();
    overflow = false;
  }
};

// CURLOPT_WRITEFUNCTION for an AnswerBuffer passed as CURLOPT_WRITEDATA.
size_t WriteAnswer(char* ptr, size_t size, size_t count, void* userdata);

// Signals off, peer and host verification on against the process's trust
// store (the system store and the configured CA file), the process-wide
// share of connections, TLS sessions and DNS answers, no redirects. `shared`
// must be kept until the handle is cleaned up or prepared again. Returns
// false when the options could not be set (the request must then not be
// made).
bool ApplyCommonOptions(CURL* easy, SharedTransportRef& shared);

// The URL with spaces and control characters written as %XX: libcurl refuses
// such URLs outright, while callers insert texts (an error message in a
// statistics path) as they are. Every other byte, including UTF-8, is kept.
std::string UrlForCurl(const std::string& url);

// Owns a header list for the duration of one request.
class HeaderList {
 public:
  HeaderList() = default;
  HeaderList(const HeaderList&) = delete;
  HeaderList& operator=(const HeaderList&) = delete;
  ~HeaderList() { curl_slist_free_all(list_); }

  // Line breaks and NULs would let a value start a header of its own; a line
  // is cut at the first of them.
  void Append(const std::string& line);
  curl_slist* Get() const { return list_; }
  void Reset() {
    curl_slist_free_all(list_);
    list_ = nullptr;
  }

 private:
  curl_slist* list_ = nullptr;
};

}  // namespace quillora::transport_detail
