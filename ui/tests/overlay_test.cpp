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

namespace {

const char kFrameSkin[] = R"(<Window size="300,200" caption="0,0,0,30" sizebox="4,4,4,4" mininfo="200,150">
  <VerticalLayout bkcolor="#FFFFFFFF">
    <HorizontalLayout height="30"><Control/><Button name="maxbtn" width="30"/><Button name="restorebtn" width="30" visible="false"/></HorizontalLayout>
    <Button name="btn_edge"/>
  </VerticalLayout></Window>)";

class FrameWnd : public CWindowImplBaseUI {
 public:
  explicit FrameWnd(std::string file) : file_(std::move(file)) {}
  std::string GetWindowClassName() const override { return "FrameWnd"; }
  std::string GetSkinFile() override { return file_; }

 private:
  std::string file_;
};

class FrameTest : public UiTest {
 protected:
  void Open(FrameWnd& w) {
    ASSERT_NE(w.Create(nullptr, "", UI_WNDSTYLE_FRAME, 0), nullptr);
    w.GetPaintManager().SetDPIScale(100);
    w.GetPaintManager().UpdateLayout();
  }
  // A left-button drag from `from` (window coordinates) by `by`.
  static void Drag(FrameWnd& w, QPoint from, QPoint by) {
    const QPointF g = w.Host()->mapToGlobal(QPointF(from));
    Mouse(w, QEvent::MouseButtonPress, from, g, Qt::LeftButton);
    Mouse(w, QEvent::MouseMove, from + by, g + by, Qt::LeftButton);
    Mouse(w, QEvent::MouseButtonRelease, from + by, g + by, Qt::NoButton);
  }
  static void Mouse(FrameWnd& w, QEvent::Type type, QPointF local, QPointF global, Qt::MouseButtons buttons) {
    QMouseEvent e(type, local, global, Qt::LeftButton, buttons, Qt::NoModifier);
    QCoreApplication::sendEvent(w.Host(), &e);
  }
  static void DoubleClick(FrameWnd& w, QPoint at) {
    Mouse(w, QEvent::MouseButtonDblClick, at, w.Host()->mapToGlobal(QPointF(at)), Qt::LeftButton);
    Mouse(w, QEvent::MouseButtonRelease, at, w.Host()->mapToGlobal(QPointF(at)), Qt::NoButton);
  }
  static void CloseAndWait(FrameWnd& w) {
    w.Close();
    WaitUntil([&] { return !IsWindow(w.GetHWND()); });
  }
};

}  // namespace

TEST_F(FrameTest, SizeboxBordersResizeWithinTheSkinsBounds) {
  skin.Write("frame.xml", kFrameSkin);
  FrameWnd w("frame.xml");
  Open(w);
  w.ShowWindow(true);
  const QRect start = w.Host()->geometry();
  Drag(w, {298, 100}, {40, 0});
  EXPECT_EQ(w.Host()->geometry(), start.adjusted(0, 0, 40, 0));
  Drag(w, {1, 100}, {-30, 0});  // the left edge moves, the right one stays
  EXPECT_EQ(w.Host()->geometry(), start.adjusted(-30, 0, 40, 0));
  uitest::Recorder rec;
  w.GetPaintManager().AddNotifier(&rec);
  Drag(w, {150, 198}, {0, -500});  // stops at mininfo
  EXPECT_EQ(w.Host()->height(), 150);
  Drag(w, {150, 148}, {0, 0});  // a click on the border is the frame's, not the button's
  EXPECT_EQ(rec.Count("click", "btn_edge"), 0);
  w.GetPaintManager().RemoveNotifier(&rec);
  EXPECT_EQ(w.Host()->cursor().shape(), Qt::ArrowCursor);
  QMouseEvent hover(QEvent::MouseMove, QPointF(w.Host()->width() - 1, 80), w.Host()->mapToGlobal(QPointF(w.Host()->width() - 1, 80)),
                    Qt::NoButton, Qt::NoButton, Qt::NoModifier);
  QCoreApplication::sendEvent(w.Host(), &hover);
  EXPECT_EQ(w.Host()->cursor().shape(), Qt::SizeHorCursor);
  CloseAndWait(w);
}

TEST_F(FrameTest, CaptionDoubleClickMaximisesAndRestoresWhereTheSkinAsks) {
  skin.Write("frame.xml", kFrameSkin);
  FrameWnd w("frame.xml");
  Open(w);
  w.ShowWindow(true);
  DoubleClick(w, {100, 10});
  ASSERT_TRUE(WaitUntil([&] { return w.Host()->isMaximized(); }));
  EXPECT_FALSE(w.GetPaintManager().FindControl("maxbtn")->IsVisible());
  EXPECT_TRUE(w.GetPaintManager().FindControl("restorebtn")->IsVisible());
  DoubleClick(w, {100, 10});
  ASSERT_TRUE(WaitUntil([&] { return !w.Host()->isMaximized(); }));
  EXPECT_TRUE(w.GetPaintManager().FindControl("maxbtn")->IsVisible());
  CloseAndWait(w);

  // Neither sizebox nor maxbtn: the window keeps its size, and the border
  // belongs to the control under it.
  skin.Write("fixed.xml", R"(<Window size="300,200" caption="0,0,0,30"><VerticalLayout>
      <Control height="30"/><Button name="btn_edge"/></VerticalLayout></Window>)");
  FrameWnd fixed("fixed.xml");
  Open(fixed);
  fixed.ShowWindow(true);
  uitest::Recorder rec;
  fixed.GetPaintManager().AddNotifier(&rec);
  DoubleClick(fixed, {100, 10});
  uitest::Drain();
  EXPECT_FALSE(fixed.Host()->isMaximized());
  const QRect start = fixed.Host()->geometry();
  Drag(fixed, {298, 100}, {40, 0});
  EXPECT_EQ(fixed.Host()->geometry(), start);
  Drag(fixed, {298, 100}, {0, 0});  // a plain click at the border
  EXPECT_EQ(rec.Count("click", "btn_edge"), 1);
  fixed.GetPaintManager().RemoveNotifier(&rec);
  CloseAndWait(fixed);
}
