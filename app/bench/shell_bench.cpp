// shell_bench: what the user waits for and what the program costs at rest.
//
// 1. Process start (exec) to first paint of the main window: the real
//    Quillora executable against the same window built from plain Qt widgets
//    and against a bare Qt window of the same size (shell_bench_plain, which
//    links Qt alone). Every run is a fresh process with the first-paint probe
//    preloaded (first_paint_probe.cpp), which reports the time of the first
//    painted frame; the three kinds run interleaved and their medians are
//    compared.
// 2. The real Quillora program left alone for 10 s after its start: the
//    wake-ups (context switches) of each of its threads and its resident
//    memory.
//
// Run from the build's bin folder (the skin folder lies beside it):
//   QT_QPA_PLATFORM=offscreen ./shell_bench [runs]
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace {

namespace fs = std::filesystem;
constexpr int kDefaultRuns = 21;

struct Contender {
  const char* label;
  std::string program;
  std::string mode;    // argument, if any
  std::string window;  // object name of the window whose first paint counts
};

long long MonotonicNs() {
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<long long>(now.tv_sec) * 1000000000LL + now.tv_nsec;
}

// Runs one contender with the probe preloaded; the time from just before
// the spawn to its first painted frame, in ms, or -1 when it did not paint.
double TimeRun(const Contender& c, const std::string& probe) {
  int fds[2];
  if (pipe(fds) != 0) return -1;
  std::vector<std::string> env;
  for (char** e = environ; *e; ++e) env.emplace_back(*e);
  env.push_back("LD_PRELOAD=" + probe);
  env.push_back("SHELL_BENCH_WINDOW=" + c.window);
  env.push_back("SHELL_BENCH_FD=" + std::to_string(fds[1]));
  std::vector<char*> envp;
  for (auto& e : env) envp.push_back(e.data());
  envp.push_back(nullptr);
  std::string arg0 = c.program, arg1 = c.mode;
  std::vector<char*> argv{arg0.data()};
  if (!arg1.empty()) argv.push_back(arg1.data());
  argv.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addclose(&actions, fds[0]);
  posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);  // the offscreen plugin's chatter
  const long long start = MonotonicNs();
  pid_t pid = -1;
  const int spawned = posix_spawn(&pid, c.program.c_str(), &actions, nullptr, argv.data(), envp.data());
  posix_spawn_file_actions_destroy(&actions);
  close(fds[1]);
  std::string report;
  char buf[64];
  for (ssize_t n; spawned == 0 && (n = read(fds[0], buf, sizeof buf)) > 0;) report.append(buf, static_cast<size_t>(n));
  close(fds[0]);
  if (spawned != 0) return -1;
  int status = 0;
  waitpid(pid, &status, 0);
  if (report.empty() || !WIFEXITED(status) || WEXITSTATUS(status) != 0) return -1;
  return (std::stoll(report) - start) / 1e6;
}

double Median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v[v.size() / 2];
}

struct ThreadSample {
  std::string name;
  long switches = 0;
};

std::map<std::string, ThreadSample> SampleThreads(pid_t pid) {
  std::map<std::string, ThreadSample> threads;
  std::error_code ec;
  for (const auto& task : fs::directory_iterator("/proc/" + std::to_string(pid) + "/task", ec)) {
    std::ifstream status(task.path() / "status");
    ThreadSample s;
    for (std::string line; std::getline(status, line);) {
      if (line.rfind("Name:", 0) == 0) s.name = line.substr(6);
      if (line.find("ctxt_switches:") != std::string::npos) s.switches += std::stol(line.substr(line.find(':') + 1));
    }
    threads[task.path().filename().string()] = s;
  }
  return threads;
}

long RssKiB(pid_t pid) {
  std::ifstream status("/proc/" + std::to_string(pid) + "/status");
  for (std::string line; std::getline(status, line);)
    if (line.rfind("VmRSS:", 0) == 0) return std::stol(line.substr(6));
  return -1;
}

