// quillora-cli: translates files or a text on the same task road as the
// windows, with the main program's configuration and saved sign-in.
#include <json/value.h>
#include <json/writer.h>

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <deque>
#include <iostream>
#include <iterator>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "app/config/app_config.h"
#include "cli/account_commands.h"
#include "cli/cli_options.h"
#include "common/ini.h"
#include "service/task_naming.h"
#include "service/trans_task_manager.h"
#include "service/transport/remote_services.h"

namespace quillora::cli {
namespace {

constexpr char kProgramName[] = "quillora-cli";
constexpr int kExitFailed = 1;
constexpr int kExitUsage = 2;

// Hands what the manager reports to the main thread, which prints it: the
// worker only queues and never waits for the terminal.
class CliNotifier : public TaskNotifier {
 public:
  struct Event {
    NotifyTarget target = nullptr;
    bool finished = false;
    TaskProgress progress;
    std::string notification;
    std::unique_ptr<TransTask> task;
  };

  void OnTaskFinished(NotifyTarget target, std::string_view notification,
                      std::unique_ptr<TransTask> task) override {
    Event e;
    e.target = target;
    e.finished = true;
    e.notification = std::string(notification);
    e.task = std::move(task);
    Push(std::move(e));
  }

  void OnTaskProgress(NotifyTarget target, const TaskProgress& progress) override {
    Event e;
    e.target = target;
    e.progress = progress;
    Push(std::move(e));
  }

  Event Pop() {
    std::unique_lock<std::mutex> lock(mutex_);
    changed_.wait(lock, [this] { return !events_.empty(); });
    Event e = std::move(events_.front());
    events_.pop_front();
    return e;
  }

 private:
  void Push(Event e) {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      events_.push_back(std::move(e));
    }
    changed_.notify_one();
  }

