// The language picker: in the pages' host window with the real language
// list, and in a small window with markup made for the edge cases.
#include "workspace/select_language.h"
#include "workspace/tests/workspace_test_support.h"
#include "workspace/workspace_controls.h"

namespace quillora::workspace::testing {
namespace {

using namespace DirectUI;

class PickerTest : public PagesTest {
 protected:
  void SetUp() override {
    PagesTest::SetUp();
    OpenHost();
    picker_ = host_->Picker();
    ASSERT_NE(picker_, nullptr);
  }
  CControlUI* Button(const char* name) { return In(Doc(), name); }
  std::string Code(const char* name) { return Button(name)->GetCustomAttribute("code"); }
  std::vector<std::string> DisabledCodes() {
    std::vector<std::string> out;
    for (auto* c : Pm().FindSubControlsByClass(picker_, "OptionUI"))
      if (!c->IsEnabled()) out.push_back(c->GetCustomAttribute("code"));
    return out;
  }
  SelectLanguage* picker_ = nullptr;
};

TEST_F(PickerTest, ListsTheServiceLanguagesWithChineseNames) {
  EXPECT_GE(picker_->OptionCount(), 13u);
  const std::pair<const char*, const char*> expected[] = {
      {"zh", "中文（简体）"}, {"en", "英语"}, {"ja", "日语"}, {"ko", "韩语"}, {"fr", "法语"},
      {"de", "德语"}, {"es", "西班牙语"}, {"ru", "俄语"}, {"pt", "葡萄牙语"}, {"it", "意大利语"},
      {"ar", "阿拉伯语"}, {"th", "泰语"}, {"vi", "越南语"}};
  for (auto [code, name] : expected) {
    ASSERT_NE(picker_->OptionFor(code), nullptr) << code;
    EXPECT_EQ(picker_->OptionFor(code)->GetText(), name);
  }
  // Every page's buttons start on languages of the list.
  for (CControlUI* page : {static_cast<CControlUI*>(Doc()), static_cast<CControlUI*>(Music()),
                           static_cast<CControlUI*>(Pic()), static_cast<CControlUI*>(Text())}) {
    for (const char* b : {"btnSource", "btnDest"}) {
      COptionUI* option = picker_->OptionFor(In(page, b)->GetCustomAttribute("code"));
      ASSERT_NE(option, nullptr) << b;
      EXPECT_EQ(option->GetText(), In(page, b)->GetText());
    }
  }
}

TEST_F(PickerTest, OpensOverItsButtonWithTheOtherSideDisabled) {
  ClickIn(Doc(), "btnSource");
  ASSERT_TRUE(picker_->IsVisible());
  EXPECT_EQ(picker_->Anchor(), Button("btnSource"));
  EXPECT_EQ(DisabledCodes(), std::vector<std::string>{Code("btnDest")});
  Pm().UpdateLayout();
  EXPECT_EQ(picker_->GetPos().left, Button("btnSource")->GetPos().left);
  EXPECT_EQ(picker_->GetPos().top, Button("btnSource")->GetPos().top);
  EXPECT_EQ(TextOf(Pm().FindSubControlByName(picker_, "lb_init")), "英语");
  Shot("picker_open");
  // The focus moves ShowAt made itself left it open; the target side now.
  picker_->Hide();
  ClickIn(Doc(), "btnDest");
  ASSERT_TRUE(picker_->IsVisible());
  EXPECT_EQ(DisabledCodes(), std::vector<std::string>{Code("btnSource")});
}

TEST_F(PickerTest, APickRewritesOnlyTheAnchorAndCloses) {
  ClickIn(Doc(), "btnDest");
  Pm().UpdateLayout();
  uitest::Click(*host_, picker_->OptionFor("ja"));
  EXPECT_FALSE(picker_->IsVisible());
  EXPECT_EQ(Code("btnDest"), "ja");
  EXPECT_EQ(TextOf(Button("btnDest")), "日语");
  EXPECT_EQ(Code("btnSource"), "en");
  EXPECT_EQ(In(Music(), "btnDest")->GetCustomAttribute("code"), "zh");
  // The disabled option cannot be picked.
  ClickIn(Doc(), "btnSource");
  Pm().UpdateLayout();
  uitest::Click(*host_, picker_->OptionFor("ja"));
  EXPECT_EQ(Code("btnSource"), "en");
}

TEST_F(PickerTest, SwapTwiceRestoresBothButtons) {
  ClickIn(Doc(), "btnChange");
  EXPECT_EQ(Code("btnSource"), "zh");
  EXPECT_EQ(TextOf(Button("btnSource")), "中文（简体）");
  EXPECT_EQ(Code("btnDest"), "en");
  EXPECT_EQ(TextOf(Button("btnDest")), "英语");
  ClickIn(Doc(), "btnChange");
  EXPECT_EQ(Code("btnSource"), "en");
  EXPECT_EQ(Code("btnDest"), "zh");
  EXPECT_EQ(TextOf(Button("btnDest")), "中文（简体）");
}

TEST_F(PickerTest, LeavingWithTheMouseOrTheFocusClosesWithoutChanges) {
  ClickIn(Doc(), "btnSource");
  Pm().UpdateLayout();
  const RECT rc = picker_->GetPos();
  host_->SendMessage(WM_MOUSEMOVE, 0, MAKELPARAM(rc.left + 10, rc.top + 10));
  EXPECT_TRUE(picker_->IsVisible());
  host_->SendMessage(WM_MOUSEMOVE, 0, MAKELPARAM(rc.right + 20, rc.bottom + 20));
  EXPECT_FALSE(picker_->IsVisible());
  EXPECT_EQ(Code("btnSource"), "en");

  ClickIn(Doc(), "btnSource");
  Pm().SetFocus(In(Doc(), "btnTrans"));
  EXPECT_FALSE(picker_->IsVisible());
  EXPECT_EQ(Code("btnSource"), "en");
}

TEST_F(PickerTest, OptionsOfOtherGroupsDoNotReachTheAnchor) {
  ClickIn(Doc(), "btnSource");
  // A selection change elsewhere in the window (the tab bar).
  auto* tab = static_cast<COptionUI*>(Pm().FindControl("opt_voice_trans"));
  Pm().SendNotify(tab, DUI_MSGTYPE_SELECTCHANGED);
  EXPECT_TRUE(picker_->IsVisible());
  EXPECT_EQ(Code("btnSource"), "en");
  EXPECT_EQ(TextOf(Button("btnSource")), "英语");
}

// A bare window holding a picker and two buttons, for markup edge cases.
class BareWnd : public CWindowImplBaseUI {
 public:
  std::string GetWindowClassName() const override { return "PickerBare"; }
  std::string GetSkinFile() override { return "bare.xml"; }
  CControlUI* CreateControl(const std::string& cls) override { return CreateWorkspaceControl(cls); }
};

class PickerMarkupTest : public uitest::UiTest {
 protected:
  SelectLanguage* Open(const std::string& options) {
    skin.Write("SelectLanger.xml", "<VerticalLayout>" + options + "</VerticalLayout>");
    skin.Write("bare.xml", R"(<Window size="400,300"><VerticalLayout>
      <Button name="a" code="x" text="X" height="30"/><Button name="b" code="y" text="Y" height="30"/>
      <SelectLanguage name="SelectLanguage" float="true" pos="0,0,200,100" visible="false"/>
      </VerticalLayout></Window>)");
    EXPECT_NE(wnd.Create(nullptr, "bare", UI_WNDSTYLE_FRAME, 0), nullptr);
    wnd.GetPaintManager().UpdateLayout();
    return SelectLanguage::Of(wnd.GetPaintManager().GetRoot());
  }
  void TearDown() override {
    if (IsWindow(wnd.GetHWND())) wnd.Close();
    uitest::WaitUntil([&] { return !IsWindow(wnd.GetHWND()); });
    UiTest::TearDown();
  }
  CControlUI* Find(const char* n) { return wnd.GetPaintManager().FindControl(n); }
  BareWnd wnd;
};

TEST_F(PickerMarkupTest, TheLaterOptionWithACodeWins) {
  SelectLanguage* picker = Open(R"(<Option name="o1" code="x" text="First"/><Option name="o2" code="x" text="Second"/>
      <HorizontalLayout><Option name="o3" code="y" text="Why"/></HorizontalLayout>)");
  ASSERT_NE(picker, nullptr);
  EXPECT_EQ(picker->OptionCount(), 2u);
  EXPECT_EQ(picker->OptionFor("x"), Find("o2"));
  picker->ShowAt(Find("a"), "y");
  EXPECT_TRUE(picker->IsVisible());
  // The shadowed option is not the picker's: its change is ignored.
  wnd.GetPaintManager().SendNotify(Find("o1"), DUI_MSGTYPE_SELECTCHANGED);
  EXPECT_EQ(Find("a")->GetText(), "X");
  wnd.GetPaintManager().SendNotify(Find("o2"), DUI_MSGTYPE_SELECTCHANGED);
  EXPECT_EQ(Find("a")->GetText(), "Second");
  EXPECT_FALSE(picker->IsVisible());
  EXPECT_EQ(Find("b")->GetText(), "Y");
}

TEST_F(PickerMarkupTest, WithoutOptionsOrAKnownCodeItNeverOpens) {
  SelectLanguage* picker = Open(R"(<Option name="o1" code="y" text="Why"/>)");
  ASSERT_NE(picker, nullptr);
  picker->ShowAt(Find("a"), "y");  // "x" is not listed
  EXPECT_FALSE(picker->IsVisible());
  picker->ShowAt(nullptr, "");
  EXPECT_FALSE(picker->IsVisible());
  wnd.GetPaintManager().SendNotify(Find("o1"), DUI_MSGTYPE_SELECTCHANGED);
  EXPECT_EQ(Find("a")->GetCustomAttribute("code"), "x");
}

}  // namespace
}  // namespace quillora::workspace::testing
