#include "service/task_protocol.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <fstream>
#include <iterator>
#include <thread>
#include <vector>

#include "common/text.h"
#include "service/task_naming.h"
#include "service/transport/http.h"
#include "service/transport/json_answer.h"
#include "service/transport/remote_services.h"
#include "service/transport/signing.h"

namespace quillora {
namespace {

constexpr int64_t kCodeSuccess = 10000;
constexpr int64_t kCodeChunkAccepted = 11000;

bool IsFailureStateCode(int64_t code) {
  return code == 18000 || code == 19000 || code == 19025 || code == -201904;
}

// A parsed answer's "code"; a parsed answer without an integral code counts
// as 0, which no request treats as success.
int64_t CodeOf(const Json::Value& answer) { return AnswerCode(answer).value_or(0); }

void AddSignIn(ParamMap& map, const SignInValues* signIn) {
  if (signIn == nullptr) return;
  map.Set("account", signIn->account);
  map.Set("usertoken", signIn->usertoken);
}

ParamMap StatusParams(const StatusRequest& request) {
  ParamMap map;
  map.Set("deviceid", request.identity->machineId);
  map.Set("timestamp", request.ticket->timestamp);
  map.Set("productinfo", request.identity->productInfo);
  map.Set("tasktag", request.ticket->tasktag);
  AddSignIn(map, request.signIn);
  return map;
}

// Reads until `buffer` holds `want` bytes or the file ends. Returns the bytes
// read, or -1 on a read error.
int64_t ReadFully(int fd, char* buffer, size_t want) {
  size_t got = 0;
  while (got < want) {
    const ssize_t n = ::read(fd, buffer + got, want - got);
    if (n < 0) {
      if (errno == EINTR) continue;
      return -1;
    }
    if (n == 0) break;
    got += static_cast<size_t>(n);
  }
  return static_cast<int64_t>(got);
}

class FileHandle {
 public:
  explicit FileHandle(int fd) : fd_(fd) {}
  ~FileHandle() {
    if (fd_ >= 0) ::close(fd_);
  }
  FileHandle(const FileHandle&) = delete;
  FileHandle& operator=(const FileHandle&) = delete;
  int get() const { return fd_; }

