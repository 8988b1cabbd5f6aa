// ui_bench: how the toolkit's gallery window compares with a plain Qt widget
// window of the same size and a similar number of widgets, built in the same
// run. Prints build-and-first-paint time and steady-state repaint time, and
// their ratios (toolkit / plain Qt), and what a screen reader adds to build
// and first paint when it walks the whole accessibility tree. Run with QT_QPA_PLATFORM=offscreen for
// numbers that do not depend on a compositor.
#include <QAccessible>
#include <QAccessibleActionInterface>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QElapsedTimer>
#include <QHBoxLayout>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPainter>
#include <QPushButton>
#include <QRadioButton>
#include <QTabWidget>
#include <QTextEdit>
#include <QVBoxLayout>
#include <algorithm>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "ui/gallery/gallery_window.h"
#include "ui/qt/qt_host.h"

namespace {

constexpr int kWidth = 720, kHeight = 480;

// The plain-Qt counterpart of the gallery's first page.
std::unique_ptr<QWidget> BuildPlainWindow() {
  auto w = std::make_unique<QWidget>();
  w->resize(kWidth, kHeight);
  auto* root = new QVBoxLayout(w.get());
  auto* title = new QHBoxLayout;
  title->addWidget(new QLabel("DirectUI 控件一览 Gallery"));
  title->addStretch();
  for (const char* t : {"菜单", "_", "×"}) title->addWidget(new QPushButton(t));
  root->addLayout(title);
  auto* tabs = new QTabWidget;
  auto* page = new QWidget;
  auto* v = new QVBoxLayout(page);
  v->addWidget(new QLabel("普通标签 Plain label"));
  v->addWidget(new QLabel("富文本 <b>粗体</b> <i>斜体</i> <font color='#D03030'>红色</font>"));
  v->addWidget(new QLabel("很长很长的一段文字会在末尾显示省略号 A very long text"));
  auto* buttons = new QHBoxLayout;
  for (const char* t : {"按钮", "禁用", "模态窗口"}) buttons->addWidget(new QPushButton(t));
  buttons->addWidget(new QLabel(""));
  v->addLayout(buttons);
  auto* opts = new QHBoxLayout;
  opts->addWidget(new QCheckBox("独立选项 A"));
  opts->addWidget(new QRadioButton("单选一"));
  opts->addWidget(new QRadioButton("单选二"));
  v->addLayout(opts);
  auto* imgs = new QHBoxLayout;
  for (int i = 0; i < 4; ++i) {
    auto* l = new QLabel;
    l->setFixedSize(i == 0 || i == 3 ? 120 : 40, 40);
    l->setStyleSheet("background: #FFFFFF");
    imgs->addWidget(l);
  }
  imgs->addWidget(new QLabel("计时 0"));
  v->addLayout(imgs);
  v->addWidget(new QLabel("点击任意控件试试"));
  v->addStretch();
  tabs->addTab(page, "控件");
  auto* edits = new QWidget;
  auto* h = new QHBoxLayout(edits);
  auto* left = new QVBoxLayout;
  left->addWidget(new QLineEdit("单行输入"));
  left->addWidget(new QTextEdit("多行富文本编辑框"));
  left->addWidget(new QTextEdit("只读"));
  h->addLayout(left);
  auto* right = new QVBoxLayout;
  auto* combo = new QComboBox;
  combo->addItems({"中文", "English", "日本語"});
  right->addWidget(combo);
  auto* list = new QListWidget;
  list->addItems({"第一项", "第二项", "第三项", "第四项", "第五项"});
  right->addWidget(list);
  h->addLayout(right);
  tabs->addTab(edits, "输入");
  tabs->addTab(new QWidget, "布局");
  root->addWidget(tabs);
  return w;
}

void Paint(QWidget* w, QImage& target) {
  QPainter p(&target);
  w->render(&p);
}

// What a reader does on a new window: every node's role, name, state,
// place and actions.
int WalkAccessible(QAccessibleInterface* i) {
  if (!i) return 0;
  int n = 1;
  volatile int sink = i->role() + static_cast<int>(i->text(QAccessible::Name).size()) + i->rect().width();
  (void)sink;
  (void)i->state();
  if (QAccessibleActionInterface* a = i->actionInterface()) (void)a->actionNames();
  for (int k = 0; k < i->childCount(); ++k) n += WalkAccessible(i->child(k));
  return n;
}

double Median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v[v.size() / 2];
}

}  // namespace

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  std::string skin = argc > 1 ? argv[1] : DirectUI::CPaintManagerUI::GetInstancePath() + "skin/gallery";
  DirectUI::CPaintManagerUI::SetResourcePath(skin);
  const int kBuilds = 15, kRepaints = 200;
  QImage target(kWidth, kHeight, QImage::Format_ARGB32_Premultiplied);

  // Warm-up: fonts, image decoders and styles are loaded once per process.
  {
    auto plain = BuildPlainWindow();
    plain->show();
    Paint(plain.get(), target);
    DirectUI::GalleryWnd g;
    g.Create(nullptr, "", DirectUI::UI_WNDSTYLE_DIALOG, 0);
    g.ShowWindow(true);
    Paint(g.Host(), target);
    g.Close();
    QCoreApplication::processEvents();
  }

  std::vector<double> duiBuild, qtBuild, duiRepaint, qtRepaint, readerWalk;
  int nodes = 0;
  QElapsedTimer t;
  for (int i = 0; i < kBuilds; ++i) {
    t.start();
    auto plain = BuildPlainWindow();
    plain->show();
    Paint(plain.get(), target);
    qtBuild.push_back(t.nsecsElapsed() / 1e6);

    t.start();
    DirectUI::GalleryWnd g;
    g.Create(nullptr, "", DirectUI::UI_WNDSTYLE_DIALOG, 0);
    g.ShowWindow(true);
    Paint(g.Host(), target);
    duiBuild.push_back(t.nsecsElapsed() / 1e6);
    // A reader's first walk of the new window, timed apart so the build's
    // noise does not enter the difference.
    t.start();
    nodes = WalkAccessible(QAccessible::queryAccessibleInterface(g.Host()));
    readerWalk.push_back(t.nsecsElapsed() / 1e6);

    if (i == 0) {
      for (int r = 0; r < kRepaints; ++r) {
        t.start();
        Paint(plain.get(), target);
        qtRepaint.push_back(t.nsecsElapsed() / 1e6);
        t.start();
        Paint(g.Host(), target);
        duiRepaint.push_back(t.nsecsElapsed() / 1e6);
      }
    }
    g.Close();
    QCoreApplication::processEvents();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
  }

  double db = Median(duiBuild), qb = Median(qtBuild), dr = Median(duiRepaint), qr = Median(qtRepaint);
  std::printf("window %dx%d, platform %s, medians of %d builds and %d repaints\n", kWidth, kHeight,
              qPrintable(QGuiApplication::platformName()), kBuilds, kRepaints);
  std::printf("build + first paint: DirectUI gallery %.2f ms, plain Qt widgets %.2f ms, ratio %.2f\n", db, qb, db / qb);
  std::printf("steady repaint:      DirectUI gallery %.3f ms, plain Qt widgets %.3f ms, ratio %.2f\n", dr, qr, dr / qr);
  const double rw = Median(readerWalk);
  std::printf("screen reader's first walk of all %d nodes: %.3f ms, %.1f %% of build + first paint\n", nodes, rw,
              rw / db * 100.0);
  return 0;
}
