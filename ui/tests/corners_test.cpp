// Rounded window corners: anti-aliased on a translucent window when a
// compositor runs, a mask otherwise; owned popups are shaped the same way.
#include <QImage>
#include <QWindow>
#include <filesystem>

#include "ui/qt/qt_host.h"
#include "ui/tests/ui_test_support.h"

using namespace DirectUI;
using uitest::UiTest;
using uitest::WaitUntil;

namespace {

class RoundWnd : public CWindowImplBaseUI {
 public:
  std::string GetWindowClassName() const override { return "RoundWnd"; }
  std::string GetSkinFile() override { return "round.xml"; }
};

class CornersTest : public UiTest {
 protected:
  void SetUp() override {
    UiTest::SetUp();
    skin.Write("round.xml",
               R"(<Window size="120,80" roundcorner="24,24"><VerticalLayout bkcolor="#FF2060C0"/></Window>)");
  }
  void TearDown() override {
    SetCompositorOverride(-1);
    UiTest::TearDown();
  }
  static void Open(RoundWnd& w, HWND owner = nullptr) {
    ASSERT_NE(w.Create(owner, "", UI_WNDSTYLE_DIALOG, 0), nullptr);
    w.ShowWindow(true);
  }
  static void Close(RoundWnd& w) {
    w.Close();
    WaitUntil([&] { return !IsWindow(w.GetHWND()); });
  }
};

}  // namespace

TEST_F(CornersTest, WithACompositorCornersAreSmoothAndClear) {
  SetCompositorOverride(1);
  RoundWnd w;
  Open(w);
  EXPECT_TRUE(w.Host()->HasSmoothCorners());
  EXPECT_TRUE(w.Host()->mask().isEmpty());
  const std::string file = std::string(QUILLORA_SCREENSHOT_DIR) + "/round_smooth.png";
  std::filesystem::create_directories(QUILLORA_SCREENSHOT_DIR);
  ASSERT_TRUE(w.SaveScreenshot(file));
  QImage img(QString::fromStdString(file));
  img = img.convertToFormat(QImage::Format_ARGB32);
  EXPECT_EQ(qAlpha(img.pixel(0, 0)), 0);                      // outside the outline: clear, not black
  EXPECT_EQ(img.pixel(60, 40), QColor(0x20, 0x60, 0xC0).rgba());  // inside: the skin's colour
  int partial = 0;  // the arc crosses pixels: some are partly covered
  for (int y = 0; y < 12; ++y)
    for (int x = 0; x < 12; ++x) {
      const int a = qAlpha(img.pixel(x, y));
      if (a > 0 && a < 255) ++partial;
    }
  EXPECT_GT(partial, 0);
  Close(w);
}

TEST_F(CornersTest, WithoutACompositorTheMaskStays) {
  SetCompositorOverride(0);
  RoundWnd w;
  Open(w);
  EXPECT_FALSE(w.Host()->HasSmoothCorners());
  EXPECT_FALSE(w.Host()->testAttribute(Qt::WA_TranslucentBackground));
  const QRegion mask = w.Host()->mask();
  EXPECT_FALSE(mask.contains(QPoint(0, 0)));
  EXPECT_TRUE(mask.contains(QPoint(60, 40)));
  Close(w);
}

TEST_F(CornersTest, OwnedPopupIsShapedAndStaysAboveItsOwner) {
  SetCompositorOverride(1);
  RoundWnd owner, popup;
  Open(owner);
  Open(popup, owner.GetHWND());
  EXPECT_TRUE(popup.Host()->HasSmoothCorners());
  ASSERT_NE(popup.Host()->windowHandle(), nullptr);
  EXPECT_EQ(popup.Host()->windowHandle()->transientParent(), owner.Host()->windowHandle());
  Close(popup);
  Close(owner);
}
