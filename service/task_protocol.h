#pragma once
// The requests of one translation task, in the order the worker makes them:
// memparm, uploadpar, the chunked file upload or the text upload, the task
// state poll, the result text, taskdown. Each is a blocking call on the
// calling thread through the transport recipes; none throws.
#include <json/value.h>

#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "service/identity/identity.h"
#include "service/trans_task.h"

namespace quillora {

// The signed-in user whose account and token travel with a task.
struct SignInValues {
  std::string account;
  std::string usertoken;
};

// What uploadpar hands back; every later request of the task quotes it.
struct TaskTicket {
  std::string tasktag;
  std::string tasktoken;
  std::string timestamp;
};

// memparm: the product info on success, nothing otherwise. `identity`
// supplies product id, software name and version.
std::optional<std::string> FetchServiceParams(const SoftwareIdentity& identity);

struct CreateTaskRequest {
  const TransTask* task = nullptr;
  std::string uploadName;  // "QuilloraFileSize<n><ext>"
  int64_t serverTime = 0;
  const SoftwareIdentity* identity = nullptr;
  const SignInValues* signIn = nullptr;  // null when signed out
};

// uploadpar. Nothing when the service refused the task (a code other than
// 10000, or no code). An answer that does not parse yields an empty ticket:
// the task goes on and the service refuses the requests that follow.
std::optional<TaskTicket> CreateTask(const CreateTaskRequest& request);

// Called with the bytes of the file sent so far and the file size.
using UploadProgress = std::function<void(uint64_t sent, uint64_t total)>;
// Polled between chunks; true asks the upload to stop (it then fails).
using CancelCheck = std::function<bool()>;

// The file in 4 MiB chunks through one reused buffer. Fails when the file
// cannot be opened or read, changes size while it is read, no whole answer
// arrives for a chunk (connection failed, dropped or timed out, answer cut
// short), a chunk is answered with a code other than 10000 or 11000, or
// `cancelled` says so. A chunk answered with a body that does not parse
// counts as accepted. On failure `failureReason`, when given, says why.
bool UploadFileChunks(const std::string& path, const TaskTicket& ticket,
                      const UploadProgress& progress = {}, const CancelCheck& cancelled = {},
                      std::string* failureReason = nullptr);

// uploadtext: the UTF-8 text sent as "\uXXXX" escapes of its UTF-16 units.
bool UploadText(std::string_view text, const TaskTicket& ticket);

// The fields of the status requests (taskstate and taskdown).
struct StatusRequest {
  const TaskTicket* ticket = nullptr;
  const SoftwareIdentity* identity = nullptr;  // productInfo filled by memparm
  const SignInValues* signIn = nullptr;
};

enum class PollResult { kDone, kFailed, kTimedOut, kCancelled };

struct PollSettings {
  std::chrono::milliseconds interval{1500};
  // Total time allowed for the service to finish; see docs/task-protocol.md.
  std::chrono::milliseconds bound{std::chrono::hours(2)};
  // Waits for the interval; returns false when the wait was cut short by a
  // cancellation. Empty: a plain sleep.
  std::function<bool(std::chrono::milliseconds)> wait;
};

// taskstate, once per interval, until code 10000 (then `*doneAnswer` holds
// that answer), a failure code (18000, 19000, 19025, -201904), the bound, or
// a cancellation. Unparsable answers and other codes keep it polling.
PollResult PollTaskState(const StatusRequest& request, const PollSettings& settings,
                         Json::Value* doneAnswer);

// The translated text of a finished task. For documents: the preview file
// named in "fileconvertinfos", downloaded to the path `previewPath` makes
// (asked only when there is a name) and read as UTF-8 with CR LF turned into
// LF; empty when it cannot be fetched. Otherwise "txtcontent". A too short
// "fileconvertinfos" leaves task.resultText as it was.
void FetchResultText(TransTask& task, const Json::Value& stateAnswer,
                     const std::function<std::string()>& previewPath);

// taskdown: the result's download address, empty unless answered with 10000.
std::string FetchDownloadUrl(const StatusRequest& request);

}  // namespace quillora
