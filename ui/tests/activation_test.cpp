// A second start brings the running window back, and its open modal popup
// in front of it.
#include <QApplication>
#include <QTimer>

#include "ui/qt/qt_host.h"
#include "ui/tests/ui_test_support.h"

using namespace DirectUI;
using uitest::UiTest;
using uitest::WaitUntil;

namespace {

class PlainWnd : public CWindowImplBaseUI {
 public:
  std::string GetWindowClassName() const override { return "PlainWnd"; }
  std::string GetSkinFile() override { return "plain.xml"; }
};

class ActivationTest : public UiTest {
 protected:
  void SetUp() override {
    UiTest::SetUp();
    skin.Write("plain.xml", R"(<Window size="200,120"><VerticalLayout bkcolor="#FFFFFFFF"/></Window>)");
  }
  static void Open(PlainWnd& w, HWND owner) {
    ASSERT_NE(w.Create(owner, "", UI_WNDSTYLE_DIALOG, 0), nullptr);
  }
  static bool IsActive(PlainWnd& w) { return QApplication::activeWindow() == w.Host(); }
};

}  // namespace

TEST_F(ActivationTest, MinimisedOwnerComesBackWithInnermostModalInFront) {
  PlainWnd main, other;
  Open(main, nullptr);
  Open(other, nullptr);
  main.ShowWindow(true);
  other.ShowWindow(true);
  HWND found = nullptr, foundForOther = nullptr;
  bool mainRestored = false, innerActive = false;
  QTimer::singleShot(0, [&] {
    PlainWnd outer;
    Open(outer, main.GetHWND());
    QTimer::singleShot(0, [&] {
      PlainWnd inner;
      Open(inner, outer.GetHWND());
      QTimer::singleShot(0, [&] {
        main.SendMessage(WM_SYSCOMMAND, SC_MINIMIZE, 0);
        other.SetForeground();  // the user works elsewhere meanwhile
        BringToFrontWithPopup(main.GetHWND());
        found = GetLastActivePopup(main.GetHWND());
        foundForOther = GetLastActivePopup(other.GetHWND());
        mainRestored = !main.IsMinimized() && main.IsVisible();
        innerActive = WaitUntil([&] { return IsActive(inner); });
        inner.Close();
      });
      inner.ShowModal();
      EXPECT_EQ(GetLastActivePopup(main.GetHWND()), outer.GetHWND());
      outer.Close();
    });
    outer.ShowModal();
    EXPECT_EQ(GetLastActivePopup(main.GetHWND()), main.GetHWND());
    main.Close();
  });
  main.ShowModal();
  EXPECT_NE(found, nullptr);
  EXPECT_NE(found, main.GetHWND());
  EXPECT_EQ(foundForOther, other.GetHWND());  // a modal of another window is not its popup
  EXPECT_TRUE(mainRestored);
  EXPECT_TRUE(innerActive);
  other.Close();
}

TEST_F(ActivationTest, GoneWindowIsLeftAlone) {
  PlainWnd w;
  Open(w, nullptr);
  HWND gone = w.GetHWND();
  w.Close();
  ASSERT_TRUE(WaitUntil([&] { return !IsWindow(gone); }));
  EXPECT_FALSE(SetForegroundWindow(gone));
  BringToFrontWithPopup(gone);  // nothing to do, nothing to crash
  EXPECT_EQ(GetLastActivePopup(gone), gone);
}
