#include "service/transport/http.h"

#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <limits>
#include <memory>
#include <mutex>
#include <system_error>

#include "service/transport/curl_common.h"

namespace quillora {
namespace transport_detail {

size_t WriteAnswer(char* ptr, size_t size, size_t count, void* userdata) {
  auto* buffer = static_cast<AnswerBuffer*>(userdata);
  const size_t n = size * count;
  if (buffer->overflow || n > kMaxAnswerBytes - buffer->data.size()) {
    buffer->overflow = true;
    return 0;  // aborts the transfer (CURLE_WRITE_ERROR)
  }
  buffer->data.append(ptr, n);
  return n;
}

bool ApplyCommonOptions(CURL* easy, SharedTransportRef& shared) {
  EnsureCurlInitialised();
  bool ok = curl_easy_setopt(easy, CURLOPT_NOSIGNAL, 1L) == CURLE_OK;
  ok = ok && curl_easy_setopt(easy, CURLOPT_SSL_VERIFYPEER, 1L) == CURLE_OK;
  ok = ok && curl_easy_setopt(easy, CURLOPT_SSL_VERIFYHOST, 2L) == CURLE_OK;
  ok = ok && curl_easy_setopt(easy, CURLOPT_FOLLOWLOCATION, 0L) == CURLE_OK;
  return ok && AttachSharedTransport(easy, shared);
}

std::string UrlForCurl(const std::string& url) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string out;
  out.reserve(url.size());
  for (char c : url) {
    const auto u = static_cast<unsigned char>(c);
    if (u <= 0x20 || u == 0x7f) {
      out += '%';
      out += kHex[u >> 4];
      out += kHex[u & 0x0f];
    } else {
      out += c;
    }
  }
  return out;
}

void HeaderList::Append(const std::string& line) {
  const std::string cut = line.substr(0, line.find_first_of(std::string("\r\n\0", 3)));
  if (curl_slist* grown = curl_slist_append(list_, cut.c_str())) list_ = grown;
}

}  // namespace transport_detail

using transport_detail::AnswerBuffer;
using transport_detail::ApplyCommonOptions;
using transport_detail::HeaderList;
using transport_detail::UrlForCurl;
using transport_detail::WriteAnswer;

