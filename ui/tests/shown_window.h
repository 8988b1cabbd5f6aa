#pragma once
// Showing and closing a test window the way the keyboard tests need it: the
// window active and no key held from an earlier test.
#include "ui/qt/qt_host.h"
#include "ui/tests/ui_test_support.h"

namespace uitest {

// Shows a created window, lays it out and waits until it is the active
// window, with no key held from an earlier test.
inline ::testing::AssertionResult ShowActive(DirectUI::CWindowImplBaseUI& w) {
  w.ShowWindow(true);
  w.GetPaintManager().UpdateLayout();
  if (!WaitUntil([&] { return w.Host()->isActiveWindow(); })) return ::testing::AssertionFailure() << "never active";
  DirectUI::ReleaseAllKeys();
  return ::testing::AssertionSuccess();
}

// Closes a window if it is still there and waits until it is gone.
inline void CloseAndWait(DirectUI::CWindowWnd& w) {
  if (DirectUI::IsWindow(w.GetHWND())) w.Close();
  WaitUntil([&] { return !DirectUI::IsWindow(w.GetHWND()); });
}

}  // namespace uitest
