// The gallery window end to end: real clicks on its controls, image
// placement measured in pixels, and screenshots saved for people to look at.
#include <QApplication>
#include <QImage>
#include <QTimer>
#include <filesystem>

#include "ui/gallery/gallery_window.h"
#include "ui/qt/qt_host.h"
#include "ui/tests/ui_test_support.h"

using namespace DirectUI;
using uitest::Click;
using uitest::WaitUntil;

namespace {

class GalleryTest : public ::testing::Test {
 protected:
  void SetUp() override {
    EnsureApplication();
    CPaintManagerUI::SetResourcePath(QUILLORA_GALLERY_SKIN);
    std::filesystem::create_directories(QUILLORA_SCREENSHOT_DIR);
    ASSERT_NE(wnd.Create(nullptr, "DirectUI Gallery", UI_WNDSTYLE_FRAME, 0), nullptr);
    wnd.GetPaintManager().SetDPIScale(100);
    wnd.ShowWindow(true);
    wnd.GetPaintManager().UpdateLayout();
  }
  void TearDown() override {
    if (IsWindow(wnd.GetHWND())) wnd.Close();
    WaitUntil([&] { return !IsWindow(wnd.GetHWND()); });
    uitest::Drain();
  }
  CControlUI* Find(const char* n) { return wnd.GetPaintManager().FindControl(n); }
  std::string Shot(const std::string& name) { return std::string(QUILLORA_SCREENSHOT_DIR) + "/" + name; }
  QImage Grab() {
    wnd.GetPaintManager().UpdateLayout();
    return wnd.Host()->grab().toImage();
  }
  GalleryWnd wnd;
};

}  // namespace

TEST_F(GalleryTest, TabsSwitchThroughOptionsAndScreenshotsAreSaved) {
  EXPECT_EQ(wnd.GetWindowRect().Width(), 720);
  ASSERT_TRUE(wnd.SaveScreenshot(Shot("gallery_controls.png")));
  Click(wnd, Find("opt_edits"));
  auto* tab = static_cast<CTabLayoutUI*>(Find("tab_main"));
  EXPECT_EQ(tab->GetCurSel(), 1);
  EXPECT_TRUE(static_cast<COptionUI*>(Find("opt_edits"))->IsSelected());
  EXPECT_FALSE(static_cast<COptionUI*>(Find("opt_controls"))->IsSelected());
  ASSERT_TRUE(wnd.SaveScreenshot(Shot("gallery_edits.png")));
  Click(wnd, Find("opt_layout"));
  EXPECT_EQ(tab->GetCurSel(), 2);
  ASSERT_TRUE(wnd.SaveScreenshot(Shot("gallery_layout.png")));
  EXPECT_GT(std::filesystem::file_size(Shot("gallery_layout.png")), 1000u);
  // Editors on hidden tabs are hidden with them.
  auto* line = static_cast<CEditUI*>(Find("ed_line"));
  EXPECT_FALSE(line->IsVisible());
}

TEST_F(GalleryTest, ImageDestPlacesThePictureInsideTheControl) {
  QImage img = Grab();
  RECT rc = Find("img_dest")->GetPos();
  // dest='10,8,34,32' of a 24x24 orange disc on a white control.
  QColor centre = img.pixelColor(rc.left + 22, rc.top + 20);
  EXPECT_GT(centre.red(), 200);
  EXPECT_LT(centre.blue(), 100);
  EXPECT_EQ(img.pixelColor(rc.left + 60, rc.top + 20), QColor(Qt::white));
  EXPECT_EQ(img.pixelColor(rc.left + 5, rc.top + 20), QColor(Qt::white));
  // source='20,0,40,20' picks the green half of the sprite.
  RECT src = Find("img_source")->GetPos();
  QColor green = img.pixelColor(src.left + 20, src.top + 20);
  EXPECT_GT(green.green(), 150);
  EXPECT_LT(green.red(), 100);
}

TEST_F(GalleryTest, ModalPopupReturnsItsCodeAndScreenshotsIt) {
  std::string shotPath = Shot("gallery_popup.png");
  bool ownerDisabled = false;
  QTimer::singleShot(0, [&] {
    ownerDisabled = !wnd.IsEnabled();
    auto* host = [&]() -> CWindowHost* {
      for (QWidget* w : QApplication::topLevelWidgets())
        if (auto* h = dynamic_cast<CWindowHost*>(w); h && h->objectName() == "GalleryPopup" && h->Window()) return h;
      return nullptr;
    }();
    ASSERT_NE(host, nullptr);
    auto* popup = static_cast<GalleryPopup*>(host->Window());
    popup->SaveScreenshot(shotPath);
    Click(*popup, popup->GetPaintManager().FindControl("btn_ok"));
  });
  Click(wnd, Find("btn_modal"));
  EXPECT_TRUE(ownerDisabled);
  EXPECT_EQ(wnd.lastModalCode, GalleryPopup::kOkCode);
  EXPECT_EQ(Find("lb_modal_result")->GetText(), "返回码 2");
  EXPECT_TRUE(wnd.IsEnabled());
  EXPECT_TRUE(std::filesystem::exists(shotPath));
}

TEST_F(GalleryTest, MenuAndTimerAndListReportThroughTheTable) {
  Click(wnd, Find("btn_menu"));
  CMenuWnd* menu = CMenuWnd::GetActiveMenu();
  ASSERT_NE(menu, nullptr);
  // Screenshot of the gallery with its menu next to it.
  menu->SaveScreenshot(Shot("gallery_menu.png"));
  menu->GetPaintManager().UpdateLayout();
  Click(*menu, menu->GetPaintManager().FindControl("menuitem_hello"));
  EXPECT_EQ(Find("lb_status")->GetText(), "菜单：menuitem_hello");

  // The gallery's clock: a one-second timer on "lb_timer".
  auto& pm = wnd.GetPaintManager();
  pm.SetTimer(Find("lb_timer"), GalleryWnd::kTimerId, 5);
  ASSERT_TRUE(WaitUntil([&] { return wnd.ticks >= 2; }));
  EXPECT_EQ(Find("lb_timer")->GetText(), "计时 " + std::to_string(wnd.ticks));

  auto* list = static_cast<CListUI*>(Find("ls_items"));
  ASSERT_TRUE(list->SelectItem(3));
  EXPECT_EQ(Find("lb_status")->GetText(), "选择：  第四项 Fourth");
  auto* combo = static_cast<CComboUI*>(Find("cb_lang"));
  EXPECT_EQ(combo->GetText(), "中文");
  ASSERT_TRUE(combo->SelectItem(1));
  EXPECT_EQ(combo->GetText(), "English");
}
