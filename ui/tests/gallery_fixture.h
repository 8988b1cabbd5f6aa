#pragma once
// The gallery window opened on its "输入" tab, for end-to-end tests that run
// at 100 % (ui_tests) and 200 % (ui_hidpi_tests) and save screenshots of both.
#include <QByteArray>
#include <filesystem>
#include <string>

#include "ui/gallery/gallery_window.h"
#include "ui/qt/qt_host.h"
#include "ui/tests/ui_test_support.h"

namespace uitest {

class GalleryFixture : public ::testing::Test {
 protected:
  void SetUp() override {
    DirectUI::EnsureApplication();
    DirectUI::CPaintManagerUI::SetResourcePath(QUILLORA_GALLERY_SKIN);
    std::filesystem::create_directories(QUILLORA_SCREENSHOT_DIR);
    ASSERT_NE(wnd.Create(nullptr, "DirectUI Gallery", DirectUI::UI_WNDSTYLE_FRAME, 0), nullptr);
    wnd.ShowWindow(true);
    wnd.GetPaintManager().UpdateLayout();
    Click(wnd, Find("opt_edits"));
    wnd.GetPaintManager().UpdateLayout();
  }
  void TearDown() override {
    if (DirectUI::IsWindow(wnd.GetHWND())) wnd.Close();
    WaitUntil([&] { return !DirectUI::IsWindow(wnd.GetHWND()); });
    Drain();
  }
  DirectUI::CControlUI* Find(const char* n) { return wnd.GetPaintManager().FindControl(n); }
  static std::string Shot(const std::string& name) {
    const bool doubled = qgetenv("QT_SCALE_FACTOR") == "2";
    return std::string(QUILLORA_SCREENSHOT_DIR) + "/" + name + (doubled ? "_200.png" : "_100.png");
  }
  DirectUI::GalleryWnd wnd;
};

}  // namespace uitest
