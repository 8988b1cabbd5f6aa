#include "ui/ui_menu.h"

#include <QGuiApplication>
#include <QIcon>
#include <QMenu>
#include <QScreen>
#include <QSystemTrayIcon>
#include <atomic>

#include "ui/qt/qt_host.h"
#include "ui/ui_attr.h"

namespace DirectUI {

// ---- menu skin controls ----

std::string CMenuUI::GetClass() const { return "MenuUI"; }
void* CMenuUI::GetInterface(const std::string& name) {
  if (name == "Menu") return this;
  return CVerticalLayoutUI::GetInterface(name);
}

CMenuElementUI::CMenuElementUI() {
  textStyle_ = DT_SINGLELINE | DT_VCENTER;
  rcTextPadding_ = {24, 0, 12, 0};
}
std::string CMenuElementUI::GetClass() const { return "MenuElementUI"; }
void* CMenuElementUI::GetInterface(const std::string& name) {
  if (name == "MenuElement") return this;
  return CLabelUI::GetInterface(name);
}
SIZE CMenuElementUI::EstimateSize(SIZE available) {
  SIZE s = CLabelUI::EstimateSize(available);
  if (s.cy == 0) s.cy = Scale(30);
  return s;
}
void CMenuElementUI::DoEvent(TEventUI& event) {
  if (TrackHot(event, hot_)) return;
  switch (event.Type) {
    case UIEVENT_BUTTONUP:
      if (IsEnabled() && rcItem_.Contains(event.ptMouse.x, event.ptMouse.y) && manager_) {
        if (auto* wnd = dynamic_cast<CMenuWnd*>(manager_->GetWindow())) wnd->ItemClicked(this);
      }
      return;
    case UIEVENT_KEYDOWN:
      if (event.wParam == static_cast<WPARAM>(VK_RETURN) && manager_) {
        if (auto* wnd = dynamic_cast<CMenuWnd*>(manager_->GetWindow())) wnd->ItemClicked(this);
      }
      return;
    default:
      CLabelUI::DoEvent(event);
  }
}
void CMenuElementUI::PaintBkColor(CRenderContext& ctx) {
  if (hot_ && IsEnabled()) ctx.FillRect(rcItem_, hotBk_);
  else CLabelUI::PaintBkColor(ctx);
  if (checked_) {
    RECT mark{rcItem_.left + Scale(8), rcItem_.top + rcItem_.Height() / 2 - Scale(3), rcItem_.left + Scale(14),
              rcItem_.top + rcItem_.Height() / 2 + Scale(3)};
    ctx.FillRect(mark, CurrentTextColor());
  }
}
void CMenuElementUI::SetAttribute(const std::string& name, const std::string& value) {
  if (name == "hotbkcolor") hotBk_ = ParseColor(value);
  else if (name == "checked") checked_ = ParseBool(value);
  else CLabelUI::SetAttribute(name, value);
}

// ---- menu window ----

namespace {
CMenuWnd* g_activeMenu = nullptr;  // UI thread only
}

CMenuWnd::CMenuWnd() = default;
CMenuWnd::~CMenuWnd() {
  if (g_activeMenu == this) g_activeMenu = nullptr;
}
CMenuWnd* CMenuWnd::GetActiveMenu() { return g_activeMenu; }

void CMenuWnd::Init(CMenuElementUI*, const std::string& xml, POINT point, CPaintManagerUI* ownerManager,
                    std::map<std::string, bool>* checkInfo, DWORD alignment) {
  xml_ = xml;
  point_ = point;
  alignment_ = alignment;
  ownerManager_ = ownerManager;
  checkInfo_ = checkInfo;
  ownerWindow_ = ownerManager ? ownerManager->GetPaintWindow() : nullptr;
  g_activeMenu = this;
  Create(ownerWindow_, "", WS_POPUP, 0);
  if (!GetHWND()) return;
  ShowWindow(true, true);
}

void CMenuWnd::InitWindow() {
  CControlUI* root = m_pm.GetRoot();
  if (!root) return;
  auto* box = static_cast<CContainerUI*>(root->GetInterface("Container"));
  if (checkInfo_ && box) {
    for (auto* c : m_pm.FindSubControlsByClass(root, "MenuElementUI")) {
      auto it = checkInfo_->find(c->GetName());
      if (it != checkInfo_->end()) static_cast<CMenuElementUI*>(c)->SetChecked(it->second);
    }
  }
  // The menu is as tall as its items and as wide as the skin says (or 160).
  int w = root->GetFixedWidth() > 0 ? root->GetFixedWidth() : m_pm.ScaleValue(160);
  int h = 0;
  if (box) {
    RECT inset = box->GetInset();
    h = inset.top + inset.bottom;
    int visible = 0;
    for (int i = 0; i < box->GetCount(); ++i) {
      CControlUI* c = box->GetItemAt(i);
      if (!c->IsVisible() || c->IsFloat()) continue;
      RECT p = c->GetPadding();
      SIZE s = c->EstimateSize({w, 9999});
      h += (s.cy > 0 ? s.cy : m_pm.ScaleValue(30)) + p.top + p.bottom;
      ++visible;
    }
    if (visible > 1) h += box->GetChildPadding() * (visible - 1);
  }
  if (root->GetFixedHeight() > 0) h = root->GetFixedHeight();
  h = std::max(h, 1);
  int x = (alignment_ & eMenuAlignment_Right) ? point_.x - w : point_.x;
  int y = (alignment_ & eMenuAlignment_Bottom) ? point_.y - h : point_.y;
  // Keep the menu on the screen.
  if (QScreen* s = QGuiApplication::screenAt(QPoint(point_.x, point_.y))) {
    QRect a = s->availableGeometry();
    x = std::clamp(x, a.left(), std::max(a.left(), a.right() - w));
    y = std::clamp(y, a.top(), std::max(a.top(), a.bottom() - h));
  }
  Host()->setGeometry(x, y, w, h);
}

void CMenuWnd::Notify(TNotifyUI& msg) { CWindowImplBaseUI::Notify(msg); }

LRESULT CMenuWnd::HandleMessage(UINT msg, WPARAM wParam, LPARAM lParam) {
  if (msg == WM_KEYDOWN && wParam == static_cast<WPARAM>(VK_ESCAPE)) {
    Close(0);
    return 0;
  }
  return CWindowImplBaseUI::HandleMessage(msg, wParam, lParam);
}

void CMenuWnd::ItemClicked(CMenuElementUI* item) {
  if (clicking_) return;
  clicking_ = true;
  HWND self = GetHWND();
  ShowWindow(false);
  // Delivered now, while the item (the sender) still exists. The owner's
  // handler may run a modal loop or even close the owner (and this menu with
  // it), so only locals are used afterwards.
  if (ownerManager_ && IsWindow(ownerWindow_)) ownerManager_->SendNotify(item, DUI_MSGTYPE_MENU, 0, 0);
  if (IsWindow(self)) DirectUI::PostMessage(self, WM_CLOSE, 0, 0);
}

void CMenuWnd::OnFinalMessage(HWND hwnd) {
  CWindowImplBaseUI::OnFinalMessage(hwnd);
  delete this;
}

// ---- tray icon ----

namespace {
std::atomic<int> g_trayCount{0};

// Fills `menu` with `items`; a chosen item posts WM_COMMAND to `owner`.
void FillMenu(QMenu* menu, const std::vector<CPopupMenu::Item>& items, HWND owner) {
  for (const CPopupMenu::Item& it : items) {
    if (it.command == 0 && it.text.empty()) {
      menu->addSeparator();
      continue;
    }
    QAction* a = menu->addAction(ToQ(it.text));
    const UINT cmd = it.command;
    QObject::connect(a, &QAction::triggered, menu, [owner, cmd]() { DirectUI::PostMessage(owner, WM_COMMAND, cmd, 0); });
  }
}

}  // namespace

class CTrayIconImpl {
 public:
  std::unique_ptr<QMenu> menu;  // outlives the icon that shows it
  std::unique_ptr<QSystemTrayIcon> icon;
  std::vector<CPopupMenu::Item> menuItems;
  HWND owner = nullptr;
  UINT message = 0;
};

CTrayIcon::CTrayIcon() : impl_(std::make_unique<CTrayIconImpl>()) {}
CTrayIcon::~CTrayIcon() { Remove(); }

bool CTrayIcon::IsTrayAvailable() {
  EnsureApplication();
  // Qt asks the session bus for a StatusNotifier watcher with a host first,
  // then (on X11) for a legacy tray; the offscreen platform has neither.
  return QSystemTrayIcon::isSystemTrayAvailable();
}

namespace {

std::unique_ptr<QSystemTrayIcon> CreateDesktopIcon(CTrayIconImpl* impl) {
  auto icon = std::make_unique<QSystemTrayIcon>();
  QObject::connect(icon.get(), &QSystemTrayIcon::activated, [impl](QSystemTrayIcon::ActivationReason r) {
    if (r == QSystemTrayIcon::Trigger || r == QSystemTrayIcon::DoubleClick)
      DirectUI::PostMessage(impl->owner, impl->message, 0, WM_LBUTTONDOWN);
    else if (r == QSystemTrayIcon::Context && !impl->menu)  // the desktop shows the menu itself
      DirectUI::PostMessage(impl->owner, impl->message, 0, WM_RBUTTONDOWN);
  });
  return icon;
}

}  // namespace

void CTrayIcon::SetMenu(const CPopupMenu& menu) { impl_->menuItems = menu.Items(); }

int CTrayIcon::LiveCount() { return g_trayCount.load(); }

bool CTrayIcon::Add(HWND owner, UINT callbackMessage, const std::string& iconFile, const std::string& tooltip) {
  if (added_) return true;  // one icon per record, as the desktop keeps it
  impl_->owner = owner;
  impl_->message = callbackMessage;
  added_ = true;
  ++g_trayCount;
  if (!IsTrayAvailable()) return true;  // recorded; nothing to show on this desktop
  // One desktop icon per record, shown and hidden again: a StatusNotifier
  // item made anew after an earlier one went away is not always taken up
  // by the host, which would leave a hidden window without its icon.
  if (!impl_->icon) impl_->icon = CreateDesktopIcon(impl_.get());
  impl_->icon->setIcon(IconFromFile(iconFile));
  impl_->icon->setToolTip(ToQ(tooltip));
  std::unique_ptr<QMenu> menu;
  if (!impl_->menuItems.empty()) {
    menu = std::make_unique<QMenu>();
    FillMenu(menu.get(), impl_->menuItems, owner);
  }
  impl_->icon->setContextMenu(menu.get());
  impl_->menu = std::move(menu);  // after the icon let go of the old one
  impl_->icon->show();
  return true;
}

void CTrayIcon::Remove() {
  if (!added_) return;
  added_ = false;
  --g_trayCount;
  if (impl_->icon) impl_->icon->hide();
}

bool CTrayIcon::IsShownOnDesktop() const { return impl_->icon && impl_->icon->isVisible(); }

void CTrayIcon::SimulateClick(bool right) {
  if (!added_) return;
  DirectUI::PostMessage(impl_->owner, impl_->message, 0, right ? WM_RBUTTONDOWN : WM_LBUTTONDOWN);
}

// ---- native popup menu ----

void CPopupMenu::AppendItem(UINT command, const std::string& text) { items_.push_back({command, text}); }
void CPopupMenu::AppendSeparator() { items_.push_back({0, std::string()}); }

bool CPopupMenu::TrackPopupMenu(POINT pt, HWND owner) {
  CWindowHost* host = HostFromHandle(owner);
  if (!host) return false;
  auto* menu = new QMenu(host);
  menu->setAttribute(Qt::WA_DeleteOnClose);
  FillMenu(menu, items_, owner);
  menu->popup(QPoint(pt.x, pt.y));
  return true;
}

}  // namespace DirectUI
