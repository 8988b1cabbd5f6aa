#pragma once
// Blocking HTTP recipes on the libcurl easy interface. Each call creates its
// own easy handle, performs it once and cleans it up, on the calling thread.
//
// Common to every request made by this library (blocking or asynchronous):
// - libcurl is initialised once per process before the first handle;
// - signals are off (CURLOPT_NOSIGNAL), so time-outs work on any thread;
// - TLS peers and host names are always verified; the configured CA file
//   (remote_services.h) is trusted in addition to the system store;
// - redirects are not followed and nothing is retried; callers judge JSON
//   answers by their body, and by PostStatus where a missing answer or the
//   HTTP status matters;
// - an answer longer than kMaxAnswerBytes is cut off and treated as if
//   nothing had arrived.
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>
#include <string_view>

namespace quillora {

inline constexpr std::size_t kMaxAnswerBytes = 16u * 1024u * 1024u;

// What an asynchronous request or a time query reports when nothing usable
// arrived.
inline constexpr char kSubstituteAnswer[] = "{\"code\":0}";

// Called on the requesting thread while a transfer runs: bytes done so far
// and the total when known (0 otherwise). Must return quickly.
using TransferProgress = std::function<void(std::uint64_t done, std::uint64_t total)>;

// How a POST went, for the callers that must tell "no answer" from "an
// answer that does not parse".
struct PostStatus {
  // A whole HTTP answer arrived: false when the connection failed, was
  // dropped or reset, timed out, or the answer was cut short.
  bool answered = false;
  long httpStatus = 0;  // 0 when no status line arrived
};

// curl_global_init(CURL_GLOBAL_ALL), once per process; every function here
// calls it itself, programs may call it early at start-up.
void EnsureCurlInitialised();

// POST of `body` with "Content-Type:application/json"; connect and total
// time-outs 10 s. Returns what arrived (empty or partial on failure);
// `status`, when given, tells how the exchange ended.
std::string PostJsonBlocking(const std::string& url, std::string_view body, PostStatus* status = nullptr);

// POST of raw bytes (an upload chunk) with "Content-Type:application/json".
// Connect time-out 10 s; instead of a total time-out the transfer is given up
// when it runs below 1 KB/s for 30 s, so large chunks on slow lines finish.
// `progress` reports the bytes sent so far. Returns what arrived; `status`,
// when given, tells how the exchange ended.
std::string PostBytesBlocking(const std::string& url, const void* bytes, std::size_t length,
                              const TransferProgress& progress = {}, PostStatus* status = nullptr);

// GET with connect and total time-outs of 3 s. Returns kSubstituteAnswer
// when the transfer failed and nothing arrived.
std::string GetBlocking(const std::string& url);

// Largest body DownloadToFile accepts unless told otherwise: a result file.
inline constexpr std::uint64_t kMaxDownloadBytes = std::uint64_t{1} << 30;

// GET into a file. Returns true only for a complete body with a 2xx status
// of at most `maxBytes` bytes. The body is written to a short-named
// temporary file in the folder of `path` and renamed into place on success,
// so a failed or oversized download never leaves a partial or error page at
// `path` (an existing file there stays untouched) nor anything else behind.
// A missing target folder fails without a request. Connect time-out 10 s;
// given up below 1 KB/s for 30 s.
bool DownloadToFile(const std::string& url, const std::filesystem::path& path,
                    const TransferProgress& progress = {}, std::uint64_t maxBytes = kMaxDownloadBytes);

}  // namespace quillora
