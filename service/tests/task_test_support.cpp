#include "service/tests/task_test_support.h"

#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>

namespace quillora::testing_support {

TempDir::TempDir() {
  std::string pattern = (std::filesystem::temp_directory_path() / "quillora-task-XXXXXX").string();
  if (::mkdtemp(pattern.data()) != nullptr) path_ = pattern + "/";
}

TempDir::~TempDir() {
  if (path_.empty()) return;
  std::error_code ec;
  std::filesystem::remove_all(path_, ec);
}

void RecordingNotifier::OnTaskFinished(NotifyTarget target, std::string_view notification,
                                       std::unique_ptr<TransTask> task) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    finished_.push_back({target, std::string(notification), std::move(task)});
  }
  changed_.notify_all();
}

void RecordingNotifier::OnTaskProgress(NotifyTarget target, const TaskProgress& progress) {
  std::lock_guard<std::mutex> lock(mutex_);
  progress_.push_back({target, progress});
}

bool RecordingNotifier::WaitForFinished(size_t count, std::chrono::milliseconds timeout) {
  std::unique_lock<std::mutex> lock(mutex_);
  return changed_.wait_for(lock, timeout, [&] { return finished_.size() >= count; });
}

std::vector<FinishedTask> RecordingNotifier::TakeFinished() {
  std::lock_guard<std::mutex> lock(mutex_);
  std::vector<FinishedTask> out = std::move(finished_);
  finished_.clear();
  return out;
}

std::vector<ProgressRecord> RecordingNotifier::Progress() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return progress_;
}

size_t RecordingNotifier::FinishedCount() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return finished_.size();
}

bool WriteFileOfSize(const std::string& path, uint64_t size) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  if (!out) return false;
  std::string block(1 << 20, '\0');
  uint64_t written = 0;
  while (written < size) {
    const uint64_t n = std::min<uint64_t>(block.size(), size - written);
    for (uint64_t i = 0; i < n; ++i) {
      const uint64_t pos = written + i;
      block[i] = static_cast<char>((pos * 131 + pos / 4093) & 0xFF);
    }
    out.write(block.data(), static_cast<std::streamsize>(n));
    written += n;
  }
  return static_cast<bool>(out);
}

bool WriteTextFile(const std::string& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << bytes;
  return static_cast<bool>(out);
}

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

bool FileExists(const std::string& path) {
  std::error_code ec;
  return std::filesystem::exists(path, ec);
}

}  // namespace quillora::testing_support
