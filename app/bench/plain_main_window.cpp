// shell_bench_plain: the baselines of the start-up benchmark, built from Qt
// widgets alone (this program links nothing of ours).
//   shell_bench_plain qtwidgets   the main window as a good Qt developer would
//                                 build it: the same size, controls, texts
//                                 and pictures (read from the same skin
//                                 files) as Quillora's first frame, signed
//                                 out, on the document tab. What is not on
//                                 the first frame (the other tabs, the
//                                 language picker, the later states of the
//                                 document page) is built when first shown,
//                                 so none of it is built here.
//   shell_bench_plain bare        an empty window of the same size.
// A second argument saves the window's picture to that file and ends, for
// comparing it with Quillora's own screenshot.
// Both windows are named "bench" for the first-paint probe.
#include <QAbstractButton>
#include <QApplication>
#include <QButtonGroup>
#include <QHBoxLayout>
#include <QImageReader>
#include <QLabel>
#include <QPainter>
#include <QPainterPath>
#include <QStackedWidget>
#include <QVBoxLayout>
#include <QtWidgets/qdrawutil.h>
#include <cstring>

namespace {

constexpr int kWidth = 900, kHeight = 620;

QString SkinFile(const char* file) { return QApplication::applicationDirPath() + "/skin/" + file; }

// A skin picture drawn at `size` (drawings rendered at that size).
QPixmap Picture(const char* file, QSize size = {}) {
  QImageReader reader(SkinFile(file));
  if (size.isValid()) reader.setScaledSize(size);
  return QPixmap::fromImageReader(&reader);
}

QFont Font(int px, bool bold = false) {
  QFont f(QStringLiteral("Noto Sans CJK SC"));
  f.setPixelSize(px);
  f.setBold(bold);
  return f;
}

void SetTextColor(QWidget* w, QRgb color) {
  QPalette p = w->palette();
  p.setColor(QPalette::WindowText, QColor::fromRgb(color));
  p.setColor(QPalette::ButtonText, QColor::fromRgb(color));
  w->setPalette(p);
}

QLabel* Text(const QString& text, int px, QRgb color, Qt::Alignment align = Qt::AlignLeft | Qt::AlignVCenter,
             bool bold = false) {
  auto* label = new QLabel(text);
  label->setFont(Font(px, bold));
  label->setAlignment(align);
  SetTextColor(label, color);
  return label;
}

QLabel* Icon(const char* file, int side) {
  auto* label = new QLabel;
  label->setFixedSize(side, side);
  label->setPixmap(Picture(file, {side, side}));
  return label;
}

QWidget* Fill(QWidget* w, QRgb color) {
  w->setAutoFillBackground(true);
  QPalette p = w->palette();
  p.setColor(QPalette::Window, QColor::fromRgb(color));
  w->setPalette(p);
  return w;
}

QWidget* Line(int w, int h) {
  auto* line = Fill(new QWidget, 0xFFE5E9F0);
  if (w) line->setFixedWidth(w);
  if (h) line->setFixedHeight(h);
  return line;
}

// A button drawn from pictures: a background (nine slices when it has
// corners, else stretched), an optional icon at a fixed place, and its text.
class PictureButton : public QAbstractButton {
 public:
  struct Look {
    const char* background = nullptr;
    const char* checked = nullptr;
    int corner = 0;
    const char* icon = nullptr;
    QRect iconRect{};
    int textLeft = 0;
  };
  PictureButton(const QString& text, QSize size, const Look& look) : look_(look) {
    setText(text);
    setFixedSize(size);
    const bool stretched = look.background && !look.corner;
    if (look.background) background_ = Picture(look.background, stretched ? size : QSize());
    if (look.checked) checked_ = Picture(look.checked);
    if (look.icon) icon_ = Picture(look.icon, look.iconRect.size());
  }

