// The tray icon on a freedesktop desktop: with a StatusNotifier host on the
// session bus the icon registers as an item that carries the application's
// icon, its tooltip and its menu, and the menu's items reach the owner.
// Without any tray the icon is only recorded. Each case runs in a process of
// its own (Qt decides once per process which tray it talks to).
#include <cstdlib>

#include "ui/tests/tray_host.h"
#include "ui/tests/ui_test_support.h"

using namespace DirectUI;
using quillora::testing_support::PrivateTrayHost;
using uitest::WaitUntil;

namespace {

constexpr UINT kTrayMessage = WM_USER + 123;
constexpr UINT kExitCommand = 4097;

class OwnerWnd : public CWindowImplBaseUI {
 public:
  std::string GetWindowClassName() const override { return "OwnerWnd"; }
  std::string GetSkinFile() override { return "owner.xml"; }
  LRESULT HandleMessage(UINT msg, WPARAM wParam, LPARAM lParam) override {
    if (msg == WM_COMMAND) commands.push_back(static_cast<UINT>(wParam));
    if (msg == kTrayMessage && lParam == WM_LBUTTONDOWN) ++trayClicks;
    return CWindowImplBaseUI::HandleMessage(msg, wParam, lParam);
  }
  std::vector<UINT> commands;
  int trayClicks = 0;
};

class TrayTest : public uitest::UiTest {
 protected:
  // The application starts in the test, once its desktop is chosen.
  void SetUp() override {}
  void OpenOwner() {
    skin.Write("owner.xml", R"(<Window size="200,100"><VerticalLayout/></Window>)");
    owner_.Create(nullptr, "", UI_WNDSTYLE_FRAME, 0);
    ASSERT_TRUE(IsWindow(owner_.GetHWND()));
  }
  void TearDown() override {
    tray_.Remove();
    if (QCoreApplication::instance() && IsWindow(owner_.GetHWND())) owner_.Close();
    if (QCoreApplication::instance()) uitest::UiTest::TearDown();
  }
  // The application would lose its X display with the private desktop and
  // end the process; it goes first, cleanly.
  void EndApplicationBeforeTheDesktop() {
    tray_.Remove();
    owner_.Close();
    uitest::Drain();
    delete QCoreApplication::instance();
  }

  OwnerWnd owner_;
  CTrayIcon tray_;
};

TEST_F(TrayTest, ItemRegistersWithTheStatusNotifierHostWithIconTooltipAndMenu) {
  if (!PrivateTrayHost::MissingTools().empty()) GTEST_SKIP() << PrivateTrayHost::MissingTools();
  PrivateTrayHost host(QUILLORA_SNI_WATCHER);
  ASSERT_TRUE(host.Ready()) << host.Problem();
  host.EnterEnvironment();  // before Qt starts
  OpenOwner();
  SetApplicationIdentity("quillora-test-no-such-theme-icon", QUILLORA_APP_ICON);
  ASSERT_TRUE(CTrayIcon::IsTrayAvailable()) << "a StatusNotifier host is on the bus";

  CPopupMenu menu;
  menu.AppendItem(kExitCommand, "退出");
  tray_.SetMenu(menu);
  ASSERT_TRUE(tray_.Add(owner_.GetHWND(), kTrayMessage, "", "Quillora"));
  EXPECT_TRUE(tray_.IsShownOnDesktop());

  std::string menuLine;
  ASSERT_TRUE(WaitUntil([&] { return !(menuLine = host.WaitForLine("menu ", {})).empty(); }, 60000))
      << "no item registered with the watcher";
  EXPECT_NE(menuLine.find("退出"), std::string::npos) << menuLine;
  EXPECT_EQ(host.WaitForLine("tooltip ", {}), "tooltip Quillora");
  // The application's icon, as pixels (no theme has it here).
  const std::string icon = host.WaitForLine("icon ", {});
  const bool named = icon.rfind("icon |", 0) != 0;
  const bool pixels = icon.find("|pixmaps=0") == std::string::npos;
  EXPECT_TRUE(named || pixels) << icon;

  // The host's clicks reach the owner: on the icon as a left click, on the
  // menu item as its command.
  ASSERT_TRUE(host.Send("activate"));
  EXPECT_TRUE(WaitUntil([&] { return owner_.trayClicks > 0; }, 60000));
  ASSERT_TRUE(host.Send("click 退出"));
  EXPECT_TRUE(WaitUntil([&] { return !owner_.commands.empty(); }, 60000));
  EXPECT_EQ(owner_.commands, std::vector<UINT>{kExitCommand});

  // Hidden and shown again, the icon registers again with its menu.
  const size_t reported = host.LineCount();
  tray_.Remove();
  ASSERT_TRUE(tray_.Add(owner_.GetHWND(), kTrayMessage, "", "Quillora"));
  ASSERT_TRUE(WaitUntil([&] { return !(menuLine = host.WaitForLine("menu ", {}, reported)).empty(); }, 60000))
      << testing::PrintToString(host.Lines());
  EXPECT_NE(menuLine.find("退出"), std::string::npos) << testing::PrintToString(host.Lines());
  EndApplicationBeforeTheDesktop();
}

TEST_F(TrayTest, WithoutAnyTrayTheIconIsOnlyRecorded) {
  // No session bus (so no StatusNotifier host) and offscreen (no X tray).
  ::setenv("DBUS_SESSION_BUS_ADDRESS", "unix:path=/nonexistent/quillora-test-bus", 1);
  OpenOwner();
  EXPECT_FALSE(CTrayIcon::IsTrayAvailable());
  EXPECT_TRUE(tray_.Add(owner_.GetHWND(), kTrayMessage, "", "Quillora"));
  EXPECT_TRUE(tray_.IsAdded());
  EXPECT_FALSE(tray_.IsShownOnDesktop());
}

}  // namespace
