// Input as a person makes it, for test drivers and scripted runs: events are
// sent the way the platform delivers them, so the application's key state,
// the window's key handling and the editors all see what they would see.
#include <QApplication>
#include <QClipboard>
#include <QInputMethodEvent>
#include <QKeyEvent>
#include <QMenu>
#include <QMouseEvent>

#include "ui/qt/qt_host.h"
#include "ui/ui_driving.h"

namespace DirectUI {

namespace {

int QtKeyFromVirtual(int vk) {
  // Letters and digits share their codes with Qt's keys.
  if ((vk >= 'A' && vk <= 'Z') || (vk >= '0' && vk <= '9')) return vk;
  static const int kKeys[] = {Qt::Key_Backspace, Qt::Key_Tab,   Qt::Key_Return, Qt::Key_Escape,
                              Qt::Key_Space,     Qt::Key_Left,  Qt::Key_Up,     Qt::Key_Right,
                              Qt::Key_Down,      Qt::Key_Delete, Qt::Key_Home,  Qt::Key_End};
  for (int key : kKeys)
    if (KeyFromQt(key) == vk) return key;
  return 0;
}

// Where the window's keys go: its focused editor, or the window itself.
QWidget* KeyTarget(HWND hwnd) {
  CWindowHost* host = HostFromHandle(hwnd);
  if (!host) return nullptr;
  QWidget* focus = host->focusWidget();
  return focus ? focus : host;
}

// Sends one key event while the target lives (a key may close its window).
void SendKeyEvent(const QPointer<QWidget>& target, QEvent::Type type, int key, Qt::KeyboardModifiers mods,
                  const QString& text = {}) {
  if (!target) return;
  QKeyEvent event(type, key, mods, text);
  QApplication::sendEvent(target, &event);
}

void PressAndRelease(const QPointer<QWidget>& target, int key, Qt::KeyboardModifiers mods, const QString& text) {
  SendKeyEvent(target, QEvent::KeyPress, key, mods, text);
  SendKeyEvent(target, QEvent::KeyRelease, key, mods, text);
}

// What a key types: letters, digits and the space bar without Ctrl, Return.
QString KeyText(int key, bool ctrl, bool shift) {
  if (key == Qt::Key_Return) return QStringLiteral("\r");
  if (ctrl) return {};
  if (key >= Qt::Key_A && key <= Qt::Key_Z) return QChar(shift ? key : key - 'A' + 'a');
  if ((key >= Qt::Key_0 && key <= Qt::Key_9) || key == Qt::Key_Space) return QChar(key);
  return {};
}

QMenu* OpenPopupMenu() { return qobject_cast<QMenu*>(QApplication::activePopupWidget()); }

}  // namespace

bool SendKeyChord(HWND hwnd, int virtualKey, bool ctrl, bool shift) {
  const QPointer<QWidget> target = KeyTarget(hwnd);
  const int key = QtKeyFromVirtual(virtualKey);
  if (!target || !key) return false;
  Qt::KeyboardModifiers mods = Qt::NoModifier;
  if (ctrl) mods |= Qt::ControlModifier;
  if (shift) mods |= Qt::ShiftModifier;
  // The modifiers go down first and come up last, as fingers do.
  if (ctrl) SendKeyEvent(target, QEvent::KeyPress, Qt::Key_Control, Qt::ControlModifier);
  if (shift) SendKeyEvent(target, QEvent::KeyPress, Qt::Key_Shift, mods);
  PressAndRelease(target, key, mods, KeyText(key, ctrl, shift));
  if (shift) SendKeyEvent(target, QEvent::KeyRelease, Qt::Key_Shift, mods & ~Qt::ShiftModifier);
  if (ctrl) SendKeyEvent(target, QEvent::KeyRelease, Qt::Key_Control, Qt::NoModifier);
  return true;
}

bool TypeText(HWND hwnd, const std::string& utf8) {
  const QPointer<QWidget> target = KeyTarget(hwnd);
  if (!target) return false;
  const QString text = ToQ(utf8);
  for (qsizetype i = 0; i < text.size() && target; ++i) {
    const QChar c = text.at(i);
    if (c.unicode() >= 0x20 && c.unicode() < 0x7F) {
      const QChar upper = c.toUpper();
      const bool letterOrDigit = (upper >= 'A' && upper <= 'Z') || c.isDigit();
      PressAndRelease(target, letterOrDigit ? int{upper.unicode()} : int{Qt::Key_unknown},
                      c.isUpper() ? Qt::ShiftModifier : Qt::NoModifier, QString(c));
      continue;
    }
    // A surrogate pair is one character to the input method.
    const qsizetype length = c.isHighSurrogate() && i + 1 < text.size() ? 2 : 1;
    QInputMethodEvent commit;
    commit.setCommitString(text.mid(i, length));
    QApplication::sendEvent(target, &commit);
    i += length - 1;
  }
  return static_cast<bool>(target);
}

std::string GetClipboardText() { return FromQ(QGuiApplication::clipboard()->text()); }

void SetClipboardText(const std::string& utf8) { QGuiApplication::clipboard()->setText(ToQ(utf8)); }

HWND GetForegroundWindow() {
  auto* host = dynamic_cast<CWindowHost*>(QApplication::activeWindow());
  return host ? host->Handle() : nullptr;
}

std::vector<std::string> OpenPopupMenuItems() {
  std::vector<std::string> items;
  if (QMenu* menu = OpenPopupMenu())
    for (QAction* action : menu->actions())
      if (!action->isSeparator()) items.push_back(FromQ(action->text()));
  return items;
}

bool ClickOpenPopupMenuItem(const std::string& text) {
  QMenu* menu = OpenPopupMenu();
  if (!menu) return false;
  for (QAction* action : menu->actions()) {
    if (action->isSeparator() || FromQ(action->text()) != text) continue;
    const QPointF at = menu->actionGeometry(action).center();
    const QPointF global = menu->mapToGlobal(at);
    QPointer<QMenu> alive(menu);
    QMouseEvent press(QEvent::MouseButtonPress, at, global, Qt::LeftButton, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(menu, &press);
    if (!alive) return true;
    QMouseEvent release(QEvent::MouseButtonRelease, at, global, Qt::LeftButton, Qt::NoButton, Qt::NoModifier);
    QApplication::sendEvent(menu, &release);
    return true;
  }
  return false;
}

bool SaveOpenPopupMenuScreenshot(const std::string& pngPath) {
  QMenu* menu = OpenPopupMenu();
  if (!menu) return false;
  const QPixmap picture = menu->grab();
  return !picture.isNull() && picture.save(ToQ(pngPath), "PNG");
}

}  // namespace DirectUI
