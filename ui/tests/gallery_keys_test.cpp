// The gallery's float over a rich edit, its focus rings and its resizable
// frame, end to end; run at 100 % (ui_tests) and 200 % (ui_hidpi_tests),
// with screenshots of both.
#include <QKeyEvent>
#include <QMouseEvent>
#include <QTextEdit>
#include <filesystem>

#include "ui/tests/gallery_fixture.h"

using namespace DirectUI;
using uitest::Click;
using uitest::WaitUntil;

namespace {

class GalleryKeysTest : public uitest::GalleryFixture {
 protected:
  // The window's own pixels at a point of client coordinates (device pixels
  // of the grab, whatever the screen's scale).
  QColor Pixel(POINT p) {
    wnd.GetPaintManager().UpdateLayout();
    QImage img = wnd.Host()->grab().toImage();
    const qreal ratio = img.devicePixelRatio();
    return img.pixelColor(static_cast<int>(p.x * ratio), static_cast<int>(p.y * ratio));
  }
  void Tab() {
    QWidget* to = wnd.Host()->focusWidget() ? wnd.Host()->focusWidget() : wnd.Host();
    QKeyEvent press(QEvent::KeyPress, Qt::Key_Tab, Qt::NoModifier);
    QCoreApplication::sendEvent(to, &press);
  }
};

}  // namespace

TEST_F(GalleryKeysTest, TheFloatCoversTheRichEditUntilClickedAway) {
  CControlUI* note = Find("btn_float_note");
  ASSERT_TRUE(note->IsVisible());
  const RECT nr = note->GetPos();
  ASSERT_TRUE(Find("ed_rich")->GetPos().Contains(nr.left + 10, nr.top + 10));
  EXPECT_EQ(Pixel({nr.left + 10, nr.top + 10}), QColor(0xFF, 0xF1, 0xC8));
  ASSERT_TRUE(wnd.SaveScreenshot(Shot("gallery_float")));
  Click(wnd, note);
  EXPECT_FALSE(note->IsVisible());
  EXPECT_EQ(Pixel({nr.left + 10, nr.top + 10}), QColor(Qt::white));
  Click(wnd, Find("btn_toggle_float"));
  EXPECT_TRUE(note->IsVisible());
}

TEST_F(GalleryKeysTest, TabShowsAFocusRingAndTheFrameResizes) {
  // From the edits tab's selector, past the layout tab's, to the first editor;
  // then on to the combo.
  wnd.GetPaintManager().SetFocus(Find("opt_edits"));
  Tab();
  Tab();
  ASSERT_TRUE(wnd.GetPaintManager().IsFocusRingShown());
  CControlUI* focus = wnd.GetPaintManager().GetFocus();
  ASSERT_NE(focus, nullptr);
  EXPECT_EQ(focus->GetName(), "ed_line");
  while (wnd.GetPaintManager().GetFocus()->GetName() != "cb_lang") Tab();
  const RECT rc = Find("cb_lang")->GetPos();
  EXPECT_EQ(Pixel({rc.left, (rc.top + rc.bottom) / 2}), QColor(0x2D, 0x8C, 0xF0));
  ASSERT_TRUE(wnd.SaveScreenshot(Shot("gallery_focus_ring")));

  // The window grows by its right border and keeps its layout.
  const int width = wnd.Host()->width();
  const QPointF at(width - 2, 200), g = wnd.Host()->mapToGlobal(at);
  QMouseEvent press(QEvent::MouseButtonPress, at, g, Qt::LeftButton, Qt::LeftButton, Qt::NoModifier);
  QCoreApplication::sendEvent(wnd.Host(), &press);
  QMouseEvent move(QEvent::MouseMove, at + QPointF(120, 0), g + QPointF(120, 0), Qt::LeftButton, Qt::LeftButton,
                   Qt::NoModifier);
  QCoreApplication::sendEvent(wnd.Host(), &move);
  QMouseEvent release(QEvent::MouseButtonRelease, at + QPointF(120, 0), g + QPointF(120, 0), Qt::LeftButton,
                      Qt::NoButton, Qt::NoModifier);
  QCoreApplication::sendEvent(wnd.Host(), &release);
  EXPECT_EQ(wnd.Host()->width(), width + 120);
  wnd.GetPaintManager().UpdateLayout();
  EXPECT_EQ(Find("cb_lang")->GetPos().right, rc.right + 120);
  ASSERT_TRUE(wnd.SaveScreenshot(Shot("gallery_resized")));
}
