// Floating controls above native editors, floats that keep the place a
// program gave them, and window borders drawn above the children: checked in
// the window's pixels and with clicks routed by Qt itself.
#include <QKeyEvent>
#include <QLineEdit>
#include <QMouseEvent>
#include <QTextEdit>
#include <QWindow>

#include "ui/qt/qt_host.h"
#include "ui/tests/ui_test_support.h"

using namespace DirectUI;
using uitest::UiTest;
using uitest::WaitUntil;

namespace {

const char kSkin[] = R"(<Window size="300,200">
  <VerticalLayout name="root" bkcolor="#FFFFFFFF" bordercolor="#FFFF0000" bordersize="1">
    <HorizontalLayout name="title" height="30" bkcolor="#FF0000FF"/>
    <HorizontalLayout name="body" height="120">
      <RichEdit name="ed_rich" width="140" bkcolor="#FFFFFFFF"/>
      <Control width="10"/>
      <Edit name="ed_line" width="140" bkcolor="#FFFFFFFF"/>
    </HorizontalLayout>
    <Button name="flt" float="true" pos="20,40,100,80" bkcolor="#FF00C000" visible="false"/>
    <Button name="flt_all" float="true" pos="140,20,300,160" bkcolor="#FF00C000" visible="false"/>
  </VerticalLayout></Window>)";

class OverlayWnd : public CWindowImplBaseUI {
 public:
  std::string GetWindowClassName() const override { return "OverlayWnd"; }
  std::string GetSkinFile() override { return "overlay.xml"; }
};

class OverlayTest : public UiTest {
 protected:
  void SetUp() override {
    UiTest::SetUp();
    skin.Write("overlay.xml", kSkin);
    ASSERT_NE(w.Create(nullptr, "", UI_WNDSTYLE_DIALOG, 0), nullptr);
    w.GetPaintManager().SetDPIScale(100);
    w.ShowWindow(true);
    w.GetPaintManager().AddNotifier(&rec);
    Layout();
  }
  void TearDown() override {
    w.GetPaintManager().RemoveNotifier(&rec);
    if (IsWindow(w.GetHWND())) w.Close();
    WaitUntil([&] { return !IsWindow(w.GetHWND()); });
    UiTest::TearDown();
  }
  void Layout() { w.GetPaintManager().UpdateLayout(); }
  CControlUI* Find(const char* name) { return w.GetPaintManager().FindControl(name); }
  QColor Pixel(QPoint p) { return w.Host()->grab().toImage().pixelColor(p); }
  // A click as the window system delivers it: Qt picks the widget under the point.
  void ClickAt(QPoint p) {
    QWindow* win = w.Host()->windowHandle();
    ASSERT_NE(win, nullptr);
    const QPointF local(p), global = w.Host()->mapToGlobal(local);
    QMouseEvent press(QEvent::MouseButtonPress, local, global, Qt::LeftButton, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(win, &press);
    QMouseEvent release(QEvent::MouseButtonRelease, local, global, Qt::LeftButton, Qt::NoButton, Qt::NoModifier);
    QCoreApplication::sendEvent(win, &release);
  }
  static QPoint Mid(const RECT& rc) { return {(rc.left + rc.right) / 2, (rc.top + rc.bottom) / 2}; }
  OverlayWnd w;
  uitest::Recorder rec;
};

const QColor kFloatGreen(0, 0xC0, 0);

}  // namespace

TEST_F(OverlayTest, AVisibleFloatWinsOverAnEditorInPixelsAndClicks) {
  auto* rich = static_cast<CRichEditUI*>(Find("ed_rich"));
  auto* native = w.Host()->findChild<QTextEdit*>();
  ASSERT_NE(native, nullptr);
  const QPoint spot(60, 60);  // inside pos="20,40,100,80"
  ASSERT_TRUE(rich->GetPos().Contains(spot.x(), spot.y()));

  Find("flt")->SetVisible(true);
  Layout();
  EXPECT_EQ(Pixel(spot), kFloatGreen);
  ClickAt(spot);
  EXPECT_EQ(rec.Count("click", "flt"), 1);
  EXPECT_NE(w.Host()->focusWidget(), native);
  // The rest of the editor still takes clicks.
  const RECT er = rich->GetPos();
  ClickAt({er.right - 10, er.bottom - 10});
  EXPECT_EQ(w.Host()->focusWidget(), native);

  // Hidden again, the editor is whole: its pixels, its clicks, its typing.
  Find("flt")->SetVisible(false);
  Layout();
  EXPECT_NE(Pixel(spot), kFloatGreen);
  w.Host()->setFocus();
  ClickAt(spot);
  EXPECT_EQ(rec.Count("click", "flt"), 1);
  EXPECT_EQ(w.Host()->focusWidget(), native);
  QKeyEvent key(QEvent::KeyPress, Qt::Key_Q, Qt::NoModifier, "q");
  QCoreApplication::sendEvent(native, &key);
  EXPECT_EQ(rich->GetText(), "q");
}

TEST_F(OverlayTest, AFloatCoveringASingleLineEditorHidesItUntilItGoes) {
  auto* line = w.Host()->findChild<QLineEdit*>();
  ASSERT_NE(line, nullptr);
  ASSERT_TRUE(line->isVisibleTo(w.Host()));
  Find("flt_all")->SetVisible(true);
  Layout();
  EXPECT_FALSE(line->isVisibleTo(w.Host()));
  const QPoint spot = Mid(Find("ed_line")->GetPos());
  EXPECT_EQ(Pixel(spot), kFloatGreen);
  ClickAt(spot);
  EXPECT_EQ(rec.Count("click", "flt_all"), 1);
  Find("flt_all")->SetVisible(false);
  Layout();
  EXPECT_TRUE(line->isVisibleTo(w.Host()));
  ClickAt(spot);
  EXPECT_EQ(w.Host()->focusWidget(), line);
}

TEST_F(OverlayTest, AFloatPlacedWithSetPosKeepsItsPlaceUntilMovedAgain) {
  CControlUI* flt = Find("flt");
  flt->SetVisible(true);
  Layout();
  const RECT anchor = Find("ed_line")->GetPos();
  flt->SetPos({anchor.left, anchor.top, anchor.left + 80, anchor.top + 40});
  Layout();
  w.ResizeClient(320, 220);
  Layout();
  EXPECT_EQ(flt->GetPos(), (RECT{anchor.left, anchor.top, anchor.left + 80, anchor.top + 40}));
  // The editors follow the float: the line editor is covered at its new
  // place, the rich edit no longer.
  EXPECT_EQ(Pixel({anchor.left + 10, anchor.top + 10}), kFloatGreen);
  const QPoint old = Mid(RECT{20, 40, 100, 80});
  EXPECT_NE(Pixel(old), kFloatGreen);
  // Moving it the skin's way puts it back under the skin's rule.
  flt->SetFixedXY({20, 40});
  Layout();
  EXPECT_EQ(flt->GetPos(), (RECT{20, 40, 100, 80}));
}

TEST_F(OverlayTest, TheWindowBorderIsDrawnAboveItsChildren) {
  // The title bar fills the top of the frame; its border still shows.
  EXPECT_EQ(Pixel({150, 0}), QColor(Qt::red));
  EXPECT_EQ(Pixel({0, 15}), QColor(Qt::red));
  EXPECT_EQ(Pixel({299, 15}), QColor(Qt::red));
  EXPECT_EQ(Pixel({150, 15}), QColor(Qt::blue));
}
