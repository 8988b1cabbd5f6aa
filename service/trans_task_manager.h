#pragma once
// The process's translation task queue: tasks run one at a time, oldest
// first, on the manager's worker thread. Every task added ends with exactly
// one final notification through the TaskNotifier (or, when its notifyTarget
// is null, is destroyed silently); see docs/task-protocol.md for the road.
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

#include "service/identity/identity.h"
#include "service/task_protocol.h"
#include "service/trans_task.h"
#include "service/transport/http.h"

namespace quillora {

struct TaskManagerOptions {
  // Pause before each task-state request.
  std::chrono::milliseconds pollInterval{1500};
  // How long the service may take to finish one task before the task fails:
  // two hours fit the longest audio or video a user can send (the pages
  // refuse files over 50 MiB) with a wide margin.
  std::chrono::milliseconds pollBound{std::chrono::hours(2)};
  // Installation values sent with the requests (productInfo is ignored:
  // memparm supplies it).
  SoftwareIdentity identity;
  // Read when a task is about to save its result: the folder with a trailing
  // separator. An empty or missing folder fails the task (a drive that is not
  // plugged in must not get a new folder on another disk)...
  std::function<std::string()> outputFolder;
  // ...except this one (with a trailing separator), which is created when
  // missing: the default output folder, the user's Documents folder, which a
  // fresh account may not have yet. Empty: none.
  std::string creatableOutputFolder;
  // Largest result file accepted; a bigger one fails the task.
  uint64_t maxResultBytes = kMaxDownloadBytes;
  // Read once per task: the signed-in user, nothing when signed out.
  std::function<std::optional<SignInValues>()> signIn;
  // Folder (with a trailing separator) of the preview text files.
  std::string tempFolder;
};

class TransTaskManager {
 public:
  // The program's manager, created on first call with the configuration
  // store's identity, output folder and the saved sign-in; never destroyed.
  // Fronts set their notifier on it before adding tasks.
  static TransTaskManager& Instance();

  // A manager of its own (tests, tools).
  explicit TransTaskManager(TaskManagerOptions options);
  // Cuts the running task short and ends it and every queued task with
  // "uploadfilefaild", then joins the worker. The notifier must still be alive.
  ~TransTaskManager();
  TransTaskManager(const TransTaskManager&) = delete;
  TransTaskManager& operator=(const TransTaskManager&) = delete;

  // Where final notifications and progress go; not owned. Without one, every
  // finished task is destroyed.
  void SetNotifier(TaskNotifier* notifier);

  // Takes ownership of a filled task, queues it and starts it when nothing
  // runs. Returns the task's number (1, 2, ...), which progress reports carry.
  // A null task is ignored (returns 0).
  uint64_t AddTask(std::unique_ptr<TransTask> task);
  uint64_t AddTask(TransTask* task) { return AddTask(std::unique_ptr<TransTask>(task)); }

  // Starts the oldest waiting task when none runs. AddTask and the end of each
  // task call it; calling it otherwise is harmless.
  void StartNext();

  // True while a task runs; the number of tasks waiting behind it.
  bool IsBusy() const;
  size_t QueueLength() const;

  // The service's product info; empty until memparm first succeeds.
  std::string ProductInfo() const;

 private:
  struct Job {
    uint64_t id = 0;
    std::unique_ptr<TransTask> task;
  };
  enum class Ending { kParamsFailed, kFailed, kSucceeded };

  void WorkerLoop();
  Ending RunTask(Job& job);
  void Finish(Job job, Ending ending);
  void Report(const Job& job, TaskStage stage, uint64_t sent = 0, uint64_t total = 0);
  bool WaitOrStop(std::chrono::milliseconds duration);
  // True when results can be saved into `folder`, creating it when it is the
  // creatable one; otherwise `why` says what is wrong.
  bool OutputFolderReady(const std::string& folder, std::string& why) const;
  bool Stopping() const;
  TaskNotifier* Notifier() const;

  const TaskManagerOptions options_;

  mutable std::mutex mutex_;  // the queue lock: guards everything below
  std::condition_variable wake_;
  std::deque<Job> queue_;
  std::optional<Job> next_;  // handed from StartNext to the worker
  bool busy_ = false;
  bool stopping_ = false;
  uint64_t lastId_ = 0;
  TaskNotifier* notifier_ = nullptr;
  std::string productInfo_;
  std::thread worker_;

  // Touched by the worker thread only.
  SoftwareIdentity identity_;
  int uploadCounter_ = 0;
  int previewCounter_ = 0;
};

}  // namespace quillora