 private:
  int fd_;
};

}  // namespace

std::optional<std::string> FetchServiceParams(const SoftwareIdentity& identity) {
  ParamMap map;
  map.Set("productid", identity.productId);
  map.Set("softname", identity.softwareName);
  map.Set("softversion", identity.softwareVersion);
  const auto answer = ParseJsonAnswer(PostJsonBlocking(ApiUrl("memparm"), BuildSignedBody(map)));
  if (!answer || CodeOf(*answer) != kCodeSuccess) return std::nullopt;
  return JsonString(*answer, "productinfo").value_or(std::string());
}

std::optional<TaskTicket> CreateTask(const CreateTaskRequest& request) {
  const TransTask& task = *request.task;
  const SoftwareIdentity& id = *request.identity;
  ParamMap map;
  map.Set("tasktype", task.taskType);
  map.SetInt("limitsize", task.limitSize);
  map.Set("filename", request.uploadName);
  map.Set("filecount", "1");
  map.Set("isshare", "0");
  if (!task.paraInfo.empty()) map.Set("parainfo", task.paraInfo);
  map.SetInt("timestamp", request.serverTime);
  map.Set("softname", id.softwareName);
  map.Set("softversion", id.softwareVersion);
  map.Set("machineid", id.machineId);
  map.Set("productid", id.productId);
  map.Set("fanyi_from", task.sourceLang);
  map.Set("fanyi_to", task.targetLang);
  map.Set("outputfileextension", task.outputExt);
  AddSignIn(map, request.signIn);

  TaskTicket ticket;
  const auto answer = ParseJsonAnswer(PostJsonBlocking(ApiUrl("uploadpar"), BuildSignedBody(map)));
  if (!answer) return ticket;
  if (CodeOf(*answer) != kCodeSuccess) return std::nullopt;
  ticket.tasktag = JsonString(*answer, "tasktag").value_or(std::string());
  ticket.tasktoken = JsonString(*answer, "tasktoken").value_or(std::string());
  ticket.timestamp = JsonString(*answer, "timestamp").value_or(std::string());
  return ticket;
}

bool UploadFileChunks(const std::string& path, const TaskTicket& ticket,
                      const UploadProgress& progress, const CancelCheck& cancelled,
                      std::string* failureReason) {
  const auto fail = [failureReason](std::string why) {
    if (failureReason != nullptr) *failureReason = std::move(why);
    return false;
  };
  FileHandle file(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
  if (file.get() < 0) return fail("the file cannot be opened: " + std::string(std::strerror(errno)));
  struct stat st {};
  if (::fstat(file.get(), &st) != 0 || !S_ISREG(st.st_mode)) return fail("the file is not a regular file");
  ::posix_fadvise(file.get(), 0, 0, POSIX_FADV_SEQUENTIAL);

  const uint64_t size = static_cast<uint64_t>(st.st_size);
  const uint64_t chunks = ChunkCount(size);
  const std::string urlHead = "uploadfile?tasktag=" + UrlEncode(ticket.tasktag) +
                              "&timestamp=" + UrlEncode(ticket.timestamp) +
                              "&tasktoken=" + UrlEncode(ticket.tasktoken) +
                              "&fileindex=0&chunks=" + std::to_string(chunks) + "&chunk=";
  if (progress) progress(0, size);

  std::vector<char> buffer(chunks > 0 ? kUploadChunkSize : 0);
  uint64_t sent = 0;
  for (uint64_t chunk = 0; chunk < chunks; ++chunk) {
    if (cancelled && cancelled()) return fail("cancelled");
    const std::string part = "part " + std::to_string(chunk + 1) + " of " + std::to_string(chunks);
    const uint64_t want = std::min<uint64_t>(kUploadChunkSize, size - sent);
    const int64_t got = ReadFully(file.get(), buffer.data(), static_cast<size_t>(want));
    // A short read means the file shrank under us: the service would get a
    // file that never existed, so the task fails instead.
    if (got < 0) return fail("the file could not be read");
    if (static_cast<uint64_t>(got) != want) return fail("the file changed while it was sent");

    TransferProgress chunkProgress;
    if (progress) {
      chunkProgress = [&progress, sent, size, want](uint64_t done, uint64_t) {
        progress(sent + std::min(done, want), size);
      };
    }
    PostStatus status;
    const std::string answerText = PostBytesBlocking(ApiUrl(urlHead + std::to_string(chunk)),
                                                     buffer.data(), static_cast<size_t>(want),
                                                     chunkProgress, &status);
    // Without an answer nobody knows whether the service kept the bytes; going
    // on would report a translation of a file the service may never have had.
    if (!status.answered) return fail("no answer arrived for " + part + " of the file (uploadfile)");
    if (const auto answer = ParseJsonAnswer(answerText)) {
      const int64_t code = CodeOf(*answer);
      if (code != kCodeSuccess && code != kCodeChunkAccepted) {
        return fail("the service refused " + part + " of the file (uploadfile, code " + std::to_string(code) + ")");
      }
    }
    sent += want;
    if (progress) progress(sent, size);
  }
  return true;
}

bool UploadText(std::string_view text, const TaskTicket& ticket) {
  ParamMap map;
  map.Set("tasktag", ticket.tasktag);
  map.Set("timestamp", ticket.timestamp);
  map.Set("tasktoken", ticket.tasktoken);
  map.Set("fileindex", "0");
  map.SetPreEscaped("textvoice", EscapeUtf16Units(text));
  const auto answer = ParseJsonAnswer(PostJsonBlocking(ApiUrl("uploadtext"), BuildPlainBody(map)));
  return answer && CodeOf(*answer) == kCodeSuccess;
}

PollResult PollTaskState(const StatusRequest& request, const PollSettings& settings,
                         Json::Value* doneAnswer) {
  ParamMap map = StatusParams(request);
  map.SetInt("ifshowtxt", 1);
  const std::string body = BuildSignedBody(map);
  const std::string url = ApiUrl("taskstate");
  const auto deadline = std::chrono::steady_clock::now() + settings.bound;
  for (;;) {
    if (settings.wait) {
      if (!settings.wait(settings.interval)) return PollResult::kCancelled;
    } else {
      std::this_thread::sleep_for(settings.interval);
    }
    if (std::chrono::steady_clock::now() >= deadline) return PollResult::kTimedOut;
    const auto answer = ParseJsonAnswer(PostJsonBlocking(url, body));
    if (!answer) continue;
    const int64_t code = CodeOf(*answer);
    if (code == kCodeSuccess) {
      if (doneAnswer != nullptr) *doneAnswer = *answer;
      return PollResult::kDone;
    }
    if (IsFailureStateCode(code)) return PollResult::kFailed;
  }
}

void FetchResultText(TransTask& task, const Json::Value& stateAnswer,
                     const std::function<std::string()>& previewPath) {
  if (!task.isDocument) {
    task.resultText = JsonString(stateAnswer, "txtcontent").value_or(std::string());
    return;
  }
  const std::string name =
      PreviewNameFromConvertInfo(JsonString(stateAnswer, "fileconvertinfos").value_or(std::string()));
  if (name.empty()) return;
  task.resultText.clear();
  const std::string path = previewPath();
  // A failed download leaves any older file of that name in place; it must
  // not pass for this task's text.
  // The preview is read into memory whole: it gets the bound of an answer.
  if (!DownloadToFile(PreviewUrl(UrlEncodePath(name)), path, {}, kMaxAnswerBytes)) return;
  std::ifstream in(path, std::ios::binary);
  if (!in) return;
  const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  // Malformed bytes become U+FFFD, as a UTF-8 to UTF-16 conversion would do.
  task.resultText = Utf16ToUtf8(Utf8ToUtf16(CrLfToLf(bytes)));
}

std::string FetchDownloadUrl(const StatusRequest& request) {
  const auto answer =
      ParseJsonAnswer(PostJsonBlocking(ApiUrl("taskdown"), BuildSignedBody(StatusParams(request))));
  if (!answer || CodeOf(*answer) != kCodeSuccess) return {};
  return JsonString(*answer, "downurl").value_or(std::string());
}

}  // namespace quillora