 protected:
  void paintEvent(QPaintEvent*) override {
    QPainter p(this);
    p.setRenderHint(QPainter::SmoothPixmapTransform);
    const QPixmap& bg = isChecked() && !checked_.isNull() ? checked_ : background_;
    if (!bg.isNull()) {
      if (look_.corner)
        qDrawBorderPixmap(&p, rect(), QMargins(look_.corner, look_.corner, look_.corner, look_.corner), bg);
      else
        p.drawPixmap(rect(), bg);
    }
    if (!icon_.isNull()) p.drawPixmap(look_.iconRect, icon_);
    p.setFont(font());
    p.setPen(palette().color(QPalette::ButtonText));
    const Qt::Alignment align = look_.textLeft ? Qt::AlignLeft | Qt::AlignVCenter : Qt::AlignCenter;
    p.drawText(rect().adjusted(look_.textLeft, 0, 0, 0), align, text());
  }

 private:
  Look look_;
  QPixmap background_, checked_, icon_;
};

PictureButton* Button(const QString& text, QSize size, const PictureButton::Look& look, int px, QRgb color,
                      bool bold) {
  auto* b = new PictureButton(text, size, look);
  b->setFont(Font(px, bold));
  SetTextColor(b, color);
  return b;
}

// A white card with a rounded border (the two panels of a page).
class Card : public QWidget {
 protected:
  void paintEvent(QPaintEvent*) override {
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(QColor::fromRgb(0xFFE3E8EF));
    p.setBrush(Qt::white);
    p.drawRoundedRect(QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5), 5, 5);
  }
};

void AddCentred(QBoxLayout* column, QWidget* w) {
  auto* row = new QHBoxLayout;
  row->addStretch();
  row->addWidget(w);
  row->addStretch();
  column->addLayout(row);
}

QWidget* TitleBar() {
  auto* bar = Fill(new QWidget, 0xFFFFFFFF);
  bar->setFixedHeight(56);
  auto* row = new QHBoxLayout(bar);
  row->setContentsMargins(16, 0, 10, 0);
  row->setSpacing(8);
  row->addWidget(Icon("mainWnd/logo.png", 28));
  auto* name = Text("Quillora", 16, 0xFF1F2937, Qt::AlignLeft | Qt::AlignVCenter, true);
  name->setFixedWidth(92);
  row->addWidget(name);
  auto* version = Text("V1.0.0", 12, 0xFF8A94A6);
  version->setContentsMargins(0, 10, 0, 0);
  row->addWidget(version);
  row->addStretch();
  row->addWidget(Button("登录 / 注册", {100, 32}, {.background = "common/btn_blue.png", .corner = 6}, 14, 0xFFFFFFFF,
                        true));
  for (const char* icon : {"mainWnd/more.png", "mainWnd/min.png", "mainWnd/close.png"})
    row->addWidget(Button("", {32, 32}, {.icon = icon, .iconRect = {8, 8, 16, 16}}, 14, 0xFF1F2937, false));
  return bar;
}

QWidget* Navigation() {
  auto* nav = Fill(new QWidget, 0xFFFFFFFF);
  nav->setFixedWidth(168);
  auto* column = new QVBoxLayout(nav);
  column->setContentsMargins(12, 14, 12, 14);
  column->setSpacing(6);
  auto* group = new QButtonGroup(nav);
  const char* icons[] = {"mainWnd/nav_doc.png", "mainWnd/nav_voice.png", "mainWnd/nav_pic.png",
                         "mainWnd/nav_text.png"};
  const char* texts[] = {"文档翻译", "音频翻译", "图片翻译", "短句翻译"};
  for (int i = 0; i < 4; ++i) {
    auto* option = Button(texts[i], {144, 44},
                          {.checked = "common/nav_sel.png", .corner = 6, .icon = icons[i], .iconRect = {14, 12, 20, 20},
                           .textLeft = 46},
                          14, 0xFF374151, false);
    option->setCheckable(true);
    option->setChecked(i == 0);
    group->addButton(option, i);
    column->addWidget(option);
  }
  column->addStretch();
  column->addWidget(Text("文件拖到窗口里即可添加", 12, 0xFF9AA3B2));
  return nav;
}

