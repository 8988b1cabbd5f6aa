// Moving, resizing and maximising a frameless window through its skin: the
// caption band moves it, the sizebox borders resize it, a double-click on
// the caption maximises or restores it.
#include <QGuiApplication>
#include <QWindow>
#include <algorithm>

#include "ui/qt/qt_host.h"

namespace DirectUI {

namespace {

bool SystemDragAvailable() { return !QGuiApplication::platformName().contains("offscreen"); }

}  // namespace

void CFrameDrag::Begin(Qt::Edges edges, QPointF global) {
  // The window system moves and resizes with its own feedback where it can;
  // otherwise (no support, or a platform without one) we follow the mouse.
  if (QWindow* handle = window_->windowHandle(); handle && SystemDragAvailable()) {
    const bool started = edges ? handle->startSystemResize(edges) : handle->startSystemMove();
    if (started) return;
  }
  active_ = true;
  edges_ = edges;
  pressed_ = global.toPoint();
  start_ = window_->geometry();
}

void CFrameDrag::Follow(QPointF global) {
  if (!active_) return;
  const QPoint d = global.toPoint() - pressed_;
  if (!edges_) {
    window_->move(start_.topLeft() + d);
    return;
  }
  const QSize lo = window_->minimumSize(), hi = window_->maximumSize();
  QRect g = start_;
  // The edge that moves stops where the size reaches its bound.
  if (edges_ & Qt::LeftEdge) g.setLeft(std::clamp(start_.left() + d.x(), start_.right() + 1 - hi.width(), start_.right() + 1 - lo.width()));
  if (edges_ & Qt::RightEdge) g.setRight(std::clamp(start_.right() + d.x(), start_.left() - 1 + lo.width(), start_.left() - 1 + hi.width()));
  if (edges_ & Qt::TopEdge) g.setTop(std::clamp(start_.top() + d.y(), start_.bottom() + 1 - hi.height(), start_.bottom() + 1 - lo.height()));
  if (edges_ & Qt::BottomEdge) g.setBottom(std::clamp(start_.bottom() + d.y(), start_.top() - 1 + lo.height(), start_.top() - 1 + hi.height()));
  window_->setGeometry(g);
}

Qt::Edges CWindowHost::SizeBoxEdgesAt(QPoint p) const {
  if (!pm_ || isMaximized() || minimumSize() == maximumSize()) return {};
  const RECT box = pm_->ScaleRect(pm_->GetSizeBox());
  Qt::Edges edges;
  if (p.x() < box.left) edges |= Qt::LeftEdge;
  if (p.x() >= width() - box.right) edges |= Qt::RightEdge;
  if (p.y() < box.top) edges |= Qt::TopEdge;
  if (p.y() >= height() - box.bottom) edges |= Qt::BottomEdge;
  return edges;
}

void CWindowHost::ShowFrameCursor(QPoint p) {
  const Qt::Edges e = SizeBoxEdgesAt(p);
  const bool diagonalDown = (e & Qt::LeftEdge && e & Qt::TopEdge) || (e & Qt::RightEdge && e & Qt::BottomEdge);
  const bool diagonalUp = (e & Qt::LeftEdge && e & Qt::BottomEdge) || (e & Qt::RightEdge && e & Qt::TopEdge);
  if (diagonalDown) setCursor(Qt::SizeFDiagCursor);
  else if (diagonalUp) setCursor(Qt::SizeBDiagCursor);
  else if (e & (Qt::LeftEdge | Qt::RightEdge)) setCursor(Qt::SizeHorCursor);
  else if (e & (Qt::TopEdge | Qt::BottomEdge)) setCursor(Qt::SizeVerCursor);
  else unsetCursor();
}

bool CWindowHost::CanMaximize() const {
  // A skin that lets the user resize the window, or gives it a maximise
  // button, asks for it.
  if (!pm_ || minimumSize() == maximumSize()) return false;
  const RECT box = pm_->GetSizeBox();
  return box.left > 0 || box.top > 0 || box.right > 0 || box.bottom > 0 || pm_->FindControl("maxbtn");
}

void CWindowHost::SyncMaxRestoreButtons() {
  if (!pm_) return;
  CControlUI* maxBtn = pm_->FindControl("maxbtn");
  CControlUI* restoreBtn = pm_->FindControl("restorebtn");
  if (!maxBtn || !restoreBtn) return;
  maxBtn->SetVisible(!isMaximized());
  restoreBtn->SetVisible(isMaximized());
}

}  // namespace DirectUI
