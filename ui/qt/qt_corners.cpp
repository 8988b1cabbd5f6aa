// Rounded window corners. With a compositor the window is translucent and
// its corners are cut with anti-aliasing; without one the only way to shape
// a window is a one-bit mask, which stays.
#include <QGuiApplication>
#include <QPainterPath>
#include <atomic>
#include <cstdlib>
#include <string>

#include "ui/qt/qt_host.h"

#ifdef QUILLORA_HAVE_XCB
#include <QtGui/qguiapplication_platform.h>
#include <xcb/xcb.h>
#endif

namespace DirectUI {

namespace {

std::atomic<int> g_compositorOverride{-1};

#ifdef QUILLORA_HAVE_XCB
// An X compositor owns the selection "_NET_WM_CM_S<screen>".
bool X11CompositorRunning() {
  auto* x11 = qGuiApp ? qGuiApp->nativeInterface<QNativeInterface::QX11Application>() : nullptr;
  xcb_connection_t* c = x11 ? x11->connection() : nullptr;
  if (!c) return false;
  int screen = 0;
  if (const char* display = std::getenv("DISPLAY")) {
    const std::string d = display;
    const size_t dot = d.rfind('.');
    if (dot != std::string::npos && dot > d.rfind(':')) screen = std::atoi(d.c_str() + dot + 1);
  }
  const std::string name = "_NET_WM_CM_S" + std::to_string(screen);
  xcb_intern_atom_reply_t* atom =
      xcb_intern_atom_reply(c, xcb_intern_atom(c, 1, static_cast<uint16_t>(name.size()), name.c_str()), nullptr);
  if (!atom) return false;
  const xcb_atom_t a = atom->atom;
  std::free(atom);
  if (a == XCB_ATOM_NONE) return false;  // nobody ever claimed it
  xcb_get_selection_owner_reply_t* owner = xcb_get_selection_owner_reply(c, xcb_get_selection_owner(c, a), nullptr);
  if (!owner) return false;
  const bool running = owner->owner != XCB_NONE;
  std::free(owner);
  return running;
}
#endif

}  // namespace

void SetCompositorOverride(int state) { g_compositorOverride.store(state); }

bool CompositorRunning() {
  const int forced = g_compositorOverride.load();
  if (forced >= 0) return forced != 0;
  const QString platform = QGuiApplication::platformName();
  if (platform.startsWith(QStringLiteral("wayland"))) return true;  // always composited
#ifdef QUILLORA_HAVE_XCB
  if (platform == QStringLiteral("xcb")) return X11CompositorRunning();
#endif
  return false;
}

QPainterPath RoundedOutline(const QRectF& rect, qreal rx, qreal ry) {
  QPainterPath path;
  path.addRoundedRect(rect, rx, ry);
  return path;
}

void CutRoundCorners(QPainter& p, const QRectF& rect, qreal rx, qreal ry) {
  QPainterPath outside;
  outside.addRect(rect);
  outside = outside.subtracted(RoundedOutline(rect, rx, ry));
  p.save();
  p.setRenderHint(QPainter::Antialiasing);
  // Removes what lies outside the outline, partly where the edge crosses a pixel.
  p.setCompositionMode(QPainter::CompositionMode_DestinationOut);
  p.fillPath(outside, Qt::black);
  p.restore();
}

}  // namespace DirectUI
