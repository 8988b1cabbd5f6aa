// workspace_bench: two figures for the translation pages, measured in one run.
//
// 1. Build + first paint of the page host (the four pages as tabs, built from
//    their skins) against a plain Qt widget window with about the same
//    widgets (tabs, buttons, labels, SVG icons, stacked panels, a progress
//    bar, text editors), as the ratio of the medians (target: <= 1.0).
// 2. The UI thread's busy share (its CPU time over the wall time) while the
//    document page shows the progress of a 1 GiB upload to the emulator
//    (target: < 5 %), with the number of reports and of UI wake-ups.
//
// Not a test: run it by hand, e.g.
//   QT_QPA_PLATFORM=offscreen build/bin/workspace_bench [MiB]
#include <time.h>

#include <QApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QStackedWidget>
#include <QSvgRenderer>
#include <QPainter>
#include <QTabWidget>
#include <QTimer>
#include <QEventLoop>
#include <QTextEdit>
#include <QVBoxLayout>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "emulator/emulator.h"
#include "service/tests/task_test_support.h"
#include "service/trans_task_manager.h"
#include "service/transport/remote_services.h"
#include "ui/qt/qt_host.h"
#include "workspace/host/workspace_host.h"
#include "workspace/page_services.h"

namespace {

using namespace DirectUI;
using quillora::workspace::WorkspaceHostWnd;
using Clock = std::chrono::steady_clock;

double Ms(Clock::duration d) { return std::chrono::duration<double, std::milli>(d).count(); }

double Median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v[v.size() / 2];
}

// Runs the window's event loop, as the program would, until done() holds
// (looked at five times a second).
void RunLoopUntil(const std::function<bool()>& done) {
  QEventLoop loop;
  QTimer check;
  QObject::connect(&check, &QTimer::timeout, [&] {
    if (done()) loop.quit();
  });
  check.start(200);
  loop.exec();
}

