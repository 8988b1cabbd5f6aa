// upload_bench: uploads a 1 GiB file through the task manager to the
// emulator and prints
//   - the peak resident memory growth of this process over its idle state
//     (target: under 16 MiB), and
//   - the upload throughput as a ratio against `curl --data-binary` posting
//     the same 4 MiB chunks to the same emulator endpoint in the same run
//     (target: at least 0.9).
// The emulator runs in a child process so that only the client's memory is
// measured. Not a test: run it by hand, e.g. build-E/bin/upload_bench [MiB].
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "common/ini.h"
#include "emulator/emulator.h"
#include "service/task_naming.h"
#include "service/task_protocol.h"
#include "service/tests/task_test_support.h"
#include "service/trans_task_manager.h"
#include "service/transport/json_answer.h"
#include "service/transport/remote_services.h"

extern char** environ;

namespace quillora {
namespace {

using Clock = std::chrono::steady_clock;

long StatusKiB(const char* field) {
  std::ifstream in("/proc/self/status");
  std::string line;
  const std::string prefix = std::string(field) + ":";
  while (std::getline(in, line)) {
    if (line.rfind(prefix, 0) == 0) return std::strtol(line.c_str() + prefix.size(), nullptr, 10);
  }
  return -1;
}

// Forgets the peak so that VmHWM measures from now on.
bool ResetPeakRss() {
  std::ofstream out("/proc/self/clear_refs");
  out << "5";
  out.flush();
  return static_cast<bool>(out);
}

// Child process: serves until the parent closes the pipe.
[[noreturn]] void RunEmulator(const std::string& iniPath, int lifeline) {
  emulator::Options options;
  options.taskProcessingTime = std::chrono::milliseconds(50);
  options.threads = 8;
  emulator::Emulator emu(options);
  if (!emu.Start()) {
    std::fprintf(stderr, "upload_bench: emulator: %s\n", emu.LastError().c_str());
    std::_Exit(1);
  }
  const std::string temp = iniPath + ".part";
  if (!emu.WriteServiceIni(temp) || std::rename(temp.c_str(), iniPath.c_str()) != 0) std::_Exit(1);
  char byte;
  while (::read(lifeline, &byte, 1) != 0) {
  }
  emu.Stop();
  std::_Exit(0);
}

class TimingNotifier : public TaskNotifier {
 public:
  void OnTaskFinished(NotifyTarget, std::string_view notification, std::unique_ptr<TransTask> task) override {
    std::lock_guard<std::mutex> lock(mutex_);
    notification_ = std::string(notification);
    task_ = std::move(task);
    done_.notify_all();
  }
  void OnTaskProgress(NotifyTarget, const TaskProgress& p) override {
    std::lock_guard<std::mutex> lock(mutex_);
    if (p.stage == TaskStage::kUploading && !uploadStart_) uploadStart_ = Clock::now();
    if (p.stage == TaskStage::kWaitingForService && !uploadEnd_) uploadEnd_ = Clock::now();
  }
  std::string Wait() {
    std::unique_lock<std::mutex> lock(mutex_);
    done_.wait(lock, [this] { return task_ != nullptr; });
    task_.reset();
    return notification_;
  }
  double UploadSeconds() {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!uploadStart_ || !uploadEnd_) return -1;
    return std::chrono::duration<double>(*uploadEnd_ - *uploadStart_).count();
  }
  void Reset() {
    std::lock_guard<std::mutex> lock(mutex_);
    uploadStart_.reset();
    uploadEnd_.reset();
  }

