// Keyboard state and keyboard focus on the Qt side.
//
// Key state is recorded from every key event the application sees, before
// any widget handles it, so a key pressed in one of our windows and released
// in another (or in a hosted editor) is released all the same. When the
// application or one of its windows loses activation the keys are taken as
// released: a release that happens while another program has the focus never
// reaches us, and a key that stayed "down" would make every later shortcut
// rule misfire.
#include <QApplication>
#include <QKeyEvent>
#include <QWidget>
#include <mutex>
#include <set>

#include "ui/qt/qt_host.h"
#include "ui/ui_controls.h"

namespace DirectUI {

namespace {

std::mutex g_keyMutex;
std::set<int> g_keysDown;  // guarded by g_keyMutex

void SetKeyLocked(int vk, bool down) {
  if (down) g_keysDown.insert(vk);
  else g_keysDown.erase(vk);
}

void TrackKeyEvent(const QKeyEvent* e, bool press) {
  // An auto-repeated release is followed by another press: the key stays down.
  if (!press && e->isAutoRepeat()) return;
  std::lock_guard<std::mutex> lock(g_keyMutex);
  // Every key event carries the modifier state, so a modifier released while
  // another window had the focus is corrected by the next key we see.
  const Qt::KeyboardModifiers mods = e->modifiers();
  SetKeyLocked(VK_CONTROL, mods & Qt::ControlModifier);
  SetKeyLocked(VK_SHIFT, mods & Qt::ShiftModifier);
  SetKeyLocked(VK_MENU, mods & Qt::AltModifier);
  if (int vk = KeyFromQt(e->key())) SetKeyLocked(vk, press);
}

class KeyStateTracker : public QObject {
 public:
  using QObject::QObject;

 protected:
  bool eventFilter(QObject* watched, QEvent* e) override {
    switch (e->type()) {
      case QEvent::KeyPress:
      case QEvent::KeyRelease:
        TrackKeyEvent(static_cast<QKeyEvent*>(e), e->type() == QEvent::KeyPress);
        break;
      case QEvent::WindowDeactivate:
        if (auto* w = qobject_cast<QWidget*>(watched); w && w->isWindow()) ReleaseAllKeys();
        break;
      case QEvent::ApplicationDeactivate:
        ReleaseAllKeys();
        break;
      default:
        break;
    }
    return false;
  }
};

}  // namespace

void InstallKeyStateTracker() {
  auto* app = QCoreApplication::instance();
  if (!app || app->property("duiKeyTracker").toBool()) return;
  app->setProperty("duiKeyTracker", true);
  app->installEventFilter(new KeyStateTracker(app));
}

void ReleaseAllKeys() {
  std::lock_guard<std::mutex> lock(g_keyMutex);
  g_keysDown.clear();
}

bool IsKeyDown(int vk) {
  std::lock_guard<std::mutex> lock(g_keyMutex);
  return g_keysDown.count(vk) != 0;
}

short GetKeyState(int vk) { return IsKeyDown(vk) ? static_cast<short>(0x8000) : 0; }

// ---- one focus ----

QWidget* NativeWidgetOf(CControlUI* control) {
  if (!control) return nullptr;
  auto* edit = dynamic_cast<CEditBaseUI*>(control);
  CNativeEditHost* native = edit ? edit->NativeHost() : nullptr;
  return native ? native->Widget() : nullptr;
}

void MoveQtFocusTo(CWindowHost* host, CControlUI* focus) {
  if (!host) return;
  QWidget* target = NativeWidgetOf(focus);
  if (target && target->isVisibleTo(host)) {
    if (host->focusWidget() != target) target->setFocus(Qt::OtherFocusReason);
    return;
  }
  // A toolkit control (or nothing) has the focus: keys must reach the window,
  // not an editor that still holds Qt's focus.
  QWidget* current = host->focusWidget();
  if (current && current != host) host->setFocus(Qt::OtherFocusReason);
}

}  // namespace DirectUI