  std::mutex mutex_;
  std::condition_variable changed_;
  std::deque<Event> events_;
};

struct Slot {
  std::string label;  // file name, or "text"
  std::string kind;   // "document", "audio", "picture", "text"
  std::string notification;
  std::unique_ptr<TransTask> result;
  std::chrono::steady_clock::time_point lastUploadLine;
  int lastPercent = -1;
};

std::string KindName(const TransTask& task) {
  if (!task.sourceText.empty()) return "text";
  if (task.taskType == "voicefanyi") return "audio";
  if (task.taskType == "ocrfanyi") return "picture";
  return "document";
}

std::string Size(uint64_t bytes) {
  char buf[32];
  if (bytes < 1024) {
    std::snprintf(buf, sizeof buf, "%llu B", static_cast<unsigned long long>(bytes));
  } else if (bytes < 1024 * 1024) {
    std::snprintf(buf, sizeof buf, "%.1f KiB", static_cast<double>(bytes) / 1024.0);
  } else {
    std::snprintf(buf, sizeof buf, "%.1f MiB", static_cast<double>(bytes) / (1024.0 * 1024.0));
  }
  return buf;
}

void PrintProgress(Slot& slot, size_t index, size_t count, const TaskProgress& p) {
  std::string line;
  switch (p.stage) {
    case TaskStage::kQueued:
      line = p.queuePosition == 0 ? std::string("queued")
                                  : "queued behind " + std::to_string(p.queuePosition) + " task(s)";
      break;
    case TaskStage::kUploading: {
      const int percent =
          p.bytesTotal == 0 ? 100 : static_cast<int>(p.bytesSent * 100 / p.bytesTotal);
      const auto now = std::chrono::steady_clock::now();
      // One line per step of 10 % or per second, whichever comes first.
      if (percent != 100 && percent / 10 == slot.lastPercent / 10 &&
          now - slot.lastUploadLine < std::chrono::seconds(1)) {
        return;
      }
      if (percent == slot.lastPercent) return;
      slot.lastPercent = percent;
      slot.lastUploadLine = now;
      line = "uploading " + Size(p.bytesSent) + " of " + Size(p.bytesTotal) + " (" +
             std::to_string(percent) + "%)";
      break;
    }
    case TaskStage::kWaitingForService:
      line = "waiting for the service";
      break;
    case TaskStage::kDownloading:
      line = "downloading the result";
      break;
  }
  std::fprintf(stderr, "%s: [%zu/%zu] %s: %s\n", kProgramName, index + 1, count,
               slot.label.c_str(), line.c_str());
  std::fflush(stderr);
}

std::string ReasonOf(const Slot& slot) {
  if (slot.result && !slot.result->failureReason.empty()) return slot.result->failureReason;
  return "translation failed (" + slot.notification + ")";
}

void WriteJson(const Json::Value& root) {
  Json::StreamWriterBuilder builder;
  builder["indentation"] = "  ";
  builder["emitUTF8"] = true;
  std::cout << Json::writeString(builder, root) << "\n";
}

int FailUsage(const CliOptions* options, const std::string& message) {
  if (options != nullptr && options->json) {
    Json::Value root(Json::objectValue);
    root["ok"] = false;
    root["error"] = message;
    root["tasks"] = Json::Value(Json::arrayValue);
    WriteJson(root);
  }
  std::fprintf(stderr, "%s: %s\n", kProgramName, message.c_str());
  return kExitUsage;
}

int RunAccount(const std::vector<std::string>& args) {
  std::string error;
  const std::optional<AccountCommand> command = ParseAccountCommand(args, error);
  if (!command) {
    std::fprintf(stderr, "%s: %s\nTry '%s %s --help'.\n", kProgramName, error.c_str(), kProgramName,
                 args[0].c_str());
    return kExitUsage;
  }
  return RunAccountCommand(*command);
}

int Run(const std::vector<std::string>& args) {
  if (IsAccountCommand(args)) return RunAccount(args);
  std::string error;
  const std::optional<CliOptions> parsed = ParseCommandLine(args, error);
  if (!parsed) {
    std::fprintf(stderr, "%s: %s\nTry '%s --help'.\n", kProgramName, error.c_str(), kProgramName);
    return kExitUsage;
  }
  const CliOptions& options = *parsed;
  if (options.help) {
    std::cout << UsageText();
    return 0;
  }

  // Creating the configuration store decides the main program's first run
  // and records it in set.ini; this tool must not use that first run up.
  AppConfig::LeaveFirstRunToTheProgram();
  AppConfig& config = AppConfig::Instance();
  if (options.version) {
    std::cout << kProgramName << " " << config.GetVersion() << "\n";
    return 0;
  }
  ConfigureRemoteServices(config.GetServiceSettings());

  std::vector<TransTask> tasks;
  if (options.text) {
    std::string text = *options.text;
    if (text == "-") {
      text.assign(std::istreambuf_iterator<char>(std::cin), std::istreambuf_iterator<char>());
    }
    auto task = MakeTextTask(text, 1, options.from, options.to, error);
    if (!task) return FailUsage(&options, error);
    tasks.push_back(std::move(*task));
  } else {
    for (const std::string& file : options.files) {
      auto task = MakeFileTask(file, options.kind, options.from, options.to, error);
      if (!task) return FailUsage(&options, error);
      tasks.push_back(std::move(*task));
    }
  }

  // Kept for the life of the process: the manager may still be returning
  // from its last call when main ends.
  static CliNotifier* const notifier = new CliNotifier();
  TransTaskManager& manager = TransTaskManager::Instance();
  manager.SetNotifier(notifier);

  std::vector<Slot> slots(tasks.size());
  std::map<NotifyTarget, size_t> indexOf;
  for (size_t i = 0; i < tasks.size(); ++i) {
    slots[i].label = tasks[i].sourceText.empty() ? std::string(FileNameOf(tasks[i].sourcePath)) : "text";
    slots[i].kind = KindName(tasks[i]);
    auto record = std::make_unique<TransTask>(std::move(tasks[i]));
    // The slot's address stands in for a page: compared, never dereferenced.
    record->notifyTarget = reinterpret_cast<NotifyTarget>(&slots[i]);
    indexOf[record->notifyTarget] = i;
    manager.AddTask(std::move(record));
  }

  size_t finished = 0;
  while (finished < slots.size()) {
    CliNotifier::Event e = notifier->Pop();
    const auto it = indexOf.find(e.target);
    if (it == indexOf.end()) continue;
    Slot& slot = slots[it->second];
    if (e.finished) {
      slot.notification = e.notification;
      slot.result = std::move(e.task);
      ++finished;
      if (!options.quiet) {
        const bool ok = slot.notification == kNotifySucceeded;
        std::fprintf(stderr, "%s: [%zu/%zu] %s: %s\n", kProgramName, it->second + 1, slots.size(),
                     slot.label.c_str(), ok ? "done" : "failed");
        std::fflush(stderr);
      }
    } else if (!options.quiet) {
      PrintProgress(slot, it->second, slots.size(), e.progress);
    }
  }

  bool allOk = true;
  Json::Value list(Json::arrayValue);
  for (const Slot& slot : slots) {
    const bool ok = slot.notification == kNotifySucceeded;
    allOk = allOk && ok;
    const TransTask& task = *slot.result;
    if (options.json) {
      Json::Value t(Json::objectValue);
      t["source"] = task.sourceText.empty() ? task.sourcePath : std::string();
      t["kind"] = slot.kind;
      t["from"] = task.sourceLang;
      t["to"] = task.targetLang;
      t["ok"] = ok;
      t["notification"] = slot.notification;
      t["resultPath"] = task.resultPath;
      t["resultText"] = task.resultText;
      t["error"] = ok ? std::string() : ReasonOf(slot);
      list.append(t);
    } else if (ok) {
      std::cout << slot.label << " -> " << task.resultPath << "\n" << task.resultText;
      if (!task.resultText.empty() && task.resultText.back() != '\n') std::cout << "\n";
    } else {
      std::fprintf(stderr, "%s: %s: %s\n", kProgramName, slot.label.c_str(), ReasonOf(slot).c_str());
    }
  }
  if (options.json) {
    Json::Value root(Json::objectValue);
    root["ok"] = allOk;
    root["tasks"] = list;
    WriteJson(root);
  }
  std::cout.flush();
  return allOk ? 0 : kExitFailed;
}

}  // namespace
}  // namespace quillora::cli

int main(int argc, char** argv) {
  std::vector<std::string> args(argv + 1, argv + argc);
  return quillora::cli::Run(args);
}
