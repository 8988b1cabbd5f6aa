#include "app/shell/start_up.h"

#include <memory>

#include "app/shell/main_wnd.h"
#include "app/shell/test_driver.h"
#include "platform/single_instance.h"
#include "ui/UIlib.h"

namespace quillora {

using namespace DirectUI;

namespace {
constexpr char kDesktopId[] = "quillora";
}

int RunQuillora() {
  std::unique_ptr<platform::SingleInstance> guard = platform::SingleInstance::Acquire(kSingleInstanceName);
  if (guard->GetRole() == platform::SingleInstance::Role::Secondary) {
    // Only the running copy may act on its window; when it does not answer
    // (still starting, or going away) this copy ends silently.
    guard->RequestShow();
    return 0;
  }
  // Role Unavailable (no usable runtime folder): one copy cannot be
  // guaranteed, but the program still starts.
  EnsureApplication();
  CPaintManagerUI::SetInstance(nullptr);
  CPaintManagerUI::SetResourcePath(CPaintManagerUI::GetInstancePath() + "skin");
  // The launcher's name, so the desktop pairs the window with it; the theme's
  // icon when installed, else the skin's copy of it.
  SetApplicationIdentity(kDesktopId, "icons/quillora.png");
  MainWnd window;
  window.SetInstanceGuard(guard.get());
  window.Create(nullptr, "", UI_WNDSTYLE_FRAME, 0);
  window.CenterWindow();
  // A driving test starts where a user does: at the finished first frame.
  std::unique_ptr<TestDriver> driver;
  window.AfterFirstPaint([&] { driver = TestDriver::StartIfAsked(window); });
  window.ShowModal();
  // The listener thread may still hold the window's handle; posting to a
  // window that is gone does nothing.
  return 0;
}

}  // namespace quillora
