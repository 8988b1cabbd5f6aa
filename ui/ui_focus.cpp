// Keyboard navigation of a window: the Tab order and the focus ring.
#include <algorithm>

#include "ui/ui_manager.h"

namespace DirectUI {

namespace {

CControlUI* CollectTabStop(CControlUI* c, void* data) {
  if (c->IsTabStop() && c->IsKeyboardEnabled()) static_cast<std::vector<CControlUI*>*>(data)->push_back(c);
  return nullptr;
}

}  // namespace

std::vector<CControlUI*> CPaintManagerUI::GetTabOrder() const {
  std::vector<CControlUI*> order;
  // Hidden or disabled containers take their children out with them.
  if (root_) root_->FindControl(CollectTabStop, &order, UIFIND_VISIBLE | UIFIND_ENABLED | UIFIND_ME_FIRST);
  return order;
}

bool CPaintManagerUI::MoveFocus(bool forward) {
  std::vector<CControlUI*> order = GetTabOrder();
  if (order.empty()) return false;
  auto it = std::find(order.begin(), order.end(), focus_);
  CControlUI* next = nullptr;
  if (it == order.end()) next = forward ? order.front() : order.back();
  else if (forward) next = (it + 1 == order.end()) ? order.front() : *(it + 1);
  else next = (it == order.begin()) ? order.back() : *(it - 1);
  SetFocus(next);
  ShowFocusRing(true);
  return true;
}

bool CPaintManagerUI::HandleNavigationKey(int vk) {
  if (vk != VK_TAB) return false;
  if (focus_ && focus_->WantsTab()) return false;
  return MoveFocus(!IsKeyDown(VK_SHIFT));
}

void CPaintManagerUI::ShowFocusRing(bool show) {
  if (focusRing_ == show) return;
  focusRing_ = show;
  if (focus_) focus_->Invalidate();
}

}  // namespace DirectUI
