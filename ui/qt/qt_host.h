#pragma once
// Qt side of the toolkit. Included only by the toolkit's own sources (and its
// tests); nothing outside ui/ sees these types.
#include <QEvent>
#include <QFont>
#include <QIcon>
#include <QImage>
#include <QPainter>
#include <QPainterPath>
#include <QPixmap>
#include <QPointer>
#include <QRegion>
#include <QTimer>
#include <QWidget>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <utility>
#include <vector>

#include "ui/ui_manager.h"
#include "ui/ui_window.h"

class QEventLoop;
class QTextEdit;
class QLineEdit;
class QPainterPath;

class QAccessibleEvent;

namespace DirectUI {

class CEditBaseUI;

QColor ToQColor(DWORD argb);
QRect ToQRect(const RECT& rc);
RECT FromQRect(const QRect& rc);
QString ToQ(const std::string& s);
std::string FromQ(const QString& s);
// An icon from a file named relative to the skin's resource path (or absolute);
// the application's icon when `file` is empty.
QIcon IconFromFile(const std::string& file);
QFont MakeQFont(const TFontInfo& info, int dpiScale);
int QtFlagsFromStyle(UINT style);

class CRenderContext {
 public:
  CRenderContext(QPainter& painter, CPaintManagerUI* manager) : p(painter), pm(manager) {}
  QPainter& p;
  CPaintManagerUI* pm;
  // Only decodes and renders pictures into the manager's caches, at the
  // device pixel ratio given, and draws nothing: the window's pictures are
  // made ready while it waits for something else.
  bool warmOnly = false;
  qreal warmRatio = 1.0;
  void FillRect(const RECT& rc, DWORD color);
  void DrawBorder(const RECT& rc, DWORD color, int size, SIZE round);
  // Draws text (plain or rich) with a font slot of the manager.
  void DrawText(const RECT& rc, const std::string& text, DWORD color, int font, UINT style, bool html);
  bool DrawImage(const RECT& rcControl, const TImageInfo& info);
};

// Window message carried by Qt's event queue (posted from any thread).
class CMessageEvent : public QEvent {
 public:
  static QEvent::Type EventType();
  CMessageEvent(UINT m, WPARAM w, LPARAM l) : QEvent(EventType()), msg(m), wParam(w), lParam(l) {}
  UINT msg;
  WPARAM wParam;
  LPARAM lParam;
};

// A piece of work for a window's thread, posted like a message.
class CFunctorEvent : public QEvent {
 public:
  static QEvent::Type EventType();
  explicit CFunctorEvent(std::function<void()> f) : QEvent(EventType()), fn(std::move(f)) {}
  std::function<void()> fn;
};
// Runs fn on the UI thread while the window exists (dropped otherwise).
bool PostToWindow(HWND hwnd, std::function<void()> fn);
bool OnUiThread();

struct ModalState;

// A move or resize of a frameless window that follows the mouse, for
// platforms where the window system does not take it over (qt_frame.cpp).
class CFrameDrag {
 public:
  explicit CFrameDrag(QWidget* window) : window_(window) {}
  bool Active() const { return active_; }
  // No edges: a move. Hands the drag to the window system where it can.
  void Begin(Qt::Edges edges, QPointF global);
  void Follow(QPointF global);
  void End() { active_ = false; }

 private:
  QWidget* window_;
  bool active_ = false;
  Qt::Edges edges_;
  QPoint pressed_;
  QRect start_;
};

class CWindowHost : public QWidget {
 public:
  CWindowHost(CWindowWnd* window, HWND hwnd, bool popup);
  ~CWindowHost() override;
  CWindowWnd* Window() const { return window_; }
  void Detach() { window_ = nullptr; pm_ = nullptr; }
  void SetManager(CPaintManagerUI* pm) { pm_ = pm; }
  CPaintManagerUI* Manager() const { return pm_; }
  HWND Handle() const { return hwnd_; }
  void SetHandle(HWND h) { hwnd_ = h; }
  ModalState* modal = nullptr;
  bool keyReachedBase = false;  // the window base saw the key being delivered
  bool keyConsumed = false;     // the toolkit used it (focus moves, popup closes)
  // Shapes the window for the skin's rounded corners: anti-aliased on a
  // translucent window where a compositor runs (decided before the native
  // window exists), a mask otherwise.
  void ApplyRoundCorner();
  bool HasSmoothCorners() const { return smoothCorners_; }
  // Hands dropped files to the window (WM_DROPFILES); false when the window
  // refuses drops or nothing was dropped.
  bool DeliverDrop(const std::vector<std::string>& paths, POINT pt);
  // Queues fn for after the first painted frame (CWindowWnd::AfterFirstPaint).
  void AfterFirstPaint(std::function<void()> fn);