void MeasureIdle(const std::string& folder) {
  const std::string program = folder + "/Quillora";
  std::string arg0 = program;
  char* argv[] = {arg0.data(), nullptr};
  pid_t pid = -1;
  if (posix_spawn(&pid, program.c_str(), nullptr, nullptr, argv, environ) != 0) {
    std::printf("idle: cannot start %s\n", program.c_str());
    return;
  }
  // Past start-up: the update check and the update program have had their turn.
  std::this_thread::sleep_for(std::chrono::seconds(3));
  const auto before = SampleThreads(pid);
  std::this_thread::sleep_for(std::chrono::seconds(10));
  const auto after = SampleThreads(pid);
  const long rss = RssKiB(pid);
  long total = 0;
  std::printf("idle 10 s after start, wake-ups per thread:\n");
  for (const auto& [tid, s] : after) {
    auto it = before.find(tid);
    const long delta = s.switches - (it == before.end() ? 0 : it->second.switches);
    total += delta;
    std::printf("  %-16s %ld\n", s.name.c_str(), delta);
  }
  std::printf("idle: %ld wake-ups in total (target 0); RSS %.1f MiB (target <= 60)\n", total, rss / 1024.0);
  kill(pid, SIGTERM);
  waitpid(pid, nullptr, 0);
}

}  // namespace

int main(int argc, char** argv) {
  const int runs = argc > 1 ? std::max(1, std::atoi(argv[1])) : kDefaultRuns;
  const std::string self = fs::canonical("/proc/self/exe").string();
  const std::string folder = fs::path(self).parent_path().string();
  // A private home whose services lie on a closed port: nothing leaves the machine.
  const fs::path home = fs::temp_directory_path() / ("shell-bench-" + std::to_string(getpid()));
  for (const char* sub : {"", "/xdg", "/run", "/tmp"}) fs::create_directories(home.string() + sub);
  fs::permissions(home / "run", fs::perms::owner_all);
  std::ofstream(home / "set.ini") << "[Service]\nApi=https://127.0.0.1:9\nStatistics=https://127.0.0.1:9\n"
                                     "Update=http://127.0.0.1:9\nPages=http://127.0.0.1:9\nPreview=http://127.0.0.1:9\n"
                                     "[Install]\nFirstRun=1\n";
  setenv("QUILLORA_HOME", home.c_str(), 1);
  setenv("XDG_CONFIG_HOME", (home / "xdg").c_str(), 1);
  setenv("XDG_RUNTIME_DIR", (home / "run").c_str(), 1);
  setenv("TMPDIR", (home / "tmp").c_str(), 1);
  if (!getenv("QT_QPA_PLATFORM")) setenv("QT_QPA_PLATFORM", "offscreen", 1);

  const std::string probe = folder + "/libshell_bench_probe.so";
  const Contender contenders[] = {{"Quillora", folder + "/Quillora", "", "MainWnd"},
                                  {"plain Qt widgets", folder + "/shell_bench_plain", "qtwidgets", "bench"},
                                  {"bare Qt window", folder + "/shell_bench_plain", "bare", "bench"}};
  std::map<std::string, std::vector<double>> times;
  for (int i = 0; i < runs; ++i)
    for (const Contender& c : contenders) {
      const double ms = TimeRun(c, probe);
      if (ms < 0) {
        std::printf("start: %s did not paint\n", c.label);
        return 1;
      }
      times[c.label].push_back(ms);
    }
  const double q = Median(times["Quillora"]), w = Median(times["plain Qt widgets"]), b = Median(times["bare Qt window"]);
  std::printf("exec to first paint, median of %d interleaved runs: Quillora %.1f ms, plain Qt widgets %.1f ms, "
              "bare Qt window %.1f ms\n",
              runs, q, w, b);
  std::printf("ratio Quillora / plain Qt widgets: %.2fx (target <= 1.0x)\n", q / w);
  std::printf("ratio Quillora / bare Qt window:   %.2fx\n", q / b);
  MeasureIdle(folder);
  std::error_code ec;
  fs::remove_all(home, ec);
  return 0;
}
