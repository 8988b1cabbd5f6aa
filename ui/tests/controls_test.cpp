// Control-level behaviour that windows rely on: list and tab selection kept
// consistent across removals, attribute value parsing, window geometry and
// the life of owned windows.
#include "ui/qt/qt_host.h"
#include "ui/tests/ui_test_support.h"
#include "ui/ui_attr.h"

using namespace DirectUI;
using uitest::UiTest;
using uitest::WaitUntil;

namespace {

class ControlsTest : public UiTest {
 protected:
  CControlUI* Build(const std::string& xml) {
    pm.SetDPIScale(100);
    CDialogBuilder b;
    CControlUI* root = b.CreateFromText(xml, "controls.xml", nullptr, &pm);
    EXPECT_NE(root, nullptr) << b.GetLastError();
    if (root) {
      pm.AttachDialog(root);
      pm.SetClientSizeForTest({200, 200});
    }
    return root;
  }
  CPaintManagerUI pm;
};

class PlainWnd : public CWindowImplBaseUI {
 public:
  std::string GetWindowClassName() const override { return "PlainWnd"; }
  std::string GetSkinFile() override { return "plain.xml"; }
  void OnFinalMessage(HWND hwnd) override {
    ++finals;
    CWindowImplBaseUI::OnFinalMessage(hwnd);
  }
  int finals = 0;
};

}  // namespace

TEST_F(ControlsTest, ListSelectionFollowsRemovals) {
  Build(R"(<Window><List name="ls"><ListLabelElement text="a"/><ListLabelElement text="b"/>
      <ListLabelElement text="c"/><ListLabelElement text="d"/></List></Window>)");
  uitest::Recorder rec;
  pm.AddNotifier(&rec);
  auto* list = static_cast<CListUI*>(pm.FindControl("ls"));
  ASSERT_TRUE(list->SelectItem(2));
  EXPECT_EQ(rec.seen.back().type, "itemselect");
  EXPECT_EQ(rec.seen.back().wParam, 2u);
  EXPECT_FALSE(list->SelectItem(4));
  EXPECT_EQ(list->GetCurSel(), 2);
  list->RemoveAt(0);  // an earlier row goes: the selection moves with its row
  EXPECT_EQ(list->GetCurSel(), 1);
  EXPECT_EQ(list->GetItemAt(list->GetCurSel())->GetText(), "c");
  list->RemoveAt(1);  // the selected row goes: nothing is selected
  EXPECT_EQ(list->GetCurSel(), -1);
  list->RemoveAll();
  EXPECT_EQ(list->GetCount(), 0);
  EXPECT_FALSE(list->SelectItem(0));
  pm.RemoveNotifier(&rec);
}

TEST_F(ControlsTest, ComboSelectionAndShownTextFollowRemovals) {
  Build(R"(<Window><Combo name="cb"><ListLabelElement text="a"/><ListLabelElement text="b"/>
      <ListLabelElement text="c"/></Combo></Window>)");
  auto* combo = static_cast<CComboUI*>(pm.FindControl("cb"));
  ASSERT_NE(combo, nullptr);
  ASSERT_TRUE(combo->SelectItem(2, false));
  EXPECT_EQ(combo->GetText(), "c");
  EXPECT_TRUE(combo->RemoveAt(0));
  EXPECT_EQ(combo->GetCurSel(), 1);
  EXPECT_EQ(combo->GetText(), "c") << "the combo keeps showing the row the user chose";
  EXPECT_TRUE(combo->Remove(combo->GetItemAt(1)));
  EXPECT_EQ(combo->GetCurSel(), -1);
  EXPECT_EQ(combo->GetText(), "");
  combo->RemoveAll();
  EXPECT_EQ(combo->GetCount(), 0);
}

TEST_F(ControlsTest, TabRemovalKeepsAValidSelection) {
  Build(R"(<Window><TabLayout name="tab"><Control name="t0"/><Control name="t1"/><Control name="t2"/></TabLayout></Window>)");
  auto* tab = static_cast<CTabLayoutUI*>(pm.FindControl("tab"));
  ASSERT_TRUE(tab->SelectItem(2));
  tab->Remove(pm.FindControl("t0"));
  EXPECT_EQ(tab->GetCurSel(), 1);
  EXPECT_TRUE(pm.FindControl("t2")->IsVisible());
  tab->Remove(pm.FindControl("t2"));  // the shown item goes: its neighbour is shown
  EXPECT_EQ(tab->GetCurSel(), 0);
  EXPECT_TRUE(pm.FindControl("t1")->IsVisible());
  tab->Remove(pm.FindControl("t1"));
  EXPECT_EQ(tab->GetCurSel(), -1);
}

TEST_F(ControlsTest, HidingAContainerHidesDescendantsAndDropsFocus) {
  Build(R"(<Window><VerticalLayout><VerticalLayout name="box"><Button name="inner"/></VerticalLayout></VerticalLayout></Window>)");
  CControlUI* inner = pm.FindControl("inner");
  pm.SetFocus(inner);
  ASSERT_EQ(pm.GetFocus(), inner);
  pm.FindControl("box")->SetVisible(false);
  EXPECT_FALSE(inner->IsVisible());
  EXPECT_TRUE(inner->IsOwnVisible());
  EXPECT_EQ(pm.GetFocus(), nullptr);
  pm.FindControl("box")->SetVisible(true);
  EXPECT_TRUE(inner->IsVisible());
  // Disabled or hidden controls cannot take the focus.
  inner->SetEnabled(false);
  pm.SetFocus(inner);
  EXPECT_EQ(pm.GetFocus(), nullptr);
}