double ThreadCpuMs() {
  timespec ts{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
  return ts.tv_sec * 1e3 + ts.tv_nsec / 1e6;
}

QPixmap Svg(const QString& file, int w, int h) {
  QPixmap pix(w, h);
  pix.fill(Qt::transparent);
  QSvgRenderer svg(QString(QUILLORA_SKIN_DIR "/workspace/") + file);
  QPainter p(&pix);
  svg.render(&p);
  return pix;
}

QLabel* Icon(const QString& file, int w, int h) {
  auto* l = new QLabel;
  l->setPixmap(Svg(file, w, h));
  return l;
}

// One page of the plain Qt window: the same parts as a page skin.
QWidget* QtPage(bool text) {
  auto* page = new QWidget;
  auto* v = new QVBoxLayout(page);
  auto* bar = new QHBoxLayout;
  bar->addWidget(new QPushButton("英语"));
  auto* swap = new QPushButton;
  swap->setIcon(QIcon(Svg("swap.svg", 36, 36)));
  bar->addWidget(swap);
  bar->addWidget(new QPushButton("中文（简体）"));
  bar->addStretch();
  bar->addWidget(new QPushButton("立即翻译"));
  v->addLayout(bar);
  auto* panels = new QHBoxLayout;
  if (text) {
    panels->addWidget(new QTextEdit);
  } else {
    auto* source = new QStackedWidget;
    auto* empty = new QWidget;
    auto* ev = new QVBoxLayout(empty);
    ev->addWidget(Icon("upload.svg", 64, 64));
    ev->addWidget(new QLabel("拖拽文件到这里，或点击下方按钮添加"));
    ev->addWidget(new QPushButton("添加文件"));
    ev->addWidget(new QLabel("支持 Word、Excel、PPT、PDF，单个文件不超过 50MB"));
    source->addWidget(empty);
    auto* chosen = new QWidget;
    auto* cv = new QVBoxLayout(chosen);
    auto* icons = new QStackedWidget;
    for (const char* f : {"icon_word.svg", "icon_excel.svg", "icon_ppt.svg", "icon_pdf.svg"}) icons->addWidget(Icon(f, 48, 56));
    cv->addWidget(icons);
    cv->addWidget(new QLabel("name"));
    auto* row = new QHBoxLayout;
    row->addWidget(new QLabel("size"));
    row->addWidget(new QPushButton("重新选择"));
    row->addWidget(new QPushButton("删除"));
    cv->addLayout(row);
    source->addWidget(chosen);
    panels->addWidget(source);
  }
  auto* dest = new QStackedWidget;
  auto* idle = new QWidget;
  auto* iv = new QVBoxLayout(idle);
  iv->addWidget(Icon("result_idle.svg", 64, 64));
  iv->addWidget(new QLabel("翻译结果将显示在这里"));
  dest->addWidget(idle);
  auto* busy = new QWidget;
  auto* bv = new QVBoxLayout(busy);
  bv->addWidget(new QLabel("排队中"));
  bv->addWidget(new QProgressBar);
  bv->addWidget(new QLabel(""));
  dest->addWidget(busy);
  auto* done = new QWidget;
  auto* dv = new QVBoxLayout(done);
  auto* head = new QHBoxLayout;
  head->addWidget(Icon("icon_txt.svg", 34, 40));
  head->addWidget(new QLabel(""));
  head->addWidget(new QPushButton("导出文件"));
  dv->addLayout(head);
  dv->addWidget(new QTextEdit);
  dest->addWidget(done);
  panels->addWidget(dest);
  v->addLayout(panels);
  return page;
}

double QtBuildAndPaint() {
  const auto start = Clock::now();
  auto window = std::make_unique<QWidget>();
  window->resize(900, 600);
  auto* v = new QVBoxLayout(window.get());
  auto* tabs = new QTabWidget;
  tabs->addTab(QtPage(false), "文档翻译");
  tabs->addTab(QtPage(false), "音频翻译");
  tabs->addTab(QtPage(false), "图片翻译");
  tabs->addTab(QtPage(true), "短句翻译");
  v->addWidget(tabs);
  window->show();
  QImage first = window->grab().toImage();
  const double ms = Ms(Clock::now() - start);
  if (first.isNull()) std::fprintf(stderr, "Qt window did not paint\n");
  return ms;
}

double HostBuildAndPaint() {
  const auto start = Clock::now();
  auto host = std::make_unique<WorkspaceHostWnd>();
  host->Create(nullptr, "Quillora", UI_WNDSTYLE_FRAME, 0);
  host->ShowWindow(true);
  host->GetPaintManager().UpdateLayout();
  QImage first = host->Host()->grab().toImage();
  const double ms = Ms(Clock::now() - start);
  if (first.isNull()) std::fprintf(stderr, "page host did not paint\n");
  host->Close();
  while (IsWindow(host->GetHWND())) QCoreApplication::processEvents();
  return ms;
}

void BuildAndPaint() {
  std::vector<double> host, qt;
  HostBuildAndPaint();  // warm caches (fonts, images) for both alike
  QtBuildAndPaint();
  for (int i = 0; i < 15; ++i) {
    host.push_back(HostBuildAndPaint());
    qt.push_back(QtBuildAndPaint());
  }
  const double h = Median(host), q = Median(qt);
  std::printf("build + first paint: page host %.1f ms, plain Qt widgets %.1f ms, ratio %.2fx (target <= 1.0)\n", h, q,
              h / q);
}

void ProgressShare(uint64_t mib) {
  quillora::emulator::Options eo;
  eo.threads = 8;
  quillora::emulator::Emulator emu(eo);
  if (!emu.Start()) {
    std::fprintf(stderr, "emulator: %s\n", emu.LastError().c_str());
    return;
  }
  quillora::ConfigureRemoteServices(emu.Settings());
  quillora::testing_support::TempDir dir;
  std::filesystem::create_directories(dir.path() + "out");
  quillora::TaskManagerOptions o;
  o.identity.machineId = "0123456789ABCDEF0123456789ABCDEF";
  o.identity.softwareName = "Quillora";
  o.identity.softwareVersion = "1.0.0";
  o.identity.productId = "342";
  o.pollInterval = std::chrono::milliseconds(100);
  o.outputFolder = [&] { return dir.path() + "out/"; };
  o.signIn = [] { return std::optional<quillora::SignInValues>(); };
  o.tempFolder = dir.path();
  auto manager = std::make_unique<quillora::TransTaskManager>(std::move(o));
  quillora::workspace::SetPageServices({manager.get(), {}});

  auto host = std::make_unique<WorkspaceHostWnd>();
  host->Create(nullptr, "Quillora", UI_WNDSTYLE_FRAME, 0);
  host->ShowWindow(true);
  manager->SetNotifier(host->Bridge());
  {
    const auto idleStart = Clock::now();
    const double idleCpu = ThreadCpuMs();
    RunLoopUntil([&] { return Clock::now() - idleStart >= std::chrono::seconds(2); });
    std::printf("idle window: UI thread busy %.2f %%\n", 100 * (ThreadCpuMs() - idleCpu) / Ms(Clock::now() - idleStart));
  }
  auto* page = host->FilePage(0);
  // The page checks the size when the user clicks; the file then grows to the
  // benchmark's size while the task waits for the service parameters.
  const std::string path = dir.path() + "big.pdf";
  quillora::testing_support::WriteTextFile(path, "x");
  page->SetSourceFile(path);
  emu.SetFault({"/api/v4/memparm", quillora::emulator::Fault::Kind::kHang, 0, 200, {}, -1});
  CPaintManagerUI& pm = host->GetPaintManager();
  pm.UpdateLayout();
  pm.SendNotify(pm.FindSubControlByName(page, "btnTrans"), DUI_MSGTYPE_CLICK);
  std::filesystem::resize_file(path, mib << 20);
  const auto start = Clock::now();
  const double cpuStart = ThreadCpuMs();
  emu.ClearFaults();
  RunLoopUntil([&] { return !page->IsWaitingForTask(); });
  const double wall = Ms(Clock::now() - start), cpu = ThreadCpuMs() - cpuStart;
  const auto counters = host->Bridge()->GetCounters();
  std::printf("%llu MiB upload: %.1f s, UI thread busy %.2f %% (target < 5 %%); %llu progress reports, %llu UI "
              "wake-ups, %llu shown; page says \"%s\"\n",
              static_cast<unsigned long long>(mib), wall / 1000, 100 * cpu / wall,
              static_cast<unsigned long long>(counters.reportsReceived),
              static_cast<unsigned long long>(counters.wakeUps),
              static_cast<unsigned long long>(counters.progressDelivered),
              page->ResultPath().empty() ? "failed" : "finished");
  manager.reset();
  host->Close();
  while (IsWindow(host->GetHWND())) QCoreApplication::processEvents();
  quillora::workspace::SetPageServices({});
}

}  // namespace

int main(int argc, char** argv) {
  EnsureApplication();
  CPaintManagerUI::SetResourcePath(QUILLORA_SKIN_DIR);
  BuildAndPaint();
  ProgressShare(argc > 1 ? std::strtoull(argv[1], nullptr, 10) : 1024);
  return 0;
}
