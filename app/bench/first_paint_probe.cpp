// Preloaded into a program by shell_bench (LD_PRELOAD): when the top-level
// window named $SHELL_BENCH_WINDOW has painted for the first time, writes the
// CLOCK_MONOTONIC time in nanoseconds to the descriptor $SHELL_BENCH_FD and
// ends the process. The program itself is the unchanged executable, so both
// sides of the comparison are measured the same way, from exec to the first
// painted frame.
#include <QCoreApplication>
#include <QEvent>
#include <QWidget>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <string>

#include <unistd.h>

namespace {

void ReportAndExit() {
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC, &now);
  const long long ns = static_cast<long long>(now.tv_sec) * 1000000000LL + now.tv_nsec;
  const std::string line = std::to_string(ns) + "\n";
  if (const char* fd = std::getenv("SHELL_BENCH_FD")) {
    if (write(std::atoi(fd), line.data(), line.size()) < 0) std::_Exit(3);
  }
  std::_Exit(0);
}

class FirstPaintWatch : public QObject {
 public:
  explicit FirstPaintWatch(QString window) : window_(std::move(window)) {}
  bool eventFilter(QObject* object, QEvent* event) override {
    if (event->type() == QEvent::Paint && object->isWidgetType() && object->objectName() == window_ &&
        static_cast<QWidget*>(object)->isWindow()) {
      qApp->removeEventFilter(this);
      // Queued: runs once this paint pass, children and flush included, is done.
      QMetaObject::invokeMethod(qApp, &ReportAndExit, Qt::QueuedConnection);
    }
    return false;
  }

 private:
  QString window_;
};

void InstallWatch() {
  // Children of the measured program (the update program) run without the probe.
  unsetenv("LD_PRELOAD");
  const char* window = std::getenv("SHELL_BENCH_WINDOW");
  if (!window) return;
  qApp->installEventFilter(new FirstPaintWatch(QString::fromUtf8(window)));
}

}  // namespace

Q_COREAPP_STARTUP_FUNCTION(InstallWatch)
