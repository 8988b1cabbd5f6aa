#include "service/trans_task_manager.h"

#include <filesystem>
#include <system_error>
#include <utility>
#include <vector>

#include "platform/paths.h"
#include "service/task_naming.h"
#include "service/transport/http.h"
#include "service/transport/server_time.h"

namespace quillora {
namespace {

// Upload progress is reported at most this often (plus at each chunk's end),
// so that a fast link does not flood the front.
constexpr std::chrono::milliseconds kProgressPeriod{100};

}  // namespace

const char* TaskStageName(TaskStage stage) {
  switch (stage) {
    case TaskStage::kQueued: return "queued";
    case TaskStage::kUploading: return "uploading";
    case TaskStage::kWaitingForService: return "waiting";
    case TaskStage::kDownloading: return "downloading";
  }
  return "unknown";
}

TransTaskManager::TransTaskManager(TaskManagerOptions options)
    : options_(std::move(options)), identity_(options_.identity) {
  identity_.productInfo.clear();
  EnsureCurlInitialised();
}

TransTaskManager::~TransTaskManager() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stopping_ = true;
  }
  wake_.notify_all();
  if (worker_.joinable()) worker_.join();
  std::deque<Job> left;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (next_) left.push_back(std::move(*next_));
    next_.reset();
    for (Job& job : queue_) left.push_back(std::move(job));
    queue_.clear();
  }
  for (Job& job : left) {
    job.task->failureReason = "cancelled";
    Finish(std::move(job), Ending::kFailed);
  }
}

void TransTaskManager::SetNotifier(TaskNotifier* notifier) {
  std::lock_guard<std::mutex> lock(mutex_);
  notifier_ = notifier;
}

TaskNotifier* TransTaskManager::Notifier() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return notifier_;
}

bool TransTaskManager::Stopping() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return stopping_;
}

bool TransTaskManager::IsBusy() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return busy_;
}

size_t TransTaskManager::QueueLength() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return queue_.size();
}

std::string TransTaskManager::ProductInfo() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return productInfo_;
}

uint64_t TransTaskManager::AddTask(std::unique_ptr<TransTask> task) {
  if (!task) return 0;
  Job job;
  job.task = std::move(task);
  TaskProgress queued;
  TaskNotifier* notifier = nullptr;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    job.id = ++lastId_;
    queued.taskId = job.id;
    queued.queuePosition = queue_.size() + (busy_ ? 1 : 0);
    notifier = notifier_;
  }
  // Told before the task is queued, so that no report of its later stages
  // can overtake this one.
  NotifyTarget target = job.task->notifyTarget;
  if (notifier != nullptr && target != nullptr) notifier->OnTaskProgress(target, queued);
  bool refused = false;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    refused = stopping_;
    if (!refused) queue_.push_back(std::move(job));
  }
  if (refused) {
    job.task->failureReason = "cancelled";
    Finish(std::move(job), Ending::kFailed);
    return queued.taskId;
  }
  StartNext();
  return queued.taskId;
}

void TransTaskManager::StartNext() {
  struct Moved {
    NotifyTarget target;
    TaskProgress progress;
  };
  std::vector<Moved> moved;
  TaskNotifier* notifier = nullptr;
  std::optional<Job> unstartable;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (busy_ || stopping_ || queue_.empty()) return;
    next_ = std::move(queue_.front());
    queue_.pop_front();
    busy_ = true;
    if (!worker_.joinable()) {
      try {
        worker_ = std::thread([this] { WorkerLoop(); });
      } catch (const std::system_error&) {
        // No thread: this task cannot run now; it fails and the next AddTask
        // tries again.
        unstartable = std::move(next_);
        next_.reset();
        busy_ = false;
      }
    }
    notifier = notifier_;
    if (notifier != nullptr) {
      for (size_t i = 0; i < queue_.size(); ++i) {
        if (queue_[i].task->notifyTarget == nullptr) continue;
        TaskProgress p;
        p.taskId = queue_[i].id;
        p.queuePosition = i + 1;
        moved.push_back({queue_[i].task->notifyTarget, p});
      }
    }
  }
  if (unstartable) {
    unstartable->task->failureReason = "no worker thread could be started";
    Finish(std::move(*unstartable), Ending::kFailed);
    return;
  }
  wake_.notify_all();
  for (const Moved& m : moved) notifier->OnTaskProgress(m.target, m.progress);
}

void TransTaskManager::WorkerLoop() {
  for (;;) {
    Job job;
    {
      std::unique_lock<std::mutex> lock(mutex_);
      wake_.wait(lock, [this] { return next_.has_value() || stopping_; });
      if (!next_) return;
      job = std::move(*next_);
      next_.reset();
    }
    Ending ending = Ending::kFailed;
    if (Stopping()) {
      job.task->failureReason = "cancelled";
    } else {
      ending = RunTask(job);
    }
    Finish(std::move(job), ending);
    {
      std::lock_guard<std::mutex> lock(mutex_);
      busy_ = false;
    }
    StartNext();
  }
}

bool TransTaskManager::WaitOrStop(std::chrono::milliseconds duration) {
  std::unique_lock<std::mutex> lock(mutex_);
  return !wake_.wait_for(lock, duration, [this] { return stopping_; });
}

void TransTaskManager::Report(const Job& job, TaskStage stage, uint64_t sent, uint64_t total) {
  NotifyTarget target = job.task->notifyTarget;
  TaskNotifier* notifier = Notifier();
  if (notifier == nullptr || target == nullptr) return;
  TaskProgress p;
  p.taskId = job.id;
  p.stage = stage;
  p.bytesSent = sent;
  p.bytesTotal = total;
  notifier->OnTaskProgress(target, p);
}

