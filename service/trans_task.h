#pragma once
// One translation job and the seam through which the task manager reports on
// it. A front (a translation page, the command-line tool, a test) fills a
// TransTask, hands it to TransTaskManager::AddTask and gets it back exactly
// once through TaskNotifier::OnTaskFinished.
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

namespace DirectUI {
class CControlUI;
}

namespace quillora {

// The toolkit control (a translation page) that receives a task's final
// notification. The service layer only carries and compares it.
using NotifyTarget = DirectUI::CControlUI*;

// The value every front sends as "limitsize".
inline constexpr int32_t kDefaultLimitSize = 30720;

struct TransTask {
  // Who receives the final notification: for the windows, the page control.
  // Other fronts (tests, the command-line tool) pass any distinct address of
  // their own, which is never dereferenced. Null means nobody is told and the
  // manager destroys the record itself.
  NotifyTarget notifyTarget = nullptr;
  std::string sourcePath;  // UTF-8 path; for text tasks a made-up document name
  std::string taskType;    // "fanyi", "voicefanyi" or "ocrfanyi"
  std::string sourceLang;  // "fanyi_from"
  std::string targetLang;  // "fanyi_to"
  std::string outputExt;   // result extension without the dot
  std::string resultText;  // UTF-8, filled when the service has finished
  std::string sourceText;  // UTF-8 text to translate; empty for file tasks
  std::string resultPath;  // UTF-8 path of the saved result, filled on success
  int32_t limitSize = kDefaultLimitSize;
  std::string paraInfo;    // "parainfo", sent only when not empty
  bool isDocument = false; // result text comes from the converted file's preview
  // Filled by the manager when the task fails: which step failed, in words
  // (the pages show their own failure text; the command-line tool prints it).
  std::string failureReason;
};

// The three final notifications, by the names the pages listen for.
inline constexpr char kNotifyParamsFailed[] = "initfasifaild";
inline constexpr char kNotifyFailed[] = "uploadfilefaild";
inline constexpr char kNotifySucceeded[] = "uploadfilesuccess";

enum class TaskStage {
  kQueued,             // waiting behind other tasks
  kUploading,          // bytesSent of bytesTotal sent (text tasks: one step)
  kWaitingForService,  // uploaded; polling the task state
  kDownloading,        // fetching the result text and file
};

struct TaskProgress {
  uint64_t taskId = 0;  // the number AddTask returned for the task
  TaskStage stage = TaskStage::kQueued;
  uint64_t bytesSent = 0;
  uint64_t bytesTotal = 0;
  size_t queuePosition = 0;  // kQueued: tasks ahead of this one, counting the running one
};

const char* TaskStageName(TaskStage stage);

// Implemented by each front. Both calls arrive on the manager's threads
// (OnTaskProgress for kQueued also on the thread that called AddTask) and
// must return promptly without waiting for the front's own thread: the
// windows post an asynchronous toolkit notification, the command-line tool
// records the state and wakes its main thread.
class TaskNotifier {
 public:
  virtual ~TaskNotifier() = default;

  // The task ended. `notification` is one of the three names above; the
  // record's ownership passes to the notifier and the manager never touches it
  // again. Never called for a task whose notifyTarget is null.
  virtual void OnTaskFinished(NotifyTarget target, std::string_view notification,
                              std::unique_ptr<TransTask> task) = 0;

  // The stage of a task changed, or more of its bytes were sent. Optional.
  virtual void OnTaskProgress(NotifyTarget target, const TaskProgress& progress) {
    (void)target;
    (void)progress;
  }
};

}  // namespace quillora