 private:
  std::mutex mutex_;
  std::condition_variable done_;
  std::string notification_;
  std::unique_ptr<TransTask> task_;
  std::optional<Clock::time_point> uploadStart_, uploadEnd_;
};

int RunCurl(const std::vector<std::string>& args) {
  std::vector<std::string> a = args;
  std::vector<char*> argv;
  for (auto& s : a) argv.push_back(s.data());
  argv.push_back(nullptr);
  pid_t pid = 0;
  if (posix_spawnp(&pid, "curl", nullptr, nullptr, argv.data(), environ) != 0) return -1;
  int status = 0;
  while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

int Main(int argc, char** argv) {
  const uint64_t mib = argc > 1 ? std::strtoull(argv[1], nullptr, 10) : 1024;
  const uint64_t size = mib * 1024 * 1024;
  testing_support::TempDir dir;
  if (dir.path().empty()) return 1;
  const std::string iniPath = dir.path() + "set.ini";

  int pipeFds[2];
  if (::pipe(pipeFds) != 0) return 1;
  const pid_t child = ::fork();
  if (child == 0) {
    ::close(pipeFds[1]);
    RunEmulator(iniPath, pipeFds[0]);
  }
  ::close(pipeFds[0]);
  std::optional<std::string> ini;
  for (int i = 0; i < 600 && !(ini = ReadTextFile(iniPath)); ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  if (!ini) {
    std::fprintf(stderr, "upload_bench: the emulator did not start\n");
    return 1;
  }
  ServiceSettings settings;
  for (const ServiceSettingsKey& key : kServiceSettingsKeys)
    settings.*key.field = IniGetString(*ini, kServiceSection, key.name).value_or("");
  ConfigureRemoteServices(settings);

  const std::string source = dir.path() + "big.mp3";
  std::printf("upload_bench: writing a %llu MiB file\n", static_cast<unsigned long long>(mib));
  if (!testing_support::WriteFileOfSize(source, size)) return 1;
  const std::string out = dir.path() + "out/";
  std::filesystem::create_directories(out);

  TaskManagerOptions options;
  options.pollInterval = std::chrono::milliseconds(100);
  options.identity.machineId = "0123456789ABCDEF0123456789ABCDEF";
  options.identity.softwareName = "Quillora";
  options.identity.softwareVersion = "1.0.0";
  options.identity.productId = "342";
  options.outputFolder = [&] { return out; };
  options.tempFolder = dir.path();
  TransTaskManager manager(options);
  TimingNotifier notifier;
  manager.SetNotifier(&notifier);
  alignas(16) char page[16] = {};  // stands in for a page; never dereferenced
  const auto makeTask = [&](const std::string& path) {
    auto t = std::make_unique<TransTask>();
    t->notifyTarget = reinterpret_cast<NotifyTarget>(page);
    t->sourcePath = path;
    t->taskType = "voicefanyi";
    t->sourceLang = "en";
    t->targetLang = "zh";
    t->outputExt = "txt";
    return t;
  };

  // Warm-up: libcurl, TLS and the worker thread belong to the idle process.
  const std::string small = dir.path() + "small.mp3";
  testing_support::WriteFileOfSize(small, 1000);
  manager.AddTask(makeTask(small));
  if (notifier.Wait() != kNotifySucceeded) {
    std::fprintf(stderr, "upload_bench: the warm-up task failed\n");
    return 1;
  }
  notifier.Reset();

  const bool peakReset = ResetPeakRss();
  const long idleKiB = StatusKiB("VmRSS");
  manager.AddTask(makeTask(source));
  const std::string outcome = notifier.Wait();
  const long peakKiB = StatusKiB("VmHWM");
  const double clientSeconds = notifier.UploadSeconds();
  if (outcome != kNotifySucceeded || clientSeconds <= 0) {
    std::fprintf(stderr, "upload_bench: the upload task failed (%s)\n", outcome.c_str());
    return 1;
  }

  // Baseline: curl posts the same chunks to the same endpoint of a task of
  // its own, one process and connection per chunk like the client.
  TransTask baseTask = *makeTask(source);
  CreateTaskRequest create;
  create.task = &baseTask;
  create.uploadName = "QuilloraFileSize99.mp3";
  create.serverTime = std::chrono::duration_cast<std::chrono::seconds>(
                          std::chrono::system_clock::now().time_since_epoch())
                          .count();
  create.identity = &options.identity;
  const std::optional<TaskTicket> ticket = CreateTask(create);
  if (!ticket || ticket->tasktag.empty()) {
    std::fprintf(stderr, "upload_bench: the baseline task could not be created\n");
    return 1;
  }
  const uint64_t chunks = ChunkCount(size);
  const std::string chunkFile = dir.path() + "chunk.bin";
  const std::string answerFile = dir.path() + "answer.json";
  std::vector<char> buffer(kUploadChunkSize);
  std::ifstream in(source, std::ios::binary);
  double curlSeconds = 0;
  for (uint64_t chunk = 0; chunk < chunks; ++chunk) {
    const uint64_t n = std::min<uint64_t>(kUploadChunkSize, size - chunk * kUploadChunkSize);
    in.read(buffer.data(), static_cast<std::streamsize>(n));
    {
      std::ofstream c(chunkFile, std::ios::binary | std::ios::trunc);
      c.write(buffer.data(), static_cast<std::streamsize>(n));
    }
    const std::string url = ApiUrl("uploadfile?tasktag=" + UrlEncode(ticket->tasktag) +
                                   "&timestamp=" + UrlEncode(ticket->timestamp) +
                                   "&tasktoken=" + UrlEncode(ticket->tasktoken) +
                                   "&fileindex=0&chunks=" + std::to_string(chunks) +
                                   "&chunk=" + std::to_string(chunk));
    const auto start = Clock::now();
    const int rc = RunCurl({"curl", "-sS", "--cacert", settings.caFile, "-H",
                            "Content-Type:application/json", "--data-binary", "@" + chunkFile, "-o",
                            answerFile, url});
    curlSeconds += std::chrono::duration<double>(Clock::now() - start).count();
    const std::string answer = ReadTextFile(answerFile).value_or("");
    const auto code = ParseAnswerCode(answer);
    if (rc != 0 || !code || (*code != 10000 && *code != 11000)) {
      std::fprintf(stderr, "upload_bench: curl failed on chunk %llu (exit %d): %s\n",
                   static_cast<unsigned long long>(chunk), rc,
                   ReadTextFile(answerFile).value_or("").c_str());
      return 1;
    }
  }

  const double mbps = static_cast<double>(size) / (1024.0 * 1024.0);
  std::printf("file: %llu MiB in %llu chunks of 4 MiB\n", static_cast<unsigned long long>(mib),
              static_cast<unsigned long long>(chunks));
  std::printf("memory: idle RSS %.1f MiB, peak RSS %.1f MiB, growth %.1f MiB (target < 16 MiB)%s\n",
              idleKiB / 1024.0, peakKiB / 1024.0, (peakKiB - idleKiB) / 1024.0,
              peakReset ? "" : " [peak not reset: includes earlier use]");
  std::printf("client upload: %.2f s, %.1f MiB/s\n", clientSeconds, mbps / clientSeconds);
  std::printf("curl --data-binary: %.2f s, %.1f MiB/s\n", curlSeconds, mbps / curlSeconds);
  std::printf("throughput ratio client/curl: %.2f (target >= 0.9)\n", curlSeconds / clientSeconds);

  ::close(pipeFds[1]);
  int status = 0;
  ::waitpid(child, &status, 0);
  return 0;
}

}  // namespace
}  // namespace quillora

int main(int argc, char** argv) { return quillora::Main(argc, argv); }