namespace {

struct EasyHandle {
  EasyHandle() : h((EnsureCurlInitialised(), curl_easy_init())) {}
  ~EasyHandle() {
    if (h != nullptr) curl_easy_cleanup(h);
  }
  EasyHandle(const EasyHandle&) = delete;
  EasyHandle& operator=(const EasyHandle&) = delete;
  CURL* h;
  // Outlives the handle's cleanup (members go after the destructor body).
  transport_detail::SharedTransportRef shared;
};

enum class Direction { Up, Down };

struct ProgressState {
  const TransferProgress* callback = nullptr;
  Direction direction = Direction::Up;
  curl_off_t lastDone = -1;
  curl_off_t lastTotal = -1;
};

int OnProgress(void* clientp, curl_off_t dltotal, curl_off_t dlnow, curl_off_t ultotal, curl_off_t ulnow) {
  auto* state = static_cast<ProgressState*>(clientp);
  const curl_off_t done = state->direction == Direction::Up ? ulnow : dlnow;
  const curl_off_t total = state->direction == Direction::Up ? ultotal : dltotal;
  if (done != state->lastDone || total != state->lastTotal) {
    state->lastDone = done;
    state->lastTotal = total;
    (*state->callback)(static_cast<std::uint64_t>(done), static_cast<std::uint64_t>(total));
  }
  return 0;
}

bool SetProgress(CURL* easy, ProgressState& state) {
  if (!state.callback || !*state.callback) return true;
  return curl_easy_setopt(easy, CURLOPT_XFERINFOFUNCTION, &OnProgress) == CURLE_OK &&
         curl_easy_setopt(easy, CURLOPT_XFERINFODATA, &state) == CURLE_OK &&
         curl_easy_setopt(easy, CURLOPT_NOPROGRESS, 0L) == CURLE_OK;
}

// One POST with "Content-Type:application/json". Returns what arrived; an
// answer over the size bound counts as nothing.
std::string Post(const std::string& url, const void* bytes, std::size_t length, bool lowSpeedLimit,
                 const TransferProgress* progress, PostStatus* status) {
  PostStatus ignored;
  if (status == nullptr) status = &ignored;
  *status = PostStatus{};
  EasyHandle easy;
  if (easy.h == nullptr || !ApplyCommonOptions(easy.h, easy.shared)) return {};
  HeaderList headers;
  headers.Append("Content-Type:application/json");
  AnswerBuffer answer;
  ProgressState state{progress, Direction::Up};
  bool ok = curl_easy_setopt(easy.h, CURLOPT_URL, UrlForCurl(url).c_str()) == CURLE_OK;
  ok = ok && curl_easy_setopt(easy.h, CURLOPT_POST, 1L) == CURLE_OK;
  ok = ok && curl_easy_setopt(easy.h, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(length)) == CURLE_OK;
  ok = ok && curl_easy_setopt(easy.h, CURLOPT_POSTFIELDS, length == 0 ? "" : bytes) == CURLE_OK;
  ok = ok && curl_easy_setopt(easy.h, CURLOPT_HTTPHEADER, headers.Get()) == CURLE_OK;
  ok = ok && curl_easy_setopt(easy.h, CURLOPT_WRITEFUNCTION, &WriteAnswer) == CURLE_OK;
  ok = ok && curl_easy_setopt(easy.h, CURLOPT_WRITEDATA, &answer) == CURLE_OK;
  ok = ok && curl_easy_setopt(easy.h, CURLOPT_CONNECTTIMEOUT_MS, 10000L) == CURLE_OK;
  if (lowSpeedLimit) {
    ok = ok && curl_easy_setopt(easy.h, CURLOPT_LOW_SPEED_LIMIT, 1024L) == CURLE_OK;
    ok = ok && curl_easy_setopt(easy.h, CURLOPT_LOW_SPEED_TIME, 30L) == CURLE_OK;
  } else {
    ok = ok && curl_easy_setopt(easy.h, CURLOPT_TIMEOUT_MS, 10000L) == CURLE_OK;
  }
  ok = ok && SetProgress(easy.h, state);
  if (!ok) return {};
  const bool performed = curl_easy_perform(easy.h) == CURLE_OK;
  curl_easy_getinfo(easy.h, CURLINFO_RESPONSE_CODE, &status->httpStatus);
  status->answered = performed && status->httpStatus != 0;
  if (answer.overflow) return {};
  return std::move(answer.data);
}

// Where a download's body goes: the staging file, and how much of the bound
// is used.
struct FileSink {
  std::FILE* file = nullptr;
  std::uint64_t written = 0;
  std::uint64_t limit = 0;
};

// CURLOPT_WRITEFUNCTION into a FileSink; a short write (full disk) or a body
// past the bound aborts.
size_t WriteFile(char* ptr, size_t size, size_t count, void* userdata) {
  auto* sink = static_cast<FileSink*>(userdata);
  const size_t n = size * count;
  if (n > sink->limit - sink->written) return 0;
  if (std::fwrite(ptr, 1, n, sink->file) != n) return 0;
  sink->written += n;
  return n;
}

// Opens a new file in the folder of `target` that did not exist before. Its
// name is short whatever the target's, so that a target name near the file
// system's limit can still be staged; the leading dot keeps it out of
// ordinary folder views while it is written.
std::FILE* OpenTemporaryBeside(const std::filesystem::path& target, std::filesystem::path& temp) {
  static std::atomic<unsigned> counter{0};
  for (int attempt = 0; attempt < 100; ++attempt) {
    temp = target.parent_path() /
           (".quillora-" + std::to_string(::getpid()) + "-" + std::to_string(counter++) + ".part");
    if (std::FILE* f = std::fopen(temp.c_str(), "wbx")) return f;
    if (errno != EEXIST) return nullptr;
  }
  return nullptr;
}

}  // namespace

void EnsureCurlInitialised() {
  static std::once_flag once;
  std::call_once(once, [] { curl_global_init(CURL_GLOBAL_ALL); });
}

std::string PostJsonBlocking(const std::string& url, std::string_view body, PostStatus* status) {
  return Post(url, body.data(), body.size(), false, nullptr, status);
}

std::string PostBytesBlocking(const std::string& url, const void* bytes, std::size_t length,
                              const TransferProgress& progress, PostStatus* status) {
  return Post(url, bytes, length, true, &progress, status);
}