TEST_F(ControlsTest, AttributeValuesParseOrFailSafely) {
  EXPECT_EQ(ParseColor("#FF262626"), 0xFF262626u);
  EXPECT_EQ(ParseColor("#262626"), 0xFF262626u);  // no alpha given: opaque
  EXPECT_EQ(ParseColor("0x80FF0000"), 0x80FF0000u);
  EXPECT_EQ(ParseColor("garbage"), 0u);
  EXPECT_EQ(ParseRect("1,2"), (RECT{1, 2, 0, 0}));
  EXPECT_EQ(ParseRect("10, 20, 30, 40"), (RECT{10, 20, 30, 40}));
  EXPECT_EQ(ParseRect(""), (RECT{}));
  auto list = ParseAttributeList(R"(a="1" b='x y' c=unquoted d="never")", '"');
  ASSERT_EQ(list.size(), 2u);  // stops at the malformed pair rather than guessing
  EXPECT_EQ(list[1], (std::pair<std::string, std::string>{"b", "x y"}));
  EXPECT_TRUE(ParseAttributeList(R"(a="unterminated)", '"').size() <= 1);
}

TEST_F(ControlsTest, WindowSizeCentringAndProperties) {
  skin.Write("plain.xml", R"(<Window size="300,200"><VerticalLayout/></Window>)");
  PlainWnd a;
  ASSERT_NE(a.Create(nullptr, "title", UI_WNDSTYLE_DIALOG, 0), nullptr);
  a.GetPaintManager().SetDPIScale(100);
  EXPECT_EQ(a.GetWindowText(), "title");
  EXPECT_FALSE(a.IsVisible());  // not WS_VISIBLE
  RECT rc = a.GetWindowRect();
  EXPECT_EQ(rc.Width(), 300);
  EXPECT_EQ(rc.Height(), 200);
  a.CenterWindow();
  a.ShowWindow(true, false);
  EXPECT_TRUE(a.IsVisible());
  a.MoveWindow(40, 50);
  EXPECT_EQ(a.GetWindowRect().left, 40);
  a.ShowWindow(false);
  EXPECT_FALSE(a.IsVisible());

  PlainWnd b;
  ASSERT_NE(b.Create(nullptr, "", UI_WNDSTYLE_DIALOG, 0, 0, 0, 420, 310), nullptr);
  EXPECT_EQ(b.GetWindowRect().Width(), 420);  // an explicit size beats the skin's

  std::intptr_t v = 0;
  EXPECT_FALSE(a.GetProp("{marker}", v));
  a.SetProp("{marker}", -1);
  ASSERT_TRUE(a.GetProp("{marker}", v));
  EXPECT_EQ(v, -1);
  a.Close();
  b.Close();
  EXPECT_TRUE(WaitUntil([&] { return !IsWindow(a.GetHWND()) && !IsWindow(b.GetHWND()); }));
  EXPECT_EQ(a.finals, 1);
}

TEST_F(ControlsTest, ClosingAnOwnerDestroysItsOwnedWindowsFirst) {
  skin.Write("plain.xml", R"(<Window size="100,100"><VerticalLayout/></Window>)");
  PlainWnd owner, popup;
  ASSERT_NE(owner.Create(nullptr, "", UI_WNDSTYLE_FRAME, 0), nullptr);
  ASSERT_NE(popup.Create(owner.GetHWND(), "", UI_WNDSTYLE_DIALOG, 0), nullptr);
  popup.ShowWindow(true, false);
  owner.Close(1);
  ASSERT_TRUE(WaitUntil([&] { return !IsWindow(owner.GetHWND()); }));
  EXPECT_FALSE(IsWindow(popup.GetHWND()));
  EXPECT_EQ(popup.finals, 1);
  EXPECT_EQ(owner.finals, 1);
  // Messages for either are refused from now on.
  EXPECT_FALSE(popup.PostMessage(WM_USER, 0, 0));
}

TEST_F(ControlsTest, WindowObjectDeletedWhileOpenTakesItsWindowDown) {
  skin.Write("plain.xml", R"(<Window size="100,100"><VerticalLayout><Edit name="e"/></VerticalLayout></Window>)");
  HWND hwnd = nullptr;
  {
    PlainWnd w;
    ASSERT_NE(w.Create(nullptr, "", UI_WNDSTYLE_FRAME, 0), nullptr);
    hwnd = w.GetHWND();
    w.GetPaintManager().SendNotify(w.GetPaintManager().GetRoot(), "late", 0, 0, true);
  }
  EXPECT_FALSE(IsWindow(hwnd));
  uitest::Drain();  // the queued record and deferred deletes find nothing alive
  EXPECT_FALSE(PostMessage(hwnd, WM_USER, 0, 0));
}