 protected:
  bool event(QEvent* e) override;
  bool eventFilter(QObject* watched, QEvent* e) override;
  void paintEvent(QPaintEvent* e) override;
  void mouseMoveEvent(QMouseEvent* e) override;
  void mousePressEvent(QMouseEvent* e) override;
  void mouseReleaseEvent(QMouseEvent* e) override;
  void mouseDoubleClickEvent(QMouseEvent* e) override;
  void wheelEvent(QWheelEvent* e) override;
  void changeEvent(QEvent* e) override;
  void leaveEvent(QEvent* e) override;
  void keyPressEvent(QKeyEvent* e) override;
  bool focusNextPrevChild(bool next) override;
  void resizeEvent(QResizeEvent* e) override;
  void closeEvent(QCloseEvent* e) override;
  void dragEnterEvent(QDragEnterEvent* e) override;
  void dragMoveEvent(QDragMoveEvent* e) override;
  void dropEvent(QDropEvent* e) override;
  void focusInEvent(QFocusEvent* e) override;
  void focusOutEvent(QFocusEvent* e) override;

 private:
  LRESULT Send(UINT msg, WPARAM w, LPARAM l);
  // Hands a key to the window as WM_KEYDOWN; true when nobody used it.
  bool DeliverKey(QKeyEvent* ke);
  bool InCaption(QPoint pt) const;
  // The skin's sizebox borders under p (none while maximised or fixed-size).
  Qt::Edges SizeBoxEdgesAt(QPoint p) const;
  void ShowFrameCursor(QPoint p);
  bool CanMaximize() const;
  void SyncMaxRestoreButtons();
  CFrameDrag frameDrag_{this};
  void PaintFocusRing(QPainter& painter);
  CWindowWnd* window_;
  CPaintManagerUI* pm_ = nullptr;
  HWND hwnd_;
  bool smoothCorners_ = false;
  bool painted_ = false;
  std::vector<std::function<void()>> afterFirstPaint_;
};

// Window registry: handle → host. Lookups and posts are safe from any thread.
CWindowHost* HostFromHandle(HWND hwnd);  // UI thread only
HWND RegisterHost(CWindowHost* host);
void UnregisterHost(HWND hwnd);
int KeyFromQt(int qtKey);
// Screen-reader bridge: answers Qt's accessibility queries for windows with
// their control trees (installed once); a control going away drops its entry.
void InstallAccessibility();
// Whether a compositor blends windows (translucent windows possible);
// SetCompositorOverride(0 / 1) fixes the answer for tests, -1 asks the desktop.
bool CompositorRunning();
void SetCompositorOverride(int state);
QPainterPath RoundedOutline(const QRectF& rect, qreal rx, qreal ry);
// Clears what lies outside the rounded outline, anti-aliased.
void CutRoundCorners(QPainter& p, const QRectF& rect, qreal rx, qreal ry);
void AccessibleControlGone(CControlUI* control);
// Tells a listening screen reader that a control changed. Costs nothing while
// no reader listens.
enum class AccessibleChange { Focus, Checked, Selected, Name, Value };
void AccessibleControlChanged(CControlUI* control, AccessibleChange change);
// Tests: receive the change events in place of the platform's bridge (and
// count as a listening reader); an empty function ends it.
void SetAccessibleEventSinkForTest(std::function<void(QAccessibleEvent*)> sink);
void ResetQuitForTest();

// Keyboard state (qt_input.cpp): recorded from every key event of the
// application; all keys count as released when a window loses activation.
void InstallKeyStateTracker();
void ReleaseAllKeys();
// One focus: the native editor of a toolkit control, and moving Qt's
// keyboard focus to match the toolkit's focused control.
QWidget* NativeWidgetOf(CControlUI* control);
void MoveQtFocusTo(CWindowHost* host, CControlUI* focus);
// Masks every native editor of the window where a floating control (or a
// stacked overlay) painted after it lies above it (qt_overlap.cpp).
void CoverNativeEditors(CPaintManagerUI* pm);

// Per-manager Qt state: decoded pictures and running timers.
class CPaintManagerImpl {
 public:
  explicit CPaintManagerImpl(CPaintManagerUI* pm) : pm_(pm) {}
  ~CPaintManagerImpl();
  // The picture's pixels. scale 2 asks for the "@2x" file (or an SVG drawn
  // twice as large) and falls back to the plain one; *gotScale says which
  // came back (image pixels per picture unit).
  const QImage* GetImage(const std::string& file, int scale = 1, int* gotScale = nullptr);
  void ClearImages() { images_.clear(); scaled_.clear(); drawings_.clear(); }
  // A picture prepared for drawing at a given size (cached).
  // The part `source` (image pixels) of the picture at `scale`, scaled to
  // `device` pixels and marked with the surface's device pixel ratio.
  const QPixmap* GetScaled(const std::string& file, int scale, const RECT& source, QSize device, qreal dpr);
  // A whole drawing (SVG) rendered at `device` pixels; null when the file is
  // not a readable drawing.
  const QPixmap* GetDrawing(const std::string& file, QSize device, qreal dpr);
  // Reads the pictures the visible controls would draw now into the caches.
  void WarmPictures();
  bool SetTimer(CControlUI* c, UINT id, UINT ms);
  bool KillTimer(CControlUI* c, UINT id);
  void KillTimers(CControlUI* c);
  void KillAll();
  bool HasTimer(CControlUI* c, UINT id) const;
  QFont Font(int index);