QWidget* DocumentPage() {
  auto* page = new QWidget;
  auto* column = new QVBoxLayout(page);
  column->setContentsMargins(24, 16, 24, 20);
  column->setSpacing(14);
  auto* bar = new QHBoxLayout;
  bar->setSpacing(8);
  const PictureButton::Look language{.background = "workspace/btn_lang_normal.svg", .textLeft = 14};
  bar->addWidget(Button("英语", {148, 36}, language, 13, 0xFF262626, false));
  bar->addWidget(Button("", {36, 36}, {.background = "workspace/swap.svg"}, 13, 0xFF262626, false));
  bar->addWidget(Button("中文（简体）", {148, 36}, language, 13, 0xFF262626, false));
  bar->addStretch();
  bar->addWidget(Button("立即翻译", {120, 36}, {.background = "workspace/btn_trans_normal.svg"}, 14, 0xFFFFFFFF, true));
  column->addLayout(bar);

  auto* cards = new QHBoxLayout;
  cards->setSpacing(16);
  auto* source = new Card;
  auto* sourceColumn = new QVBoxLayout(source);
  sourceColumn->addStretch();
  AddCentred(sourceColumn, Icon("workspace/upload.svg", 64));
  sourceColumn->addSpacing(16);
  sourceColumn->addWidget(Text("拖拽文件到这里，或点击下方按钮添加", 13, 0xFF595959, Qt::AlignCenter));
  sourceColumn->addSpacing(16);
  AddCentred(sourceColumn, Button("添加文件", {136, 40}, {.background = "workspace/btn_add_normal.svg"}, 14,
                                  0xFFFFFFFF, true));
  sourceColumn->addSpacing(12);
  sourceColumn->addWidget(Text("支持 Word、Excel、PPT、PDF，单个文件不超过 50MB", 12, 0xFF8C8C8C, Qt::AlignCenter));
  sourceColumn->addStretch();
  auto* result = new Card;
  auto* resultColumn = new QVBoxLayout(result);
  resultColumn->addStretch();
  AddCentred(resultColumn, Icon("workspace/result_idle.svg", 64));
  resultColumn->addSpacing(16);
  resultColumn->addWidget(Text("翻译结果将显示在这里", 13, 0xFF8C8C8C, Qt::AlignCenter));
  resultColumn->addStretch();
  cards->addWidget(source);
  cards->addWidget(result);
  column->addLayout(cards, 1);
  return page;
}

void BuildMainWindow(QWidget& w) {
  w.setWindowTitle("Quillora");
  Fill(&w, 0xFFF5F7FA);
  auto* root = new QVBoxLayout(&w);
  root->setContentsMargins(1, 1, 1, 1);
  root->setSpacing(0);
  root->addWidget(TitleBar());
  root->addWidget(Line(0, 1));
  auto* body = new QHBoxLayout;
  body->setSpacing(0);
  body->addWidget(Navigation());
  body->addWidget(Line(1, 0));
  auto* pages = new QStackedWidget;
  pages->addWidget(DocumentPage());
  body->addWidget(pages, 1);
  root->addLayout(body, 1);
  QPainterPath outline;
  outline.addRoundedRect(QRectF(0, 0, kWidth, kHeight), 5, 5);
  w.setMask(QRegion(outline.toFillPolygon().toPolygon()));
}

}  // namespace

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  QWidget w(nullptr, Qt::FramelessWindowHint);
  w.setObjectName("bench");
  w.resize(kWidth, kHeight);
  if (argc > 1 && std::strcmp(argv[1], "qtwidgets") == 0) BuildMainWindow(w);
  w.show();
  if (argc > 2) return w.grab().save(QString::fromLocal8Bit(argv[2])) ? 0 : 1;
  return app.exec();
}
