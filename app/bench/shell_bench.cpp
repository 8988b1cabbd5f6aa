// shell_bench: what the user waits for and what the program costs at rest.
//
// 1. Process start to first paint of the main window, against the same
//    window built from plain Qt widgets and against a bare Qt window of the
//    same size. Each run is a fresh process (this program in another mode);
//    the medians of interleaved runs are compared.
// 2. The real Quillora program left alone for 10 s after its start: the
//    wake-ups (context switches) of each of its threads and its resident
//    memory.
//
// Run from the build's bin folder (the skin folder lies beside it):
//   QT_QPA_PLATFORM=offscreen ./shell_bench
#include <QApplication>
#include <QButtonGroup>
#include <QElapsedTimer>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QRadioButton>
#include <QStackedWidget>
#include <QVBoxLayout>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include "app/shell/start_up.h"

extern char** environ;

namespace {

namespace fs = std::filesystem;
constexpr int kWidth = 900, kHeight = 620;
constexpr int kRuns = 11;

// Ends the process right after the first paint of a top-level window named
// `name` (the toolkit names its native windows after their class).
class FirstPaint : public QObject {
 public:
  explicit FirstPaint(QString name) : name_(std::move(name)) {}
  bool eventFilter(QObject* object, QEvent* event) override {
    if (event->type() == QEvent::Paint && object->objectName() == name_) {
      auto* widget = static_cast<QWidget*>(object);
      widget->removeEventFilter(this);
      QMetaObject::invokeMethod(qApp, [] { std::_Exit(0); }, Qt::QueuedConnection);
    }
    return false;
  }

 private:
  QString name_;
};

// The main window's content in plain Qt widgets: title bar with the user
// area, a navigation column of four tabs and a page stack.
void BuildPlainMainWindow(QWidget& w) {
  auto* root = new QVBoxLayout(&w);
  auto* title = new QHBoxLayout;
  auto* logo = new QLabel;
  logo->setPixmap(QPixmap(QString::fromStdString(fs::path(qApp->applicationDirPath().toStdString()) / "skin/mainWnd/logo.png"))
                      .scaled(28, 28, Qt::KeepAspectRatio, Qt::SmoothTransformation));
  title->addWidget(logo);
  title->addWidget(new QLabel("<b>Quillora</b>"));
  title->addWidget(new QLabel("V1.0.0"));
  title->addStretch();
  for (const char* t : {"登录 / 注册", "≡", "—", "×"}) title->addWidget(new QPushButton(t));
  root->addLayout(title);
  auto* body = new QHBoxLayout;
  auto* nav = new QVBoxLayout;
  auto* group = new QButtonGroup(&w);
  auto* stack = new QStackedWidget;
  for (const char* t : {"文档翻译", "音频翻译", "图片翻译", "短句翻译"}) {
    auto* option = new QRadioButton(t);
    group->addButton(option);
    nav->addWidget(option);
    stack->addWidget(new QLabel(t));
  }
  nav->addStretch();
  nav->addWidget(new QLabel("文件拖到窗口里即可添加"));
  body->addLayout(nav);
  body->addWidget(stack, 1);
  root->addLayout(body, 1);
}

int RunMode(const std::string& mode, int argc, char** argv) {
  if (mode == "quillora") {
    // The program's own start-up, exactly as its main runs it.
    QApplication app(argc, argv);
    FirstPaint watch("MainWnd");
    app.installEventFilter(&watch);
    return quillora::RunQuillora();
  }
  QApplication app(argc, argv);
  FirstPaint watch("bench");
  app.installEventFilter(&watch);
  QWidget w;
  w.setObjectName("bench");
  w.resize(kWidth, kHeight);
  if (mode == "qtwidgets") BuildPlainMainWindow(w);
  w.show();
  return app.exec();
}

// Spawns this program in `mode` and returns the wall time until it ended.
double TimeRun(const std::string& self, const std::string& mode) {
  std::string arg0 = self, arg1 = mode;
  char* argv[] = {arg0.data(), arg1.data(), nullptr};
  const auto start = std::chrono::steady_clock::now();
  pid_t pid = -1;
  if (posix_spawn(&pid, self.c_str(), nullptr, nullptr, argv, environ) != 0) return -1;
  int status = 0;
  waitpid(pid, &status, 0);
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) return -1;
  return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
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
  if (argc > 1) return RunMode(argv[1], argc, argv);
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

  std::map<std::string, std::vector<double>> times;
  const char* modes[] = {"quillora", "qtwidgets", "bare"};
  for (int i = 0; i < kRuns; ++i)
    for (const char* m : modes) times[m].push_back(TimeRun(self, m));
  for (const char* m : modes)
    if (std::count(times[m].begin(), times[m].end(), -1.0)) std::printf("start: mode %s failed\n", m);
  const double q = Median(times["quillora"]), w = Median(times["qtwidgets"]), b = Median(times["bare"]);
  std::printf("start to first paint, median of %d runs: Quillora %.1f ms, plain Qt widgets %.1f ms, bare Qt window %.1f ms\n",
              kRuns, q, w, b);
  std::printf("ratio Quillora / plain Qt widgets: %.2fx (target <= 1.0x)\n", q / w);
  std::printf("ratio Quillora / bare Qt window:   %.2fx\n", q / b);
  MeasureIdle(folder);
  std::error_code ec;
  fs::remove_all(home, ec);
  return 0;
}
