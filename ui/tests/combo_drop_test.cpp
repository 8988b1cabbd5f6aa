// The combo's drop-down: a skinned list under the combo that picks rows with
// the mouse and the keys, and goes quietly when the combo goes.
#include <QApplication>
#include <QImage>
#include <filesystem>

#include "ui/qt/qt_host.h"
#include "ui/tests/ui_test_support.h"

using namespace DirectUI;
using uitest::Click;
using uitest::Recorder;
using uitest::UiTest;
using uitest::WaitUntil;

namespace {

const char kSkin[] = R"(<Window size="300,240">
  <VerticalLayout bkcolor="#FFFFFFFF" inset="10,10,10,10">
    <Combo name="cb" height="28" width="160" selectedid="1" itemheight="30"
           itemselectedbkcolor="#FF2060C0" itemhotbkcolor="#FFC0E0FF" itemtextcolor="#FF202020"
           dropboxbkcolor="#FFF0F0F0" dropboxbordercolor="#FF808080">
      <ListLabelElement text="中文"/><ListLabelElement text="English"/>
      <ListLabelElement text="日本語"/><ListLabelElement text="한국어"/>
    </Combo>
    <Control/>
  </VerticalLayout></Window>)";

class ComboOwner : public CWindowImplBaseUI {
 public:
  std::string GetWindowClassName() const override { return "ComboOwner"; }
  std::string GetSkinFile() override { return "combo.xml"; }
};

class ComboDropTest : public UiTest {
 protected:
  void SetUp() override {
    UiTest::SetUp();
    skin.Write("combo.xml", kSkin);
    w = new ComboOwner;
    ASSERT_NE(w->Create(nullptr, "", UI_WNDSTYLE_DIALOG, 0), nullptr);
    w->ShowWindow(true);
    w->GetPaintManager().UpdateLayout();
    w->GetPaintManager().AddNotifier(&rec);
    combo = static_cast<CComboUI*>(w->GetPaintManager().FindControl("cb"));
    ASSERT_NE(combo, nullptr);
  }
  void TearDown() override {
    if (IsWindow(w->GetHWND())) {
      w->GetPaintManager().RemoveNotifier(&rec);
      w->Close();
      WaitUntil([&] { return !IsWindow(w->GetHWND()); });
    }
    delete w;
    UiTest::TearDown();
  }
  // Opens the drop-down with a click and answers its window.
  CComboWnd* Open() {
    Click(*w, combo);
    HWND drop = combo->GetDropWindow();
    EXPECT_NE(drop, nullptr);
    CWindowHost* host = HostFromHandle(drop);
    auto* wnd = host ? dynamic_cast<CComboWnd*>(host->Window()) : nullptr;
    if (wnd) wnd->GetPaintManager().UpdateLayout();
    return wnd;
  }
  bool DropGone() {
    return WaitUntil([&] { return combo->GetDropWindow() == nullptr; }) &&
           WaitUntil([&] {
             for (QWidget* t : QApplication::topLevelWidgets())
               if (t->objectName() == "ComboWnd") return false;
             return true;
           });
  }
  void Key(CComboWnd* d, int vk) { d->SendMessage(WM_KEYDOWN, static_cast<WPARAM>(vk), 0); }
  ComboOwner* w = nullptr;
  CComboUI* combo = nullptr;
  Recorder rec;
};

}  // namespace

TEST_F(ComboDropTest, DropDownIsASkinnedListUnderTheComboAndAClickPicksARow) {
  CComboWnd* drop = Open();
  ASSERT_NE(drop, nullptr);
  CListUI* list = drop->GetList();
  ASSERT_EQ(list->GetCount(), 4);
  EXPECT_EQ(list->GetItemAt(2)->GetText(), "日本語");
  EXPECT_EQ(list->GetCurSel(), 1);  // opens on the combo's row

  // Placed under the combo, as wide as it, tall enough for every row.
  RECT pos = combo->GetPos();
  POINT under = w->ClientToScreen({pos.left, pos.bottom});
  RECT wr = drop->GetWindowRect();
  EXPECT_EQ(wr.left, under.x);
  EXPECT_EQ(wr.top, under.y);
  EXPECT_EQ(wr.Width(), pos.Width());
  EXPECT_GE(wr.Height(), 4 * 30);

  // Drawn with the skin's colours: the chosen row and the box background.
  std::filesystem::create_directories(QUILLORA_SCREENSHOT_DIR);
  const std::string shot = std::string(QUILLORA_SCREENSHOT_DIR) + "/combo_drop.png";
  ASSERT_TRUE(drop->SaveScreenshot(shot));
  QImage img(QString::fromStdString(shot));
  const qreal dpr = img.devicePixelRatio() > 0 ? img.devicePixelRatio() : 1;
  auto px = [&](CControlUI* c) {
    auto p = uitest::Center(c);
    return img.pixelColor(static_cast<int>((c->GetPos().left + 3) * dpr), static_cast<int>(p.y * dpr)).rgb();
  };
  EXPECT_EQ(px(list->GetItemAt(1)), QColor(0x20, 0x60, 0xC0).rgb());
  EXPECT_EQ(px(list->GetItemAt(3)), QColor(0xF0, 0xF0, 0xF0).rgb());

  Click(*drop, list->GetItemAt(2));
  EXPECT_EQ(combo->GetCurSel(), 2);
  EXPECT_EQ(combo->GetText(), "日本語");
  EXPECT_EQ(rec.Count("itemselect", "cb"), 1);
  EXPECT_TRUE(DropGone());
}

TEST_F(ComboDropTest, KeysMoveTheHighlightEnterChoosesEscapeKeeps) {
  CComboWnd* drop = Open();
  ASSERT_NE(drop, nullptr);
  Key(drop, VK_DOWN);
  Key(drop, VK_DOWN);
  Key(drop, VK_DOWN);  // stops at the last row
  EXPECT_EQ(combo->GetCurSel(), 1) << "moving the highlight does not choose yet";
  Key(drop, VK_RETURN);
  EXPECT_EQ(combo->GetCurSel(), 3);
  EXPECT_EQ(rec.Count("itemselect", "cb"), 1);
  ASSERT_TRUE(DropGone());

  drop = Open();
  ASSERT_NE(drop, nullptr);
  Key(drop, VK_HOME);
  Key(drop, VK_ESCAPE);
  EXPECT_TRUE(DropGone());
  EXPECT_EQ(combo->GetCurSel(), 3);
  EXPECT_EQ(rec.Count("itemselect", "cb"), 1);
}

TEST_F(ComboDropTest, ClickingTheComboAgainOrClosingItsWindowWhileOpenIsSafe) {
  ASSERT_NE(Open(), nullptr);
  HWND first = combo->GetDropWindow();
  combo->Activate();  // a second open keeps the one drop-down
  EXPECT_EQ(combo->GetDropWindow(), first);
  w->GetPaintManager().RemoveNotifier(&rec);
  w->Close();  // the combo goes with its window while the drop-down is up
  EXPECT_TRUE(WaitUntil([&] { return !IsWindow(w->GetHWND()) && !IsWindow(first); }));
}