TransTaskManager::Ending TransTaskManager::RunTask(Job& job) {
  TransTask& task = *job.task;

  // The service parameters are asked for until they are first obtained.
  if (identity_.productInfo.empty()) {
    std::optional<std::string> info = FetchServiceParams(identity_);
    if (!info) {
      task.failureReason = "the service parameters could not be obtained (memparm)";
      return Ending::kParamsFailed;
    }
    identity_.productInfo = *info;
    std::lock_guard<std::mutex> lock(mutex_);
    productInfo_ = *info;
  }

  const std::string uploadName = UploadName(++uploadCounter_, task.sourcePath);
  const int64_t serverTime = GetServerTime();
  const std::optional<SignInValues> signIn =
      options_.signIn ? options_.signIn() : std::optional<SignInValues>();
  const SignInValues* user = signIn ? &*signIn : nullptr;

  CreateTaskRequest create;
  create.task = &task;
  create.uploadName = uploadName;
  create.serverTime = serverTime;
  create.identity = &identity_;
  create.signIn = user;
  const std::optional<TaskTicket> ticket = CreateTask(create);
  if (!ticket) {
    task.failureReason = "the service refused to create the task (uploadpar)";
    return Ending::kFailed;
  }
  if (Stopping()) {
    task.failureReason = "cancelled";
    return Ending::kFailed;
  }

  if (task.sourceText.empty()) {
    auto lastReport = std::chrono::steady_clock::time_point();
    const auto progress = [&](uint64_t sent, uint64_t total) {
      const auto now = std::chrono::steady_clock::now();
      // A chunk's end is always told: the next chunk may take long to start
      // moving, and the front should not sit on an older count meanwhile.
      const bool milestone = sent == 0 || sent == total || sent % kUploadChunkSize == 0;
      if (!milestone && now - lastReport < kProgressPeriod) return;
      lastReport = now;
      Report(job, TaskStage::kUploading, sent, total);
    };
    if (!UploadFileChunks(task.sourcePath, *ticket, progress, [this] { return Stopping(); },
                          &task.failureReason)) {
      return Ending::kFailed;
    }
  } else {
    const uint64_t size = task.sourceText.size();
    Report(job, TaskStage::kUploading, 0, size);
    if (!UploadText(task.sourceText, *ticket)) {
      task.failureReason = "the service refused the text (uploadtext)";
      return Ending::kFailed;
    }
    Report(job, TaskStage::kUploading, size, size);
  }

  Report(job, TaskStage::kWaitingForService);
  StatusRequest status;
  status.ticket = &*ticket;
  status.identity = &identity_;
  status.signIn = user;
  PollSettings poll;
  poll.interval = options_.pollInterval;
  poll.bound = options_.pollBound;
  poll.wait = [this](std::chrono::milliseconds d) { return WaitOrStop(d); };
  Json::Value doneAnswer;
  switch (PollTaskState(status, poll, &doneAnswer)) {
    case PollResult::kDone: break;
    case PollResult::kFailed:
      task.failureReason = "the service could not translate the task (taskstate)";
      return Ending::kFailed;
    case PollResult::kTimedOut:
      task.failureReason = "the service did not finish the task in time (taskstate)";
      return Ending::kFailed;
    case PollResult::kCancelled:
      task.failureReason = "cancelled";
      return Ending::kFailed;
  }

  Report(job, TaskStage::kDownloading);
  FetchResultText(task, doneAnswer, [this] {
    return platform::WithTrailingSeparator(options_.tempFolder.empty() ? platform::GetTempFolder()
                                                                        : options_.tempFolder) +
           "wae" + std::to_string(++previewCounter_) + ".txt";
  });
  const std::string url = FetchDownloadUrl(status);
  const std::string folder = options_.outputFolder ? options_.outputFolder() : std::string();
  if (url.empty()) {
    task.failureReason = "the service gave no download address for the result (taskdown)";
    return Ending::kFailed;
  }
  if (folder.empty()) {
    task.failureReason = "no output folder is configured";
    return Ending::kFailed;
  }
  if (std::string why; !OutputFolderReady(folder, why)) {
    task.failureReason = why;
    return Ending::kFailed;
  }
  task.resultPath = ResultPathFor(folder, task.sourcePath, task.targetLang, task.outputExt);
  if (!DownloadToFile(url, task.resultPath, {}, options_.maxResultBytes)) {
    task.failureReason = "the result could not be saved as " + task.resultPath;
    task.resultPath.clear();
    return Ending::kFailed;
  }
  return Ending::kSucceeded;
}

bool TransTaskManager::OutputFolderReady(const std::string& folder, std::string& why) const {
  std::error_code ec;
  if (std::filesystem::is_directory(folder, ec)) return true;
  if (folder != options_.creatableOutputFolder) {
    why = "the output folder " + folder + " does not exist";
    return false;
  }
  std::filesystem::create_directories(folder, ec);
  if (ec) {
    why = "the output folder " + folder + " cannot be created: " + ec.message();
    return false;
  }
  return true;
}

void TransTaskManager::Finish(Job job, Ending ending) {
  NotifyTarget target = job.task->notifyTarget;
  TaskNotifier* notifier = Notifier();
  if (target == nullptr || notifier == nullptr) return;  // the record dies with `job`
  const char* name = ending == Ending::kParamsFailed ? kNotifyParamsFailed
                     : ending == Ending::kSucceeded  ? kNotifySucceeded
                                                     : kNotifyFailed;
  notifier->OnTaskFinished(target, name, std::move(job.task));
}

}  // namespace quillora
