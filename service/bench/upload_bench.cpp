// upload_bench: uploads a 1 GiB file through the task manager to the
// emulator (HTTPS, 4 MiB chunks) and compares the upload phase, in the same
// run and against the same emulator, with the fastest way a user could send
// the same chunks with curl:
//   - one curl process posting every chunk over one connection (`curl -K`
//     with a config of all chunk URLs, `--cacert` the same CA file), and
//   - one curl process per chunk, as a second line.
// It prints the throughput ratios (targets: client >= 0.95x `curl -K`), CPU
// time per GiB of the client beside curl's (target: <= 1.3x), the peak
// resident memory growth during the big task (target: < 16 MiB) and the
// resident memory across 40 small tasks in a row (target: flat).
// The emulator runs in a child process so that only the client's memory and
// CPU are measured. Not a test: run it by hand, e.g. build/bin/upload_bench [MiB].
#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
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
constexpr double kMiB = 1024.0 * 1024.0;
constexpr double kGiB = 1024.0 * kMiB;

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

double CpuSeconds(const rusage& u) {
  return static_cast<double>(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
         static_cast<double>(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

double ProcessCpuSeconds() {
  rusage u{};
  getrusage(RUSAGE_SELF, &u);
  return CpuSeconds(u);
}

// Wall and CPU time of one way of uploading.
struct Measure {
  double seconds = 0;
  double cpuSeconds = 0;
};

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

// Times the upload stage of a task from the worker's own reports, CPU
// included (the whole process: the worker is all that runs then).
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
    if (p.stage == TaskStage::kUploading && !uploadStart_) {
      uploadStart_ = Clock::now();
      cpuStart_ = ProcessCpuSeconds();
    }
    if (p.stage == TaskStage::kWaitingForService && !uploadEnd_) {
      uploadEnd_ = Clock::now();
      cpuEnd_ = ProcessCpuSeconds();
    }
  }
  // Waits for the next task to finish and keeps the figures of its upload.
  std::string Wait() {
    std::unique_lock<std::mutex> lock(mutex_);
    done_.wait(lock, [this] { return task_ != nullptr; });
    task_.reset();
    last_.reset();
    if (uploadStart_ && uploadEnd_) {
      last_ = Measure{std::chrono::duration<double>(*uploadEnd_ - *uploadStart_).count(), cpuEnd_ - cpuStart_};
    }
    uploadStart_.reset();
    uploadEnd_.reset();
    return notification_;
  }
  // The upload of the task that finished last.
  std::optional<Measure> Upload() {
    std::lock_guard<std::mutex> lock(mutex_);
    return last_;
  }

 private:
  std::mutex mutex_;
  std::condition_variable done_;
  std::string notification_;
  std::unique_ptr<TransTask> task_;
  std::optional<Clock::time_point> uploadStart_, uploadEnd_;
  double cpuStart_ = 0, cpuEnd_ = 0;
  std::optional<Measure> last_;
};

// Runs a program to its end; its exit code (-1 when it could not run) and,
// added to `m`, its wall and CPU time.
int RunTimed(const std::vector<std::string>& args, Measure& m) {
  std::vector<std::string> a = args;
  std::vector<char*> argv;
  for (auto& s : a) argv.push_back(s.data());
  argv.push_back(nullptr);
  const auto start = Clock::now();
  pid_t pid = 0;
  if (posix_spawnp(&pid, argv[0], nullptr, nullptr, argv.data(), environ) != 0) return -1;
  int status = 0;
  rusage usage{};
  while (::wait4(pid, &status, 0, &usage) < 0 && errno == EINTR) {
  }
  m.seconds += std::chrono::duration<double>(Clock::now() - start).count();
  m.cpuSeconds += CpuSeconds(usage);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// What the baselines need: the chunk files and the settings to reach the
// emulator.
struct Baseline {
  const ServiceSettings* settings = nullptr;
  const SoftwareIdentity* identity = nullptr;
  TransTask task;
  std::vector<std::string> chunkFiles;
  std::string folder;
  int nextUploadName = 90;
};

// A task of the baseline's own (chunks cannot be sent twice to one task) and
// the URL of each of its chunks.
std::optional<std::vector<std::string>> ChunkUrls(Baseline& b) {
  CreateTaskRequest create;
  create.task = &b.task;
  create.uploadName = "QuilloraFileSize" + std::to_string(b.nextUploadName++) + ".mp3";
  create.serverTime =
      std::chrono::duration_cast<std::chrono::seconds>(std::chrono::system_clock::now().time_since_epoch()).count();
  create.identity = b.identity;
  const std::optional<TaskTicket> ticket = CreateTask(create);
  if (!ticket || ticket->tasktag.empty()) return std::nullopt;
  std::vector<std::string> urls;
  for (size_t chunk = 0; chunk < b.chunkFiles.size(); ++chunk) {
    urls.push_back(ApiUrl("uploadfile?tasktag=" + UrlEncode(ticket->tasktag) +
                          "&timestamp=" + UrlEncode(ticket->timestamp) + "&tasktoken=" +
                          UrlEncode(ticket->tasktoken) + "&fileindex=0&chunks=" +
                          std::to_string(b.chunkFiles.size()) + "&chunk=" + std::to_string(chunk)));
  }
  return urls;
}

std::string AnswerFile(const Baseline& b, size_t chunk) {
  return b.folder + "answer" + std::to_string(chunk) + ".json";
}

// Every chunk answered with 10000 or 11000.
bool AllAccepted(const Baseline& b) {
  for (size_t chunk = 0; chunk < b.chunkFiles.size(); ++chunk) {
    const auto code = ParseAnswerCode(ReadTextFile(AnswerFile(b, chunk)).value_or(""));
    if (!code || (*code != 10000 && *code != 11000)) {
      std::fprintf(stderr, "upload_bench: curl's chunk %zu was not accepted\n", chunk);
      return false;
    }
  }
  return true;
}

// One curl process, one connection (kept alive), every chunk.
std::optional<Measure> CurlOneProcess(Baseline& b) {
  const auto urls = ChunkUrls(b);
  if (!urls) return std::nullopt;
  const std::string config = b.folder + "chunks.curlrc";
  {
    std::ofstream out(config);
    for (size_t chunk = 0; chunk < urls->size(); ++chunk) {
      if (chunk > 0) out << "next\n";
      out << "url = \"" << (*urls)[chunk] << "\"\ncacert = \"" << b.settings->caFile
          << "\"\nheader = \"Content-Type:application/json\"\ndata-binary = \"@" << b.chunkFiles[chunk]
          << "\"\noutput = \"" << AnswerFile(b, chunk) << "\"\n";
    }
  }
  Measure m;
  if (RunTimed({"curl", "-sS", "-K", config}, m) != 0 || !AllAccepted(b)) return std::nullopt;
  return m;
}

// One curl process (and connection) per chunk.
std::optional<Measure> CurlPerChunk(Baseline& b) {
  const auto urls = ChunkUrls(b);
  if (!urls) return std::nullopt;
  Measure m;
  for (size_t chunk = 0; chunk < urls->size(); ++chunk) {
    if (RunTimed({"curl", "-sS", "--cacert", b.settings->caFile, "-H", "Content-Type:application/json",
                  "--data-binary", "@" + b.chunkFiles[chunk], "-o", AnswerFile(b, chunk), (*urls)[chunk]},
                 m) != 0) {
      return std::nullopt;
    }
  }
  if (!AllAccepted(b)) return std::nullopt;
  return m;
}

bool WriteChunkFiles(const std::string& source, uint64_t size, Baseline& b) {
  std::vector<char> buffer(kUploadChunkSize);
  std::ifstream in(source, std::ios::binary);
  for (uint64_t chunk = 0; chunk < ChunkCount(size); ++chunk) {
    const uint64_t n = std::min<uint64_t>(kUploadChunkSize, size - chunk * kUploadChunkSize);
    in.read(buffer.data(), static_cast<std::streamsize>(n));
    b.chunkFiles.push_back(b.folder + "chunk" + std::to_string(chunk) + ".bin");
    std::ofstream c(b.chunkFiles.back(), std::ios::binary | std::ios::trunc);
    c.write(buffer.data(), static_cast<std::streamsize>(n));
    if (!in || !c) return false;
  }
  return true;
}

void PrintLine(const char* name, const Measure& m, double bytes) {
  std::printf("%-42s %7.2f s  %7.1f MiB/s  CPU %6.2f s per GiB\n", name, m.seconds, bytes / kMiB / m.seconds,
              m.cpuSeconds / (bytes / kGiB));
}

int Main(int argc, char** argv) {
  const uint64_t mib = argc > 1 ? std::strtoull(argv[1], nullptr, 10) : 1024;
  const uint64_t size = mib * 1024 * 1024;
  testing_support::TempDir dir;
  if (dir.path().empty() || size == 0) return 1;
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
  std::printf("upload_bench: writing a %llu MiB file and its chunk files\n", static_cast<unsigned long long>(mib));
  Baseline baseline;
  baseline.settings = &settings;
  baseline.folder = dir.path();
  if (!testing_support::WriteFileOfSize(source, size) || !WriteChunkFiles(source, size, baseline)) return 1;
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
  baseline.task = *makeTask(source);
  baseline.identity = &options.identity;

  // Small tasks in a row: after a few, resident memory must stay where it is.
  const std::string small = dir.path() + "small.mp3";
  testing_support::WriteFileOfSize(small, 1000);
  long afterFifthKiB = 0;
  for (int i = 1; i <= 40; ++i) {
    manager.AddTask(makeTask(small));
    if (notifier.Wait() != kNotifySucceeded) {
      std::fprintf(stderr, "upload_bench: small task %d failed\n", i);
      return 1;
    }
    if (i == 5) afterFifthKiB = StatusKiB("VmRSS");
  }
  const long afterFortiethKiB = StatusKiB("VmRSS");

  const bool peakReset = ResetPeakRss();
  const long idleKiB = StatusKiB("VmRSS");
  manager.AddTask(makeTask(source));
  const std::string outcome = notifier.Wait();
  const long peakKiB = StatusKiB("VmHWM");
  const std::optional<Measure> client = notifier.Upload();
  if (outcome != kNotifySucceeded || !client) {
    std::fprintf(stderr, "upload_bench: the upload task failed (%s)\n", outcome.c_str());
    return 1;
  }
  const std::optional<Measure> curlK = CurlOneProcess(baseline);
  const std::optional<Measure> curlLoop = CurlPerChunk(baseline);
  if (!curlK || !curlLoop) {
    std::fprintf(stderr, "upload_bench: a curl baseline failed\n");
    return 1;
  }

  const double bytes = static_cast<double>(size);
  std::printf("file: %llu MiB in %llu chunks of 4 MiB over HTTPS\n", static_cast<unsigned long long>(mib),
              static_cast<unsigned long long>(ChunkCount(size)));
  PrintLine("client (upload phase)", *client, bytes);
  PrintLine("curl -K, one process, chunks over one conn", *curlK, bytes);
  PrintLine("curl, one process per chunk", *curlLoop, bytes);
  std::printf("throughput client/curl -K: %.2f (target >= 0.95); client/curl per chunk: %.2f\n",
              curlK->seconds / client->seconds, curlLoop->seconds / client->seconds);
  std::printf("CPU per GiB client/curl -K: %.2f (target <= 1.3); client/curl per chunk: %.2f\n",
              client->cpuSeconds / curlK->cpuSeconds, client->cpuSeconds / curlLoop->cpuSeconds);
  std::printf("memory during the big task: idle RSS %.1f MiB, peak %.1f MiB, growth %.1f MiB (target < 16 MiB)%s\n",
              idleKiB / 1024.0, peakKiB / 1024.0, (peakKiB - idleKiB) / 1024.0,
              peakReset ? "" : " [peak not reset: includes earlier use]");
  std::printf("RSS over 40 small tasks: %.1f MiB after task 5, %.1f MiB after task 40 (growth %.2f MiB)\n",
              afterFifthKiB / 1024.0, afterFortiethKiB / 1024.0, (afterFortiethKiB - afterFifthKiB) / 1024.0);

  ::close(pipeFds[1]);
  int status = 0;
  ::waitpid(child, &status, 0);
  return 0;
}

}  // namespace
}  // namespace quillora

int main(int argc, char** argv) { return quillora::Main(argc, argv); }
