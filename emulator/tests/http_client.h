#pragma once
// A minimal libcurl client for the emulator's own tests and load check:
// verification stays on, the emulator's CA file is trusted.
#include <curl/curl.h>
#include <json/json.h>

#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace quillora::emulator::testing {

struct HttpResult {
  CURLcode curl = CURLE_OK;
  long status = 0;
  std::string body;
  bool Ok() const { return curl == CURLE_OK; }
};

struct HttpRequest {
  std::string method = "GET";
  std::string url;
  std::string body;
  std::vector<std::string> headers;
  std::string caFile;
  long timeoutMs = 10000;
};

// The JSON value of an answer body; null when it does not parse.
inline Json::Value ParseAnswer(const std::string& text) {
  Json::CharReaderBuilder b;
  std::unique_ptr<Json::CharReader> r(b.newCharReader());
  Json::Value v;
  std::string errors;
  if (!r->parse(text.data(), text.data() + text.size(), &v, &errors)) return Json::Value();
  return v;
}

inline size_t CollectBody(char* data, size_t size, size_t n, void* user) {
  static_cast<std::string*>(user)->append(data, size * n);
  return size * n;
}

inline HttpResult Perform(const HttpRequest& r) {
  HttpResult out;
  CURL* h = curl_easy_init();
  if (!h) {
    out.curl = CURLE_FAILED_INIT;
    return out;
  }
  curl_slist* list = nullptr;
  for (const auto& line : r.headers) list = curl_slist_append(list, line.c_str());
  curl_easy_setopt(h, CURLOPT_URL, r.url.c_str());
  curl_easy_setopt(h, CURLOPT_NOSIGNAL, 1L);
  curl_easy_setopt(h, CURLOPT_TIMEOUT_MS, r.timeoutMs);
  curl_easy_setopt(h, CURLOPT_CONNECTTIMEOUT_MS, r.timeoutMs);
  if (!r.caFile.empty()) curl_easy_setopt(h, CURLOPT_CAINFO, r.caFile.c_str());
  if (r.method == "POST") {
    curl_easy_setopt(h, CURLOPT_POST, 1L);
    curl_easy_setopt(h, CURLOPT_POSTFIELDS, r.body.data());
    curl_easy_setopt(h, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(r.body.size()));
  }
  if (list) curl_easy_setopt(h, CURLOPT_HTTPHEADER, list);
  curl_easy_setopt(h, CURLOPT_WRITEFUNCTION, CollectBody);
  curl_easy_setopt(h, CURLOPT_WRITEDATA, &out.body);
  out.curl = curl_easy_perform(h);
  curl_easy_getinfo(h, CURLINFO_RESPONSE_CODE, &out.status);
  curl_slist_free_all(list);
  curl_easy_cleanup(h);
  return out;
}

inline HttpResult Get(const std::string& url, const std::string& caFile = std::string(),
                      std::vector<std::string> headers = {}) {
  HttpRequest r;
  r.url = url;
  r.caFile = caFile;
  r.headers = std::move(headers);
  return Perform(r);
}

inline HttpResult Post(const std::string& url, const std::string& body, const std::string& caFile = std::string(),
                       long timeoutMs = 10000) {
  HttpRequest r;
  r.method = "POST";
  r.url = url;
  r.body = body;
  r.caFile = caFile;
  r.headers = {"Content-Type:application/json"};
  r.timeoutMs = timeoutMs;
  return Perform(r);
}

}  // namespace quillora::emulator::testing
