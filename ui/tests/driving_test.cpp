// Input made by a test driver instead of a person: it must arrive where a
// person's would, through the window's own key handling, and the popup menu
// must be readable and clickable.
#include <QFile>
#include <QLineEdit>
#include <QTextEdit>

#include "ui/qt/qt_host.h"
#include "ui/tests/shown_window.h"
#include "ui/tests/ui_test_support.h"

using namespace DirectUI;
using uitest::CloseAndWait;
using uitest::ShowActive;
using uitest::UiTest;
using uitest::WaitUntil;

namespace {

const char kSkin[] = R"(<Window size="300,200">
  <VerticalLayout>
    <Edit name="ed_line" height="30" maxchar="5"/>
    <RichEdit name="ed_rich" height="60"/>
  </VerticalLayout></Window>)";

// Records the commands it gets and, like the main window, keeps Ctrl+C from
// its controls.
class DrivenWnd : public CWindowImplBaseUI {
 public:
  std::string GetWindowClassName() const override { return "DrivenWnd"; }
  std::string GetSkinFile() override { return "driven.xml"; }
  LRESULT HandleMessage(UINT msg, WPARAM wParam, LPARAM lParam) override {
    if (msg == WM_COMMAND) commands.push_back(static_cast<UINT>(wParam));
    if (msg == WM_KEYDOWN && GetKeyState(VK_CONTROL) < 0 && GetKeyState('C') < 0) return 0;
    return CWindowImplBaseUI::HandleMessage(msg, wParam, lParam);
  }
  std::vector<UINT> commands;
};

class DrivingTest : public UiTest {
 protected:
  void SetUp() override {
    UiTest::SetUp();
    skin.Write("driven.xml", kSkin);
    ASSERT_NE(w.Create(nullptr, "", UI_WNDSTYLE_DIALOG, 0), nullptr);
    ASSERT_TRUE(ShowActive(w));
  }
  void TearDown() override {
    CloseAndWait(w);
    UiTest::TearDown();
  }
  std::string Focus(const char* name) {
    CControlUI* control = w.GetPaintManager().FindControl(name);
    w.GetPaintManager().SetFocus(control);
    return control->GetText();
  }
  std::string TextOf(const char* name) { return w.GetPaintManager().FindControl(name)->GetText(); }
  DrivenWnd w;
};

}  // namespace

TEST_F(DrivingTest, TypedTextAndKeysReachTheFocusedEditorThroughTheWindow) {
  EXPECT_EQ(GetForegroundWindow(), w.GetHWND());
  Focus("ed_line");
  // Letters as keys, Chinese through the input method; the limit of five
  // UTF-16 units keeps the emoji (two units) out whole.
  ASSERT_TRUE(TypeText(w.GetHWND(), "aB你好\xF0\x9F\x98\x80"));
  EXPECT_EQ(TextOf("ed_line"), "aB你好");

  Focus("ed_rich");
  ASSERT_TRUE(TypeText(w.GetHWND(), "copy 译文"));
  SetClipboardText("before");
  ASSERT_TRUE(SendKeyChord(w.GetHWND(), 'A', true, false));
  ASSERT_TRUE(SendKeyChord(w.GetHWND(), 'C', true, false));  // the window keeps it
  EXPECT_EQ(GetClipboardText(), "before");
  ASSERT_TRUE(SendKeyChord(w.GetHWND(), 'X', true, false));
  EXPECT_EQ(TextOf("ed_rich"), "");
  EXPECT_EQ(GetClipboardText(), "copy 译文");
  ASSERT_TRUE(SendKeyChord(w.GetHWND(), 'V', true, false));
  ASSERT_TRUE(SendKeyChord(w.GetHWND(), VK_RETURN, false, false));
  EXPECT_EQ(TextOf("ed_rich"), "copy 译文\n");
  EXPECT_FALSE(IsKeyDown(VK_CONTROL));  // the chord let go of every key
  EXPECT_FALSE(SendKeyChord(w.GetHWND(), 0x7B /* F12: not a key here */, false, false));
}

TEST_F(DrivingTest, TheOpenPopupMenuIsReadPicturedAndClicked) {
  EXPECT_TRUE(OpenPopupMenuItems().empty());
  EXPECT_FALSE(ClickOpenPopupMenuItem("退出"));
  CPopupMenu menu;
  menu.AppendItem(4098, "显示");
  menu.AppendSeparator();
  menu.AppendItem(4097, "退出");
  ASSERT_TRUE(menu.TrackPopupMenu({40, 40}, w.GetHWND()));
  ASSERT_TRUE(WaitUntil([] { return !OpenPopupMenuItems().empty(); }));
  EXPECT_EQ(OpenPopupMenuItems(), (std::vector<std::string>{"显示", "退出"}));
  const std::string picture = skin.Path("menu.png");
  EXPECT_TRUE(SaveOpenPopupMenuScreenshot(picture));
  EXPECT_GT(QFile(QString::fromStdString(picture)).size(), 0);

  EXPECT_FALSE(ClickOpenPopupMenuItem("关闭"));
  EXPECT_TRUE(ClickOpenPopupMenuItem("退出"));
  ASSERT_TRUE(WaitUntil([&] { return !w.commands.empty(); }));
  EXPECT_EQ(w.commands, std::vector<UINT>{4097});
  EXPECT_TRUE(WaitUntil([] { return OpenPopupMenuItems().empty(); }));
}