std::string GetBlocking(const std::string& url) {
  EasyHandle easy;
  if (easy.h == nullptr || !ApplyCommonOptions(easy.h, easy.shared)) return kSubstituteAnswer;
  AnswerBuffer answer;
  bool ok = curl_easy_setopt(easy.h, CURLOPT_URL, UrlForCurl(url).c_str()) == CURLE_OK;
  ok = ok && curl_easy_setopt(easy.h, CURLOPT_HTTPGET, 1L) == CURLE_OK;
  ok = ok && curl_easy_setopt(easy.h, CURLOPT_WRITEFUNCTION, &WriteAnswer) == CURLE_OK;
  ok = ok && curl_easy_setopt(easy.h, CURLOPT_WRITEDATA, &answer) == CURLE_OK;
  ok = ok && curl_easy_setopt(easy.h, CURLOPT_CONNECTTIMEOUT, 3L) == CURLE_OK;
  ok = ok && curl_easy_setopt(easy.h, CURLOPT_TIMEOUT, 3L) == CURLE_OK;
  if (!ok) return kSubstituteAnswer;
  const CURLcode rc = curl_easy_perform(easy.h);
  if (answer.overflow || (rc != CURLE_OK && answer.data.empty())) return kSubstituteAnswer;
  return std::move(answer.data);
}

bool DownloadToFile(const std::string& url, const std::filesystem::path& path, const TransferProgress& progress,
                    std::uint64_t maxBytes) {
  std::error_code ec;
  std::filesystem::path folder = path.parent_path();
  if (folder.empty()) folder = ".";
  if (path.filename().empty() || !std::filesystem::is_directory(folder, ec)) return false;

  EasyHandle easy;
  if (easy.h == nullptr || !ApplyCommonOptions(easy.h, easy.shared)) return false;
  std::filesystem::path temp;
  FileSink sink;
  sink.limit = maxBytes;
  sink.file = OpenTemporaryBeside(path, temp);
  if (sink.file == nullptr) return false;

  ProgressState state{&progress, Direction::Down};
  bool ok = curl_easy_setopt(easy.h, CURLOPT_URL, UrlForCurl(url).c_str()) == CURLE_OK;
  ok = ok && curl_easy_setopt(easy.h, CURLOPT_HTTPGET, 1L) == CURLE_OK;
  ok = ok && curl_easy_setopt(easy.h, CURLOPT_FAILONERROR, 1L) == CURLE_OK;
  ok = ok && curl_easy_setopt(easy.h, CURLOPT_WRITEFUNCTION, &WriteFile) == CURLE_OK;
  ok = ok && curl_easy_setopt(easy.h, CURLOPT_WRITEDATA, &sink) == CURLE_OK;
  // An announced length over the bound is refused before any byte is written.
  const auto announcedLimit = static_cast<curl_off_t>(
      std::min<std::uint64_t>(maxBytes, static_cast<std::uint64_t>(std::numeric_limits<curl_off_t>::max())));
  ok = ok && curl_easy_setopt(easy.h, CURLOPT_MAXFILESIZE_LARGE, announcedLimit) == CURLE_OK;
  ok = ok && curl_easy_setopt(easy.h, CURLOPT_CONNECTTIMEOUT_MS, 10000L) == CURLE_OK;
  ok = ok && curl_easy_setopt(easy.h, CURLOPT_LOW_SPEED_LIMIT, 1024L) == CURLE_OK;
  ok = ok && curl_easy_setopt(easy.h, CURLOPT_LOW_SPEED_TIME, 30L) == CURLE_OK;
  ok = ok && SetProgress(easy.h, state);
  if (ok) {
    long status = 0;
    ok = curl_easy_perform(easy.h) == CURLE_OK &&
         curl_easy_getinfo(easy.h, CURLINFO_RESPONSE_CODE, &status) == CURLE_OK && status >= 200 &&
         status < 300;
  }
  // A failed flush (full disk) loses the tail of the body.
  ok = (std::fclose(sink.file) == 0) && ok;
  if (ok) {
    std::filesystem::rename(temp, path, ec);
    ok = !ec;
  }
  if (!ok) std::filesystem::remove(temp, ec);
  return ok;
}

}  // namespace quillora
