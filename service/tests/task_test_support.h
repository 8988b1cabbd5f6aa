#pragma once
// Shared by the task road tests and the upload benchmark: a temporary folder,
// a notifier that records what the manager reports, and files of given sizes.
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "service/trans_task.h"

namespace quillora::testing_support {

// A fresh folder under the system temporary folder, removed with its content.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  // With a trailing separator.
  const std::string& path() const { return path_; }

 private:
  std::string path_;
};

struct FinishedTask {
  NotifyTarget target = nullptr;
  std::string notification;
  std::unique_ptr<TransTask> task;
};

struct ProgressRecord {
  NotifyTarget target = nullptr;
  TaskProgress progress;
};

class RecordingNotifier : public TaskNotifier {
 public:
  void OnTaskFinished(NotifyTarget target, std::string_view notification,
                      std::unique_ptr<TransTask> task) override;
  void OnTaskProgress(NotifyTarget target, const TaskProgress& progress) override;

  // Waits until `count` tasks have finished; false at the deadline.
  bool WaitForFinished(size_t count, std::chrono::milliseconds timeout = std::chrono::seconds(30));
  // Takes the finished records, oldest first.
  std::vector<FinishedTask> TakeFinished();
  std::vector<ProgressRecord> Progress() const;
  size_t FinishedCount() const;

 private:
  mutable std::mutex mutex_;
  std::condition_variable changed_;
  std::vector<FinishedTask> finished_;
  std::vector<ProgressRecord> progress_;
};

// Writes `size` bytes of a repeating pattern that depends on the position.
bool WriteFileOfSize(const std::string& path, uint64_t size);
bool WriteTextFile(const std::string& path, const std::string& bytes);
std::string ReadFile(const std::string& path);
bool FileExists(const std::string& path);

}  // namespace quillora::testing_support
