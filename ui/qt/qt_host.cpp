#include "ui/qt/qt_host.h"

#include <QApplication>
#include <QCloseEvent>
#include <QFileInfo>
#include <QGuiApplication>
#include <QImageReader>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMimeData>
#include <QMouseEvent>
#include <QPainterPath>
#include <QTextDocument>
#include <QTextEdit>
#include <QThread>
#include <QWindow>
#include <algorithm>
#include <atomic>
#include <cctype>
#include <cmath>
#include <map>
#include <mutex>
#include <optional>
#include <set>
#include <string_view>

#include "ui/qt/qt_font_setup.h"
#include "ui/ui_controls.h"

namespace DirectUI {

// ---- conversions ----

QColor ToQColor(DWORD argb) {
  return QColor((argb >> 16) & 0xFF, (argb >> 8) & 0xFF, argb & 0xFF, (argb >> 24) & 0xFF);
}
QRect ToQRect(const RECT& rc) { return QRect(rc.left, rc.top, rc.Width(), rc.Height()); }
RECT FromQRect(const QRect& rc) { return {rc.left(), rc.top(), rc.left() + rc.width(), rc.top() + rc.height()}; }
QString ToQ(const std::string& s) { return QString::fromUtf8(s.data(), static_cast<qsizetype>(s.size())); }
std::string FromQ(const QString& s) {
  QByteArray b = s.toUtf8();
  return std::string(b.constData(), static_cast<size_t>(b.size()));
}

QIcon IconFromFile(const std::string& file) {
  if (file.empty()) return QGuiApplication::windowIcon();
  const std::string path = file[0] == '/' ? file : CPaintManagerUI::GetResourcePath() + file;
  return QIcon(ToQ(path));
}

QFont MakeQFont(const TFontInfo& info, int dpiScale) {
  // The skin's family alone: a list of families would make Qt work out every
  // font's whole fallback chain when the font is first used, which costs
  // more than the rest of building the font. When the skin names a family
  // this machine lacks, Qt tries its substitutes next, so the CJK face we
  // ship against goes there, once per family name; glyphs missing from the
  // chosen face are still found through Qt's own fallbacks, on demand.
  static std::set<QString> substituted;  // fonts are only made on the GUI thread
  const QString family = info.name.empty() ? QStringLiteral("Noto Sans CJK SC") : ToQ(info.name);
  if (substituted.insert(family).second && family != QLatin1String("Noto Sans CJK SC") &&
      QFont::substitutes(family).isEmpty())
    QFont::insertSubstitutions(family, {QStringLiteral("Noto Sans CJK SC"), QStringLiteral("sans-serif")});
  QFont f(family);
  f.setPixelSize(std::max(1, info.size * dpiScale / 100));
  f.setBold(info.bold);
  f.setItalic(info.italic);
  f.setUnderline(info.underline);
  return f;
}

int QtFlagsFromStyle(UINT style) {
  int f = 0;
  if (style & DT_CENTER) f |= Qt::AlignHCenter;
  else if (style & DT_RIGHT) f |= Qt::AlignRight;
  else f |= Qt::AlignLeft;
  if (style & DT_VCENTER) f |= Qt::AlignVCenter;
  else if (style & DT_BOTTOM) f |= Qt::AlignBottom;
  else f |= Qt::AlignTop;
  if (style & DT_WORDBREAK) f |= Qt::TextWordWrap;
  if (style & DT_SINGLELINE) f |= Qt::TextSingleLine;
  return f;
}

// ---- drawing ----

void CRenderContext::FillRect(const RECT& rc, DWORD color) {
  if ((color >> 24) == 0) return;
  p.fillRect(ToQRect(rc), ToQColor(color));
}

void CRenderContext::DrawBorder(const RECT& rc, DWORD color, int size, SIZE round) {
  p.save();
  QPen pen(ToQColor(color));
  pen.setWidth(size);
  pen.setJoinStyle(Qt::MiterJoin);
  p.setPen(pen);
  p.setBrush(Qt::NoBrush);
  QRectF r = QRectF(ToQRect(rc)).adjusted(size / 2.0, size / 2.0, -size / 2.0, -size / 2.0);
  if (round.cx > 0 || round.cy > 0) {
    p.setRenderHint(QPainter::Antialiasing);
    p.drawRoundedRect(r, round.cx / 2.0, round.cy / 2.0);
  } else {
    p.drawRect(r);
  }
  p.restore();
}

void CRenderContext::DrawText(const RECT& rc, const std::string& text, DWORD color, int font, UINT style, bool html) {
  if (text.empty() || rc.IsEmpty()) return;
  QFont f = pm ? pm->Impl()->Font(font) : QFont();
  if (html) {
    QTextDocument doc;
    doc.setDefaultFont(f);
    doc.setDocumentMargin(0);
    doc.setDefaultStyleSheet(QStringLiteral("body { color: %1; }").arg(ToQColor(color).name(QColor::HexArgb)));
    doc.setHtml(QStringLiteral("<body>") + ToQ(text) + QStringLiteral("</body>"));
    if (!(style & DT_SINGLELINE)) doc.setTextWidth(rc.Width());
    QSizeF s = doc.size();
    int y = rc.top;
    if (style & DT_VCENTER) y = rc.top + (rc.Height() - static_cast<int>(s.height())) / 2;
    else if (style & DT_BOTTOM) y = rc.bottom - static_cast<int>(s.height());
    int x = rc.left;
    int w = static_cast<int>(std::ceil(doc.idealWidth()));
    if (style & DT_CENTER) x = rc.left + (rc.Width() - w) / 2;
    else if (style & DT_RIGHT) x = rc.right - w;
    p.save();
    p.setClipRect(ToQRect(rc), Qt::IntersectClip);
    p.translate(x, y);
    doc.drawContents(&p);
    p.restore();
    return;
  }
  p.save();
  p.setFont(f);
  p.setPen(ToQColor(color));
  QString s = ToQ(text);
  if (style & DT_SINGLELINE) s.replace('\n', ' ');
  if ((style & DT_END_ELLIPSIS) && (style & DT_SINGLELINE)) {
    s = QFontMetrics(f).elidedText(s, Qt::ElideRight, rc.Width());
  }
  p.drawText(ToQRect(rc), QtFlagsFromStyle(style), s);
  p.restore();
}

namespace {

// Device pixels per layout pixel of the surface being painted (2 on a
// 200 % screen, and in its screenshots).
qreal DeviceRatio(QPainter& p) { return p.device() ? p.device()->devicePixelRatioF() : 1.0; }

QRect ScaledRect(const QRect& r, int k) { return QRect(r.topLeft() * k, r.size() * k); }

bool IsDrawingFile(const std::string& file) {
  auto endsWith = [&](std::string_view suffix) {
    return file.size() >= suffix.size() &&
           std::equal(suffix.rbegin(), suffix.rend(), file.rbegin(),
                      [](char a, char b) { return a == std::tolower(static_cast<unsigned char>(b)); });
  };
  return endsWith(".svg") || endsWith(".svgz");
}

}  // namespace

bool CRenderContext::DrawImage(const RECT& rcControl, const TImageInfo& info) {
  if (!pm || info.file.empty()) return false;
  const qreal dpr = warmOnly ? warmRatio : DeviceRatio(p);
  RECT dest = rcControl;
  if (info.hasDest) {
    RECT d = pm->ScaleRect(info.dest);
    dest = {rcControl.left + d.left, rcControl.top + d.top, rcControl.left + d.right, rcControl.top + d.bottom};
    dest.right = std::min(dest.right, rcControl.right);
    dest.bottom = std::min(dest.bottom, rcControl.bottom);
  }
  const bool sliced = info.corner.left || info.corner.top || info.corner.right || info.corner.bottom;
  if (!info.hasSource && !sliced && IsDrawingFile(info.file)) {
    // A whole drawing is rendered straight at the device pixels it covers:
    // sharper than scaling a rendering, and it renders fewer pixels.
    if (dest.IsEmpty()) return warmOnly || pm->Impl()->GetImage(info.file) != nullptr;
    const QRect d = ToQRect(dest);
    const QPixmap* pix = pm->Impl()->GetDrawing(info.file, QSize(qRound(d.width() * dpr), qRound(d.height() * dpr)), dpr);
    if (pix && warmOnly) return true;
    if (pix) {
      p.save();
      if (info.fade < 255) p.setOpacity(info.fade / 255.0);
      p.drawPixmap(d.topLeft(), *pix);
      p.restore();
      return true;
    }
  }
  // A picture drawn larger than its pixels (a scaled skin or a hi-dpi
  // screen) takes its @2x file when there is one.
  int k = 1;  // image pixels per picture unit
  const QImage* img = pm->Impl()->GetImage(info.file, dpr * pm->GetDPIScale() > 100.0 ? 2 : 1, &k);
  if (!img) return false;
  if (dest.IsEmpty()) return true;
  // Skins give source rectangles and corners in picture units (the 1x file's pixels).
  const QRect whole(0, 0, img->width() / k, img->height() / k);
  const QRect srcUnits = info.hasSource ? ToQRect(info.source).intersected(whole) : whole;
  if (srcUnits.isEmpty()) return false;
  const QRect src = ScaledRect(srcUnits, k);
  if (warmOnly) {
    const QRect d = ToQRect(dest);
    const QSize device(qRound(d.width() * dpr), qRound(d.height() * dpr));
    if (!sliced && src.size() != device) pm->Impl()->GetScaled(info.file, k, FromQRect(src), device, dpr);
    return true;
  }
  RECT corner = pm->ScaleRect(info.corner);
  p.save();
  if (info.fade < 255) p.setOpacity(info.fade / 255.0);
  p.setRenderHint(QPainter::SmoothPixmapTransform);
  QRect d = ToQRect(dest);
  const QSize device(qRound(d.width() * dpr), qRound(d.height() * dpr));
  if (sliced) {
    // Nine slices: corners keep their size, edges and middle stretch.
    const RECT c{info.corner.left * k, info.corner.top * k, info.corner.right * k, info.corner.bottom * k};
    int sx[4] = {src.left(), src.left() + c.left, src.right() + 1 - c.right, src.right() + 1};
    int sy[4] = {src.top(), src.top() + c.top, src.bottom() + 1 - c.bottom, src.bottom() + 1};
    int dx[4] = {d.left(), d.left() + corner.left, d.right() + 1 - corner.right, d.right() + 1};
    int dy[4] = {d.top(), d.top() + corner.top, d.bottom() + 1 - corner.bottom, d.bottom() + 1};
    for (int i = 0; i < 3; ++i)
      for (int j = 0; j < 3; ++j) {
        QRect s(sx[i], sy[j], sx[i + 1] - sx[i], sy[j + 1] - sy[j]);
        QRect t(dx[i], dy[j], dx[i + 1] - dx[i], dy[j + 1] - dy[j]);
        if (s.width() > 0 && s.height() > 0 && t.width() > 0 && t.height() > 0) p.drawImage(t, *img, s);
      }
  } else if (src.size() == device) {
    p.drawImage(QRectF(d), *img, QRectF(src));  // one image pixel per device pixel
  } else {
    // Scaled once to the device pixels it covers, so it stays sharp.
    const QPixmap* pix = pm->Impl()->GetScaled(info.file, k, FromQRect(src), device, dpr);
    if (pix) p.drawPixmap(d.topLeft(), *pix);
  }
  p.restore();
  return true;
}

// ---- paint manager impl ----

CPaintManagerImpl::~CPaintManagerImpl() { KillAll(); }

namespace {

// "img/a.png" → "img/a@2x.png".
QString HiResPath(const QString& path) {
  const int slash = static_cast<int>(path.lastIndexOf('/'));
  const int dot = static_cast<int>(path.lastIndexOf('.'));
  return dot > slash ? path.left(dot) + QStringLiteral("@2x") + path.mid(dot) : path + QStringLiteral("@2x");
}

// A reader of `path` in the format its suffix names. Left to guess, a reader
// loads every image plugin there is to ask each whether the bytes are its
// own, which costs more than reading the picture; the guess is made only
// when the suffix is unknown or does not match the content.
std::unique_ptr<QImageReader> OpenPicture(const QString& path) {
  const int dot = static_cast<int>(path.lastIndexOf('.'));
  const QString suffix = dot > path.lastIndexOf('/') ? path.mid(dot + 1).toLower() : QString();
  static const QStringList kKnown = {"png", "svg", "svgz", "jpg", "jpeg", "gif", "bmp", "ico"};
  if (kKnown.contains(suffix)) {
    auto reader = std::make_unique<QImageReader>(path, suffix == "jpg" ? QByteArray("jpeg") : suffix.toLatin1());
    reader->setAutoDetectImageFormat(false);
    if (reader->canRead()) return reader;
  }
  return std::make_unique<QImageReader>(path);
}

// Reads a picture; at scale 2 only drawings (SVG), rendered twice as large.
QImage ReadImage(const QString& path, int scale) {
  const auto reader = OpenPicture(path);
  if (scale > 1) {
    if (reader->format() != "svg" || !reader->size().isValid()) return {};
    reader->setScaledSize(reader->size() * scale);
  }
  return reader->read();
}

}  // namespace

const QImage* CPaintManagerImpl::GetImage(const std::string& file, int scale, int* gotScale) {
  if (gotScale) *gotScale = 1;
  if (scale > 1) {
    const std::string key = file + "|@2x";
    auto it = images_.find(key);
    if (it == images_.end()) {
      const QString path = ToQ(pm_->ResolvePath(file));
      QImage img = ReadImage(HiResPath(path), 1);
      if (img.isNull()) img = ReadImage(path, 2);
      if (!img.isNull() && OpenPicture(path)->size() * 2 != img.size()) img = QImage();  // not a true 2x
      it = images_.emplace(key, img.isNull() ? nullptr
                                             : std::make_unique<QImage>(img.convertToFormat(QImage::Format_ARGB32_Premultiplied))).first;
    }
    if (it->second) {
      if (gotScale) *gotScale = 2;
      return it->second.get();
    }
  }
  auto it = images_.find(file);
  if (it != images_.end()) return it->second.get();
  QImage img = ReadImage(ToQ(pm_->ResolvePath(file)), 1);
  std::unique_ptr<QImage> p;
  if (!img.isNull()) p = std::make_unique<QImage>(img.convertToFormat(QImage::Format_ARGB32_Premultiplied));
  const QImage* raw = p.get();
  images_[file] = std::move(p);
  return raw;
}

void CPaintManagerImpl::WarmPictures() {
  CControlUI* root = pm_->GetRoot();
  CWindowWnd* window = pm_->GetWindow();
  if (!root || !window || !window->Host()) return;
  QImage scratch(1, 1, QImage::Format_ARGB32_Premultiplied);
  QPainter painter(&scratch);
  CRenderContext ctx(painter, pm_);
  ctx.warmOnly = true;
  ctx.warmRatio = window->Host()->devicePixelRatioF();
  root->FindControl(
      [](CControlUI* c, void* data) -> CControlUI* {
        auto& warm = *static_cast<CRenderContext*>(data);
        c->PaintBkImage(warm);
        c->PaintStatusImage(warm);
        return nullptr;
      },
      &ctx, UIFIND_VISIBLE);
}

const QPixmap* CPaintManagerImpl::GetDrawing(const std::string& file, QSize device, qreal dpr) {
  if (device.isEmpty()) return nullptr;
  const std::string key = file + "|" + std::to_string(device.width()) + "x" + std::to_string(device.height()) + "|" +
                          std::to_string(dpr);
  auto it = drawings_.find(key);
  if (it != drawings_.end()) return it->second ? &*it->second : nullptr;
  const auto reader = OpenPicture(ToQ(pm_->ResolvePath(file)));
  std::optional<QPixmap> pix;
  if (reader->format() == "svg" || reader->format() == "svgz") {
    reader->setScaledSize(device);
    QImage img = reader->read();
    if (!img.isNull()) {
      pix = QPixmap::fromImage(std::move(img));
      pix->setDevicePixelRatio(dpr);
    }
  }
  if (drawings_.size() > 512) drawings_.clear();  // bound the cache
  // A file that is not a readable drawing is remembered too, and drawn as
  // any other picture.
  it = drawings_.emplace(key, std::move(pix)).first;
  return it->second ? &*it->second : nullptr;
}

const QPixmap* CPaintManagerImpl::GetScaled(const std::string& file, int scale, const RECT& source, QSize device,
                                            qreal dpr) {
  std::string key = file + "|" + std::to_string(scale) + "|" + std::to_string(source.left) + "," +
                    std::to_string(source.top) + "," + std::to_string(source.right) + "," +
                    std::to_string(source.bottom) + "|" + std::to_string(device.width()) + "x" +
                    std::to_string(device.height()) + "|" + std::to_string(dpr);
  auto it = scaled_.find(key);
  if (it != scaled_.end()) return &it->second;
  const QImage* img = GetImage(file, scale);
  if (!img) return nullptr;
  QImage part = img->copy(ToQRect(source)).scaled(device, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
  if (scaled_.size() > 512) scaled_.clear();  // bound the cache
  QPixmap pix = QPixmap::fromImage(part);
  pix.setDevicePixelRatio(dpr);
  return &(scaled_[key] = pix);
}

bool CPaintManagerImpl::SetTimer(CControlUI* c, UINT id, UINT ms) {
  auto key = std::make_pair(c, id);
  auto& t = timers_[key];
  if (!t) {
    t = std::make_unique<QTimer>();
    CPaintManagerUI* pm = pm_;
    QObject::connect(t.get(), &QTimer::timeout, [pm, c, id]() {
      // A handler of an earlier tick may have killed it; the timer object is
      // then already stopped and no tick arrives.
      pm->SendNotify(c, DUI_MSGTYPE_TIMER, id, 0);
    });
  }
  t->start(static_cast<int>(std::max<UINT>(ms, 1)));
  return true;
}

bool CPaintManagerImpl::KillTimer(CControlUI* c, UINT id) {
  auto it = timers_.find({c, id});
  if (it == timers_.end()) return false;
  it->second->stop();
  // Deleting a QTimer from inside its own timeout is allowed only later.
  it->second.release()->deleteLater();
  timers_.erase(it);
  return true;
}

void CPaintManagerImpl::KillTimers(CControlUI* c) {
  for (auto it = timers_.begin(); it != timers_.end();) {
    if (it->first.first == c) {
      it->second->stop();
      it->second.release()->deleteLater();
      it = timers_.erase(it);
    } else {
      ++it;
    }
  }
}

void CPaintManagerImpl::KillAll() {
  for (auto& [k, t] : timers_) {
    t->stop();
    t.release()->deleteLater();
  }
  timers_.clear();
}

bool CPaintManagerImpl::HasTimer(CControlUI* c, UINT id) const { return timers_.count({c, id}) != 0; }

QFont CPaintManagerImpl::Font(int index) {
  if (fonts_.empty()) {
    // The first text waits for the font configuration; the pictures need
    // none, and are made ready meanwhile when it is still loading.
    if (FontSetupPending()) WarmPictures();
    AwaitFontSetup();
  }
  if (fontScale_ != pm_->GetDPIScale()) {
    fonts_.clear();
    fontScale_ = pm_->GetDPIScale();
  }
  auto it = fonts_.find(index);
  if (it != fonts_.end()) return it->second;
  auto fit = pm_->fonts_.find(index);
  const TFontInfo& info = fit == pm_->fonts_.end() ? pm_->defaultFont_ : fit->second;
  return fonts_[index] = MakeQFont(info, fontScale_);
}

// ---- native editors ----

CNativeEditHost::CNativeEditHost(CEditBaseUI* owner, bool multiLine) {
  EnsureApplication();
  AwaitFontSetup();  // the editors take the application's font
  if (multiLine) {
    rich_ = new QTextEdit();
    rich_->setAcceptRichText(false);
    rich_->setFrameShape(QFrame::NoFrame);
    QObject::connect(rich_, &QTextEdit::textChanged, [this, owner]() {
      if (!trimming_) owner->OnNativeTextChanged();
    });
    QObject::connect(rich_->document(), &QTextDocument::contentsChange,
                     [this](int position, int, int added) { TrimInsertion(position, added); });
    widget_ = rich_;
  } else {
    line_ = new QLineEdit();
    line_->setFrame(false);
    QObject::connect(line_, &QLineEdit::textChanged, [this, owner]() {
      if (!DropSplitSurrogates()) owner->OnNativeTextChanged();  // a correction reports itself
    });
    QObject::connect(line_, &QLineEdit::returnPressed, [owner]() { owner->OnNativeReturn(); });
    widget_ = line_;
  }
  widget_->setProperty("duiEditOwner", QVariant::fromValue(static_cast<void*>(owner)));
  widget_->hide();
}

CNativeEditHost::~CNativeEditHost() { delete widget_.data(); }

QString CNativeEditHost::Text() const {
  if (Rich()) return rich_->toPlainText();
  if (Line()) return line_->text();
  return {};
}

void CNativeEditHost::SetText(const QString& text) {
  if (Rich()) {
    // Keep the colour and font chosen for the box on the new text.
    QTextCharFormat fmt = rich_->currentCharFormat();
    rich_->setPlainText(text);
    QTextCursor cur(rich_->document());
    cur.select(QTextCursor::Document);
    cur.mergeCharFormat(fmt);
    rich_->setCurrentCharFormat(fmt);
  } else if (Line()) {
    line_->setText(text);
  }
}

void CNativeEditHost::SetTextColor(const QColor& c) {
  if (!widget_) return;
  QPalette pal = widget_->palette();
  pal.setColor(QPalette::Text, c);
  widget_->setPalette(pal);
  if (rich_) {
    QTextCharFormat fmt;
    fmt.setForeground(c);
    QTextCursor cur(rich_->document());
    cur.select(QTextCursor::Document);
    cur.mergeCharFormat(fmt);
    rich_->mergeCurrentCharFormat(fmt);
  }
}

void CNativeEditHost::SetFont(const QFont& f) {
  if (!widget_) return;
  widget_->setFont(f);
  if (rich_) {
    QTextCharFormat fmt;
    fmt.setFont(f, QTextCharFormat::FontPropertiesAll);
    QTextCursor cur(rich_->document());
    cur.select(QTextCursor::Document);
    cur.mergeCharFormat(fmt);
    rich_->mergeCurrentCharFormat(fmt);
    rich_->document()->setDefaultFont(f);
  }
}

bool CNativeEditHost::SetCover(const QRegion& cover) {
  if (cover == cover_) return false;
  cover_ = cover;
  return true;
}

void CNativeEditHost::Place(const QRect& rc, bool show) {
  if (!widget_) return;
  const QRegion visible = show ? QRegion(rc).subtracted(cover_) : QRegion();
  show = !visible.isEmpty();
  if (show) {
    widget_->setGeometry(rc);
    if (visible == QRegion(rc)) widget_->clearMask();
    else widget_->setMask(visible.translated(-rc.topLeft()));
  }
  if (widget_->isVisibleTo(widget_->parentWidget()) != show) widget_->setVisible(show);
}

void CNativeEditHost::SetMaxChar(int n) {
  maxChar_ = std::max(0, n);
  if (Line()) line_->setMaxLength(maxChar_ > 0 ? maxChar_ : 32767);
}

void CNativeEditHost::TrimInsertion(int position, int added) {
  if (trimming_ || maxChar_ <= 0 || added <= 0 || !Rich()) return;
  QTextDocument* doc = rich_->document();
  const int length = doc->characterCount() - 1;  // without the closing paragraph mark
  const int excess = length - maxChar_;
  if (excess <= 0) return;
  // Keep the start of what was inserted, drop its end. The change may count
  // the closing paragraph mark of an empty document, which is not text.
  const int end = std::min(position + added, length);
  int start = std::max(position, end - excess);
  if (start > position && doc->characterAt(start).isLowSurrogate()) --start;
  trimming_ = true;
  QTextCursor cut(doc);
  cut.setPosition(start);
  cut.setPosition(end, QTextCursor::KeepAnchor);
  cut.removeSelectedText();
  trimming_ = false;
}

bool CNativeEditHost::DropSplitSurrogates() {
  const QString text = line_->text();
  QString whole;
  whole.reserve(text.size());
  for (qsizetype i = 0; i < text.size(); ++i) {
    const QChar c = text.at(i);
    if (c.isHighSurrogate() && i + 1 < text.size() && text.at(i + 1).isLowSurrogate()) {
      whole += c;
      whole += text.at(++i);
    } else if (!c.isSurrogate()) {
      whole += c;
    }
  }
  if (whole.size() == text.size()) return false;
  const qsizetype cursor = std::min(static_cast<qsizetype>(line_->cursorPosition()), whole.size());
  line_->setText(whole);
  line_->setCursorPosition(static_cast<int>(cursor));
  return true;
}

void CNativeEditHost::SetReadOnly(bool ro) {
  if (Rich()) rich_->setReadOnly(ro);
  if (Line()) line_->setReadOnly(ro);
}

// ---- message event ----

QEvent::Type CMessageEvent::EventType() {
  static const QEvent::Type t = static_cast<QEvent::Type>(QEvent::registerEventType());
  return t;
}

QEvent::Type CFunctorEvent::EventType() {
  static const QEvent::Type t = static_cast<QEvent::Type>(QEvent::registerEventType());
  return t;
}

bool OnUiThread() {
  QCoreApplication* app = QCoreApplication::instance();
  return !app || QThread::currentThread() == app->thread();
}

// ---- registry ----

namespace {

std::mutex g_registryMutex;
std::map<std::uintptr_t, CWindowHost*> g_hosts;  // guarded by g_registryMutex
std::uintptr_t g_nextHandle = 0x1000;             // guarded by g_registryMutex

}  // namespace

HWND RegisterHost(CWindowHost* host) {
  std::lock_guard<std::mutex> lock(g_registryMutex);
  std::uintptr_t id = g_nextHandle;
  g_nextHandle += 4;
  g_hosts[id] = host;
  return reinterpret_cast<HWND>(id);
}

void UnregisterHost(HWND hwnd) {
  std::lock_guard<std::mutex> lock(g_registryMutex);
  g_hosts.erase(reinterpret_cast<std::uintptr_t>(hwnd));
}

CWindowHost* HostFromHandle(HWND hwnd) {
  std::lock_guard<std::mutex> lock(g_registryMutex);
  auto it = g_hosts.find(reinterpret_cast<std::uintptr_t>(hwnd));
  return it == g_hosts.end() ? nullptr : it->second;
}

bool PostMessage(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  std::lock_guard<std::mutex> lock(g_registryMutex);
  auto it = g_hosts.find(reinterpret_cast<std::uintptr_t>(hwnd));
  if (it == g_hosts.end()) return false;
  // The host is unregistered (under this lock) before it is deleted, so it is
  // alive here; postEvent itself is thread-safe.
  QCoreApplication::postEvent(it->second, new CMessageEvent(msg, wParam, lParam));
  return true;
}

bool PostToWindow(HWND hwnd, std::function<void()> fn) {
  std::lock_guard<std::mutex> lock(g_registryMutex);
  auto it = g_hosts.find(reinterpret_cast<std::uintptr_t>(hwnd));
  if (it == g_hosts.end()) return false;
  QCoreApplication::postEvent(it->second, new CFunctorEvent(std::move(fn)));
  return true;
}

bool IsWindow(HWND hwnd) { return HostFromHandle(hwnd) != nullptr; }

std::vector<CWindowWnd*> GetAllWindows() {
  std::vector<CWindowHost*> hosts;
  {
    std::lock_guard<std::mutex> lock(g_registryMutex);
    for (const auto& entry : g_hosts) hosts.push_back(entry.second);
  }
  std::vector<CWindowWnd*> windows;
  for (CWindowHost* host : hosts)
    if (host->Window()) windows.push_back(host->Window());
  return windows;
}

bool DropFilesOnWindow(HWND hwnd, const std::vector<std::string>& paths, POINT pt) {
  CWindowHost* host = HostFromHandle(hwnd);
  return host && host->DeliverDrop(paths, pt);
}

int KeyFromQt(int k) {
  if (k >= Qt::Key_A && k <= Qt::Key_Z) return 'A' + (k - Qt::Key_A);
  if (k >= Qt::Key_0 && k <= Qt::Key_9) return '0' + (k - Qt::Key_0);
  switch (k) {
    case Qt::Key_Backspace: return VK_BACK;
    case Qt::Key_Tab:
    case Qt::Key_Backtab: return VK_TAB;
    case Qt::Key_Return:
    case Qt::Key_Enter: return VK_RETURN;
    case Qt::Key_Shift: return VK_SHIFT;
    case Qt::Key_Control: return VK_CONTROL;
    case Qt::Key_Alt: return VK_MENU;
    case Qt::Key_Escape: return VK_ESCAPE;
    case Qt::Key_Space: return VK_SPACE;
    case Qt::Key_Left: return VK_LEFT;
    case Qt::Key_Up: return VK_UP;
    case Qt::Key_Right: return VK_RIGHT;
    case Qt::Key_Down: return VK_DOWN;
    case Qt::Key_Delete: return VK_DELETE;
    case Qt::Key_Home: return VK_HOME;
    case Qt::Key_End: return VK_END;
    default: return 0;
  }
}

// ---- window host ----

CWindowHost::CWindowHost(CWindowWnd* window, HWND hwnd, bool popup)
    : QWidget(nullptr, popup ? (Qt::Popup | Qt::FramelessWindowHint) : (Qt::Window | Qt::FramelessWindowHint)),
      window_(window),
      hwnd_(hwnd) {
  InstallAccessibility();
  setMouseTracking(true);
  setAttribute(Qt::WA_OpaquePaintEvent, false);
  setFocusPolicy(Qt::StrongFocus);
  InstallKeyStateTracker();
}

CWindowHost::~CWindowHost() = default;

LRESULT CWindowHost::Send(UINT msg, WPARAM w, LPARAM l) {
  if (!window_) return 0;
  return window_->SendMessage(msg, w, l);
}

bool CWindowHost::event(QEvent* e) {
  if (e->type() == CMessageEvent::EventType()) {
    auto* m = static_cast<CMessageEvent*>(e);
    Send(m->msg, m->wParam, m->lParam);
    return true;
  }
  if (e->type() == CFunctorEvent::EventType()) {
    if (window_) static_cast<CFunctorEvent*>(e)->fn();
    return true;
  }
  if (e->type() == QEvent::WindowActivate && window_) {
    Send(WM_SETFOCUS, 0, 0);
  } else if (e->type() == QEvent::WindowDeactivate && window_) {
    Send(WM_KILLFOCUS, 0, 0);
  }
  return QWidget::event(e);
}

bool CWindowHost::eventFilter(QObject* watched, QEvent* e) {
  if (e->type() == QEvent::KeyPress && window_) {
    // Keys typed into a hosted editor pass through the window's handler
    // first; a key the window consumes, or one the toolkit uses itself (Tab
    // moving the focus), is kept from the editor.
    return !DeliverKey(static_cast<QKeyEvent*>(e));
  }
  if (e->type() == QEvent::FocusIn || e->type() == QEvent::FocusOut) {
    auto* w = qobject_cast<QWidget*>(watched);
    auto* owner = w ? static_cast<CEditBaseUI*>(w->property("duiEditOwner").value<void*>()) : nullptr;
    Qt::FocusReason reason = static_cast<QFocusEvent*>(e)->reason();
    // Losing the focus to another window or a popup menu keeps the
    // control focused, as it will be again when the window comes back.
    if (owner && e->type() == QEvent::FocusIn) owner->OnNativeFocus(true);
    else if (owner && reason != Qt::ActiveWindowFocusReason && reason != Qt::PopupFocusReason) owner->OnNativeFocus(false);
  }
  return QWidget::eventFilter(watched, e);
}

bool CWindowHost::DeliverKey(QKeyEvent* ke) {
  keyReachedBase = false;
  keyConsumed = false;
  QPointer<CWindowHost> self(this);
  int vk = KeyFromQt(ke->key());
  Send(WM_KEYDOWN, static_cast<WPARAM>(vk ? vk : ke->key()), 0);
  if (!self) return false;
  return keyReachedBase && !keyConsumed;
}

bool CWindowHost::focusNextPrevChild(bool) {
  // Tab belongs to the toolkit's own focus order, not Qt's chain of editors.
  return false;
}

void CWindowHost::paintEvent(QPaintEvent* e) {
  if (!pm_) return;
  if (pm_->layoutScheduled_) pm_->UpdateLayout();
  QPainter painter(this);
  const SIZE round = pm_->GetRoundCorner();
  const qreal rx = pm_->ScaleValue(round.cx) / 2.0, ry = pm_->ScaleValue(round.cy) / 2.0;
  // A translucent window starts clear: give it the window colour inside its outline.
  if (smoothCorners_) painter.fillPath(RoundedOutline(QRectF(rect()), rx, ry), palette().window());
  CRenderContext ctx(painter, pm_);
  RECT paint = FromQRect(e->rect());
  if (CControlUI* root = pm_->GetRoot()) root->DoPaint(ctx, paint);
  if (pm_->IsFocusRingShown()) PaintFocusRing(painter);
  if (smoothCorners_) CutRoundCorners(painter, QRectF(rect()), rx, ry);
  if (!painted_) {
    painted_ = true;
    // Posted, so the work runs once this frame has reached the screen.
    for (auto& fn : afterFirstPaint_) QCoreApplication::postEvent(this, new CFunctorEvent(std::move(fn)));
    afterFirstPaint_.clear();
  }
}

void CWindowHost::AfterFirstPaint(std::function<void()> fn) {
  if (painted_) QCoreApplication::postEvent(this, new CFunctorEvent(std::move(fn)));
  else afterFirstPaint_.push_back(std::move(fn));
}

void CWindowHost::PaintFocusRing(QPainter& painter) {
  CControlUI* focus = pm_->GetFocus();
  if (!focus || !focus->IsVisible()) return;
  // Inside the control's own rectangle, so repainting the control renews it.
  const int width = std::max(1, pm_->ScaleValue(2));
  QRectF ring = QRectF(ToQRect(focus->GetPos())).adjusted(width / 2.0, width / 2.0, -width / 2.0, -width / 2.0);
  painter.save();
  painter.setRenderHint(QPainter::Antialiasing);
  QPen pen(ToQColor(pm_->GetFocusRingColor()));
  pen.setWidth(width);
  painter.setPen(pen);
  painter.setBrush(Qt::NoBrush);
  painter.drawRoundedRect(ring, width, width);
  painter.restore();
}

void CWindowHost::mouseMoveEvent(QMouseEvent* e) {
  if (frameDrag_.Active()) {
    frameDrag_.Follow(e->globalPosition());
    return;
  }
  QPoint p = e->position().toPoint();
  ShowFrameCursor(p);
  Send(WM_MOUSEMOVE, 0, MAKELPARAM(p.x(), p.y()));
}

bool CWindowHost::InCaption(QPoint pt) const {
  if (!pm_) return false;
  RECT cap = pm_->ScaleRect(pm_->GetCaptionRect());
  RECT client{0, 0, width(), height()};
  // caption="l,t,r,b": a band inside the client area; r and b count from the right and bottom edges.
  RECT band{client.left + cap.left, client.top + cap.top, client.right - cap.right,
            cap.bottom > 0 ? client.top + cap.bottom : client.top};
  if (!band.Contains(pt.x(), pt.y())) return false;
  CControlUI* c = pm_->FindControl(POINT{pt.x(), pt.y()});
  // Clicks on active controls in the title bar are theirs, not a drag.
  if (c && (c->GetInterface("Button") || c->GetInterface("Edit") || c->GetInterface("RichEdit") ||
            c->GetInterface("Combo") || c->GetInterface("List")))
    return false;
  return true;
}

void CWindowHost::mousePressEvent(QMouseEvent* e) {
  QPoint p = e->position().toPoint();
  if (e->button() == Qt::LeftButton) {
    // The sizebox borders and the title bar belong to the window, not to its
    // controls: the press starts a resize or a move and the controls never
    // see it (no half-finished click).
    if (Qt::Edges edges = SizeBoxEdgesAt(p)) {
      frameDrag_.Begin(edges, e->globalPosition());
      return;
    }
    if (InCaption(p)) {
      frameDrag_.Begin({}, e->globalPosition());
      return;
    }
    Send(WM_LBUTTONDOWN, 0, MAKELPARAM(p.x(), p.y()));
  } else if (e->button() == Qt::RightButton) {
    Send(WM_RBUTTONDOWN, 0, MAKELPARAM(p.x(), p.y()));
  }
}

void CWindowHost::mouseReleaseEvent(QMouseEvent* e) {
  if (frameDrag_.Active() && e->button() == Qt::LeftButton) {
    frameDrag_.End();
    return;
  }
  QPoint p = e->position().toPoint();
  if (e->button() == Qt::LeftButton) Send(WM_LBUTTONUP, 0, MAKELPARAM(p.x(), p.y()));
  else if (e->button() == Qt::RightButton) Send(WM_RBUTTONUP, 0, MAKELPARAM(p.x(), p.y()));
}

void CWindowHost::mouseDoubleClickEvent(QMouseEvent* e) {
  QPoint p = e->position().toPoint();
  if (e->button() == Qt::LeftButton && InCaption(p)) {
    frameDrag_.End();
    if (CanMaximize()) Send(WM_SYSCOMMAND, isMaximized() ? SC_RESTORE : SC_MAXIMIZE, 0);
    return;
  }
  if (e->button() == Qt::LeftButton) Send(WM_LBUTTONDBLCLK, 0, MAKELPARAM(p.x(), p.y()));
}

void CWindowHost::wheelEvent(QWheelEvent* e) {
  QPoint p = e->position().toPoint();
  int delta = e->angleDelta().y();
  if (delta == 0) delta = e->angleDelta().x();
  Send(WM_MOUSEWHEEL, delta > 0 ? 1 : 0, MAKELPARAM(p.x(), p.y()));
}

void CWindowHost::changeEvent(QEvent* e) {
  if (e->type() == QEvent::WindowStateChange) SyncMaxRestoreButtons();
  QWidget::changeEvent(e);
}

void CWindowHost::leaveEvent(QEvent*) { Send(WM_MOUSELEAVE, 0, 0); }

void CWindowHost::keyPressEvent(QKeyEvent* e) {
  // While an editor has the focus, a key reaching the window is one the
  // editor ignored: it was delivered once already, on its way in.
  QWidget* focus = focusWidget();
  if (focus && focus != this && focus->property("duiEditOwner").isValid()) return;
  DeliverKey(e);
}

void CWindowHost::resizeEvent(QResizeEvent*) {
  ApplyRoundCorner();
  Send(WM_SIZE, 0, MAKELPARAM(width(), height()));
}

void CWindowHost::ApplyRoundCorner() {
  if (!pm_) return;
  SIZE rc = pm_->GetRoundCorner();
  if (rc.cx <= 0 && rc.cy <= 0) {
    clearMask();
    return;
  }
  if (!smoothCorners_ && !testAttribute(Qt::WA_WState_Created) && CompositorRunning()) {
    setAttribute(Qt::WA_TranslucentBackground);
    smoothCorners_ = true;
  }
  if (smoothCorners_) return;  // cut while painting
  setMask(QRegion(RoundedOutline(QRectF(rect()), pm_->ScaleValue(rc.cx) / 2.0, pm_->ScaleValue(rc.cy) / 2.0)
                      .toFillPolygon()
                      .toPolygon()));
}

void CWindowHost::closeEvent(QCloseEvent* e) {
  // Closing from outside (window manager, popup dismissal) goes through the
  // window's own close handling like any other close.
  e->ignore();
  if (window_) window_->PostMessage(WM_CLOSE, 0, 0);
}

void CWindowHost::dragEnterEvent(QDragEnterEvent* e) {
  if (e->mimeData()->hasUrls()) e->acceptProposedAction();
}
void CWindowHost::dragMoveEvent(QDragMoveEvent* e) {
  if (e->mimeData()->hasUrls()) e->acceptProposedAction();
}

void CWindowHost::dropEvent(QDropEvent* e) {
  std::vector<std::string> paths;
  for (const QUrl& u : e->mimeData()->urls())
    if (u.isLocalFile()) paths.push_back(FromQ(u.toLocalFile()));
  QPoint p = e->position().toPoint();
  if (DeliverDrop(paths, {p.x(), p.y()})) e->acceptProposedAction();
}

bool CWindowHost::DeliverDrop(const std::vector<std::string>& paths, POINT pt) {
  if (!acceptDrops() || paths.empty() || !window_) return false;
  DropFiles drop;
  drop.paths = paths;
  drop.point = pt;
  Send(WM_DROPFILES, reinterpret_cast<WPARAM>(&drop), 0);
  return true;
}

void CWindowHost::focusInEvent(QFocusEvent* e) { QWidget::focusInEvent(e); }
void CWindowHost::focusOutEvent(QFocusEvent* e) { QWidget::focusOutEvent(e); }

UINT DragQueryFileCount(HDROP drop) { return drop ? static_cast<UINT>(drop->paths.size()) : 0; }
std::string DragQueryFile(HDROP drop, UINT index) {
  if (!drop || index >= drop->paths.size()) return {};
  return drop->paths[index];
}

}  // namespace DirectUI