 private:
  CPaintManagerUI* pm_;
  std::map<std::string, std::unique_ptr<QImage>> images_;  // null entry: unreadable
  std::map<std::string, QPixmap> scaled_;
  std::map<std::string, std::optional<QPixmap>> drawings_;  // empty entry: not a drawing
  std::map<std::pair<CControlUI*, UINT>, std::unique_ptr<QTimer>> timers_;
  std::map<int, QFont> fonts_;
  int fontScale_ = 0;
};

// The native editor behind CEditUI / CRichEditUI.
class CNativeEditHost {
 public:
  CNativeEditHost(CEditBaseUI* owner, bool multiLine);
  ~CNativeEditHost();
  CNativeEditHost(const CNativeEditHost&) = delete;
  CNativeEditHost& operator=(const CNativeEditHost&) = delete;
  QWidget* Widget() const { return widget_; }
  // Null once the window that held the editor has gone.
  QTextEdit* Rich() const { return widget_ ? rich_ : nullptr; }
  QLineEdit* Line() const { return widget_ ? line_ : nullptr; }
  QString Text() const;
  void SetText(const QString& text);
  void SetTextColor(const QColor& c);
  void SetFont(const QFont& f);
  void SetReadOnly(bool ro);
  // Most UTF-16 units the editor holds (0: no limit). Typing, pasting and
  // input methods are cut to it; a pair of surrogates is never split.
  void SetMaxChar(int n);
  // The parts of the window (window coordinates) that floating controls
  // drawn above this editor cover. The editor is masked there, so the
  // float's pixels show and clicks reach it; fully covered, it is hidden.
  // True when the cover changed.
  bool SetCover(const QRegion& cover);
  // Puts the editor at rc (window coordinates), shown or hidden, minus the cover.
  void Place(const QRect& rc, bool show);

 private:
  QRegion cover_;
  void TrimInsertion(int position, int added);
  // The single-line editor cuts an insertion at its maximum length in UTF-16
  // units, which can keep the first half of a pair: a half is no character,
  // so it goes. True when the text was corrected.
  bool DropSplitSurrogates();
  int maxChar_ = 0;
  bool trimming_ = false;  // our own cut is not a change of its own
  QPointer<QWidget> widget_;
  QTextEdit* rich_ = nullptr;
  QLineEdit* line_ = nullptr;
};

}  // namespace DirectUI
