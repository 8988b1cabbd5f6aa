// Pictures on a 200 % screen: drawn with one image pixel per device pixel
// where the picture has them, and from the "@2x" file when there is one.
// This program runs its windows with QT_SCALE_FACTOR=2.
#include <QImage>
#include <QPainter>
#include <cstdlib>
#include <filesystem>

#include "ui/gallery/gallery_window.h"
#include "ui/qt/qt_host.h"
#include "ui/tests/ui_test_support.h"

namespace {
// Before the application object exists, which reads it once.
const int kScaleSet = (setenv("QT_SCALE_FACTOR", "2", 1), 0);
}  // namespace

using namespace DirectUI;
using uitest::UiTest;
using uitest::WaitUntil;

namespace {

class PicWnd : public CWindowImplBaseUI {
 public:
  std::string GetWindowClassName() const override { return "PicWnd"; }
  std::string GetSkinFile() override { return "pics.xml"; }
};

// One-pixel checks: a pattern that any resampling turns grey.
QImage Checker(int w, int h, QColor a, QColor b) {
  QImage img(w, h, QImage::Format_ARGB32);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) img.setPixelColor(x, y, (x + y) % 2 ? a : b);
  return img;
}
QImage Filled(int w, int h, QColor c) {
  QImage img(w, h, QImage::Format_ARGB32);
  img.fill(c);
  return img;
}

class HiDpiTest : public UiTest {
 protected:
  void SetUp() override {
    ASSERT_EQ(kScaleSet, 0);
    UiTest::SetUp();
    Checker(40, 40, Qt::black, Qt::white).save(QString::fromStdString(skin.Path("big.png")));
    Filled(20, 20, Qt::blue).save(QString::fromStdString(skin.Path("pic.png")));
    Checker(40, 40, Qt::red, Qt::yellow).save(QString::fromStdString(skin.Path("pic@2x.png")));
    QImage sprite = Filled(40, 20, Qt::blue), sprite2 = Filled(80, 40, Qt::red);
    QPainter(&sprite).fillRect(20, 0, 20, 20, Qt::green);
    QPainter(&sprite2).fillRect(40, 0, 40, 40, Qt::yellow);
    sprite.save(QString::fromStdString(skin.Path("sprite.png")));
    sprite2.save(QString::fromStdString(skin.Path("sprite@2x.png")));
    skin.Write("pics.xml", R"(<Window size="200,100"><HorizontalLayout bkcolor="#FFFFFFFF">
      <Control name="big" bkimage="big.png" width="20" height="20"/>
      <Control name="pic" bkimage="pic.png" width="20" height="20"/>
      <Control name="part" bkimage="file='sprite.png' source='20,0,40,20'" width="20" height="20"/>
      <Control/></HorizontalLayout></Window>)");
    ASSERT_NE(w.Create(nullptr, "", UI_WNDSTYLE_DIALOG, 0), nullptr);
    w.ShowWindow(true);
    std::filesystem::create_directories(QUILLORA_SCREENSHOT_DIR);
    const std::string file = std::string(QUILLORA_SCREENSHOT_DIR) + "/hidpi_pictures.png";
    ASSERT_TRUE(w.SaveScreenshot(file));
    shot.load(QString::fromStdString(file));
  }
  void TearDown() override {
    w.Close();
    WaitUntil([&] { return !IsWindow(w.GetHWND()); });
    UiTest::TearDown();
  }
  // The screenshot's device pixels under a control, row by row.
  QImage Under(const char* name) {
    const RECT r = w.GetPaintManager().FindControl(name)->GetPos();
    return shot.copy(r.left * 2, r.top * 2, r.Width() * 2, r.Height() * 2).convertToFormat(QImage::Format_RGB32);
  }
  PicWnd w;
  QImage shot;
};

}  // namespace

TEST_F(HiDpiTest, ScreenshotsHaveTwoDevicePixelsPerUnit) {
  EXPECT_EQ(shot.width(), 2 * w.Host()->width());
  EXPECT_EQ(w.GetPaintManager().GetDPIScale(), 100);  // layout stays in units; Qt doubles the pixels
}

TEST_F(HiDpiTest, LargePictureShrunkIntoAControlKeepsEveryPixel) {
  // 40 × 40 picture in a 20 × 20 control: exactly its pixels at 200 %.
  EXPECT_EQ(Under("big"), Checker(40, 40, Qt::black, Qt::white).convertToFormat(QImage::Format_RGB32));
}

TEST_F(HiDpiTest, TwoTimesFileIsUsedAndItsSourceRectanglesFollow) {
  EXPECT_EQ(Under("pic"), Checker(40, 40, Qt::red, Qt::yellow).convertToFormat(QImage::Format_RGB32));
  // source='20,0,40,20' names the 1x picture's right half: the @2x file's right half.
  EXPECT_EQ(Under("part"), Filled(40, 40, Qt::yellow).convertToFormat(QImage::Format_RGB32));
}

TEST_F(HiDpiTest, GalleryScreenshotAtTwoHundredPercent) {
  CPaintManagerUI::SetResourcePath(QUILLORA_GALLERY_SKIN);
  GalleryWnd g;
  ASSERT_NE(g.Create(nullptr, "", UI_WNDSTYLE_DIALOG, 0), nullptr);
  g.ShowWindow(true);
  const std::string file = std::string(QUILLORA_SCREENSHOT_DIR) + "/gallery_200.png";
  ASSERT_TRUE(g.SaveScreenshot(file));
  QImage img(QString::fromStdString(file));
  EXPECT_EQ(img.width(), 2 * g.Host()->width());
  g.Close();
  EXPECT_TRUE(WaitUntil([&] { return !IsWindow(g.GetHWND()); }));
}
