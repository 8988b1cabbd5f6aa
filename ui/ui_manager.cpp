#include "ui/ui_manager.h"

#include <QCoreApplication>
#include <QCursor>
#include <QDir>
#include <QGuiApplication>
#include <QScreen>
#include <QTextDocument>
#include <cmath>
#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <mutex>

#include "ui/qt/qt_host.h"
#include "ui/ui_attr.h"
#include "ui/ui_containers.h"
#include "ui/ui_window.h"

namespace DirectUI {

namespace {

// Hands one input event to a control; the point and wParam stay zero where
// the event has none.
void SendEvent(CControlUI* to, int type, POINT pt = {}, WPARAM wParam = 0) {
  TEventUI e;
  e.Type = type;
  e.pSender = to;
  e.ptMouse = pt;
  e.wParam = wParam;
  to->Event(e);
}

// Subscriber lists: a subscriber is listed at most once; false where there
// is nothing to do.
template <typename T>
bool AddOnce(std::vector<T*>& list, T* item) {
  if (!item || std::find(list.begin(), list.end(), item) != list.end()) return false;
  list.push_back(item);
  return true;
}
template <typename T>
bool RemoveOne(std::vector<T*>& list, T* item) {
  auto it = std::find(list.begin(), list.end(), item);
  if (it == list.end()) return false;
  list.erase(it);
  return true;
}

std::mutex g_pathMutex;
std::string g_resourcePath;

CControlUI* FindByName(CControlUI* c, void* data) {
  return c->GetName() == *static_cast<const std::string*>(data) ? c : nullptr;
}
CControlUI* FindHit(CControlUI* c, void*) { return c; }

struct Collector {
  std::vector<CControlUI*>* out;
};
CControlUI* CollectAll(CControlUI* c, void* data) {
  static_cast<Collector*>(data)->out->push_back(c);
  return nullptr;
}

int ScreenScale() {
  if (!QGuiApplication::instance()) return 100;
  QScreen* s = QGuiApplication::primaryScreen();
  if (!s) return 100;
  int percent = static_cast<int>(s->logicalDotsPerInch() * 100.0 / 96.0 + 0.5);
  // Steps of 25 %, as desktops offer them.
  percent = (percent + 12) / 25 * 25;
  return std::clamp(percent, 100, 400);
}

}  // namespace

// ---- paths ----

void CPaintManagerUI::SetInstance(void*) {}

std::string CPaintManagerUI::GetInstancePath() {
  std::error_code ec;
  auto exe = std::filesystem::read_symlink("/proc/self/exe", ec);
  if (ec) return "./";
  std::string dir = exe.parent_path().string();
  if (dir.empty() || dir.back() != '/') dir += '/';
  return dir;
}

void CPaintManagerUI::SetResourcePath(const std::string& path) {
  std::lock_guard<std::mutex> lock(g_pathMutex);
  g_resourcePath = path;
  if (!g_resourcePath.empty() && g_resourcePath.back() != '/' && g_resourcePath.back() != '\\')
    g_resourcePath += '/';
}

std::string CPaintManagerUI::GetResourcePath() {
  std::lock_guard<std::mutex> lock(g_pathMutex);
  return g_resourcePath;
}

std::string CPaintManagerUI::ResolvePath(const std::string& file) const {
  if (file.empty()) return file;
  std::string f = file;
  std::replace(f.begin(), f.end(), '\\', '/');
  if (!f.empty() && f[0] == '/') return f;
  return GetResourcePath() + f;
}

// ---- life ----

CPaintManagerUI::CPaintManagerUI() : impl_(std::make_unique<CPaintManagerImpl>(this)) {
  defaultFont_.name = "Noto Sans CJK SC";
  defaultFont_.size = 12;
}

CPaintManagerUI::~CPaintManagerUI() { ResetTree(); }

void CPaintManagerUI::ResetTree() {
  impl_->KillAll();
  CControlUI* root = root_;
  root_ = nullptr;
  focus_ = hover_ = captured_ = nullptr;
  delete root;  // children reap themselves through ReapObjects
  names_.clear();
  optionGroups_.clear();
  std::lock_guard<std::mutex> lock(asyncMutex_);
  asyncQueue_.clear();
}

void CPaintManagerUI::Init(CWindowWnd* window) {
  window_ = window;
  paintHwnd_.store(window ? window->GetHWND() : nullptr);
  if (!dpiFixed_) dpiScale_ = ScreenScale();
}

HWND CPaintManagerUI::GetPaintWindow() const { return window_ ? window_->GetHWND() : nullptr; }

// ---- tree ----

bool CPaintManagerUI::AttachDialog(CControlUI* root) {
  if (!root) return false;
  if (root_ && root_ != root) ResetTree();
  root_ = root;
  InitControls(root, nullptr);
  root->Init();
  NeedUpdate();
  return true;
}

bool CPaintManagerUI::InitControls(CControlUI* control, CControlUI* parent) {
  if (!control) return false;
  // Names first: a control's init step may look up its descendants by name.
  std::vector<CControlUI*> all;
  Collector col{&all};
  control->FindControl(CollectAll, &col, UIFIND_ALL);
  for (auto* c : all) {
    if (c->GetName().empty()) continue;
    bool known = false;
    auto range = names_.equal_range(c->GetName());
    for (auto it = range.first; it != range.second; ++it) known = known || it->second == c;
    if (!known) names_.emplace(c->GetName(), c);
  }
  control->SetManager(this, parent, true);
  return true;
}

void CPaintManagerUI::ReapObjects(CControlUI* control) {
  if (!control) return;
  if (control == focus_) focus_ = nullptr;
  if (control == hover_) hover_ = nullptr;
  if (control == captured_) captured_ = nullptr;
  if (control == root_) root_ = nullptr;
  impl_->KillTimers(control);
  AccessibleControlGone(control);
  for (auto it = names_.begin(); it != names_.end();) {
    if (it->second == control) it = names_.erase(it);
    else ++it;
  }
  for (auto& [g, members] : optionGroups_) members.erase(std::remove(members.begin(), members.end(), control), members.end());
  // Queued notifications from a control that is gone would carry a dangling sender.
  std::lock_guard<std::mutex> lock(asyncMutex_);
  for (auto& n : asyncQueue_)
    if (n.pSender == control) n.sType.clear();
}

CControlUI* CPaintManagerUI::FindControl(const std::string& name) const {
  auto it = names_.find(name);
  if (it != names_.end()) return it->second;
  return nullptr;
}

CControlUI* CPaintManagerUI::FindControl(POINT pt) const {
  if (!root_) return nullptr;
  return root_->FindControl(FindHit, &pt, UIFIND_VISIBLE | UIFIND_HITTEST);
}

CControlUI* CPaintManagerUI::FindSubControlByName(CControlUI* parent, const std::string& name) const {
  if (!parent) parent = root_;
  if (!parent) return nullptr;
  std::string n = name;
  return parent->FindControl(FindByName, &n, UIFIND_ALL | UIFIND_ME_FIRST);
}

std::vector<CControlUI*> CPaintManagerUI::FindSubControlsByClass(CControlUI* parent, const std::string& className) {
  std::vector<CControlUI*> out;
  if (!parent) parent = root_;
  if (!parent) return out;
  std::vector<CControlUI*> all;
  Collector col{&all};
  parent->FindControl(CollectAll, &col, UIFIND_ALL | UIFIND_ME_FIRST);
  // Tree order: a container before its children.
  for (auto* c : all)
    if (EqualsNoCase(c->GetClass(), className)) out.push_back(c);
  return out;
}

CControlUI* CPaintManagerUI::FindSubControlByClass(CControlUI* parent, const std::string& className, int index) {
  auto all = FindSubControlsByClass(parent, className);
  if (index < 0 || index >= static_cast<int>(all.size())) return nullptr;
  return all[static_cast<size_t>(index)];
}

void CPaintManagerUI::NameChanged(CControlUI* control, const std::string& oldName) {
  for (auto it = names_.begin(); it != names_.end(); ++it) {
    if (it->second == control && it->first == oldName) {
      names_.erase(it);
      break;
    }
  }
  if (!control->GetName().empty() && control->GetParent() != nullptr) names_.emplace(control->GetName(), control);
  else if (!control->GetName().empty() && control == root_) names_.emplace(control->GetName(), control);
}

bool CPaintManagerUI::AddOptionGroup(const std::string& group, CControlUI* control) {
  auto& v = optionGroups_[group];
  if (std::find(v.begin(), v.end(), control) != v.end()) return false;
  v.push_back(control);
  return true;
}
std::vector<CControlUI*> CPaintManagerUI::GetOptionGroup(const std::string& group) const {
  auto it = optionGroups_.find(group);
  return it == optionGroups_.end() ? std::vector<CControlUI*>{} : it->second;
}
void CPaintManagerUI::RemoveOptionGroup(const std::string& group, CControlUI* control) {
  auto it = optionGroups_.find(group);
  if (it == optionGroups_.end()) return;
  auto& v = it->second;
  v.erase(std::remove(v.begin(), v.end(), control), v.end());
}

// ---- notifications ----

bool CPaintManagerUI::AddNotifier(INotifyUI* n) { return AddOnce(notifiers_, n); }
bool CPaintManagerUI::RemoveNotifier(INotifyUI* n) { return RemoveOne(notifiers_, n); }
bool CPaintManagerUI::AddMessageFilter(IMessageFilterUI* f) { return AddOnce(filters_, f); }
bool CPaintManagerUI::RemoveMessageFilter(IMessageFilterUI* f) { return RemoveOne(filters_, f); }

void CPaintManagerUI::SendNotify(CControlUI* control, const std::string& type, WPARAM wParam, LPARAM lParam,
                                 bool async) {
  TNotifyUI msg;
  msg.pSender = control;
  msg.sType = type;
  msg.wParam = wParam;
  msg.lParam = lParam;
  SendNotify(msg, async);
}

void CPaintManagerUI::SendNotify(TNotifyUI& msg, bool async) {
  if (async) {
    // Any thread: queue a copy and announce it with one posted message per
    // record, so the record keeps its place among the window's other messages.
    {
      std::lock_guard<std::mutex> lock(asyncMutex_);
      asyncQueue_.push_back(msg);
    }
    HWND hwnd = paintHwnd_.load();
    if (hwnd) PostMessage(hwnd, WM_DUI_ASYNCNOTIFY, 0, 0);
    return;
  }
  if (msg.pSender) {
    if (!msg.pSender->OnNotify(&msg)) return;
  }
  msg.ptMouse = GetCursorPos();
  // Copy: a handler may add or remove listeners while we dispatch.
  auto notifiers = notifiers_;
  for (auto* n : notifiers) {
    if (std::find(notifiers_.begin(), notifiers_.end(), n) == notifiers_.end()) continue;
    n->Notify(msg);
  }
}

void CPaintManagerUI::DeliverAsyncNotifications() {
  TNotifyUI msg;
  {
    std::lock_guard<std::mutex> lock(asyncMutex_);
    if (asyncQueue_.empty()) return;
    msg = asyncQueue_.front();
    asyncQueue_.erase(asyncQueue_.begin());
  }
  if (msg.sType.empty()) return;  // its sender was destroyed meanwhile
  SendNotify(msg, false);
}

// ---- timers ----

// Timers belong to the window's thread; a call from another thread (an
// answer handler stopping a poll) is carried over to it.
bool CPaintManagerUI::SetTimer(CControlUI* control, UINT id, UINT ms) {
  if (!control) return false;
  if (!OnUiThread()) return PostToWindow(paintHwnd_.load(), [this, control, id, ms] { SetTimer(control, id, ms); });
  if (control->GetManager() != this) return false;
  return impl_->SetTimer(control, id, ms);
}
bool CPaintManagerUI::KillTimer(CControlUI* control, UINT id) {
  if (!OnUiThread()) return PostToWindow(paintHwnd_.load(), [this, control, id] { KillTimer(control, id); });
  return impl_->KillTimer(control, id);
}
void CPaintManagerUI::KillTimer(CControlUI* control) {
  if (!OnUiThread()) {
    PostToWindow(paintHwnd_.load(), [this, control] { KillTimer(control); });
    return;
  }
  impl_->KillTimers(control);
}
void CPaintManagerUI::RemoveAllTimers() { impl_->KillAll(); }
bool CPaintManagerUI::HasTimer(CControlUI* control, UINT id) const { return impl_->HasTimer(control, id); }

// ---- focus ----

void CPaintManagerUI::SetFocus(CControlUI* control) { ChangeFocus(control, true); }

void CPaintManagerUI::FocusFollowsNative(CControlUI* control, bool gained) {
  if (gained) ChangeFocus(control, false);
  else if (focus_ == control) ChangeFocus(nullptr, false);
}

void CPaintManagerUI::ChangeFocus(CControlUI* control, bool moveNative) {
  CWindowHost* host = window_ ? window_->Host() : nullptr;
  if (control == focus_) {
    if (moveNative) MoveQtFocusTo(host, focus_);
    return;
  }
  CControlUI* old = focus_;
  focus_ = nullptr;
  if (old) {
    SendEvent(old, UIEVENT_KILLFOCUS);
    SendNotify(old, DUI_MSGTYPE_KILLFOCUS);
  }
  if (control && control->GetManager() == this && control->IsVisible() && control->IsEnabled()) {
    focus_ = control;
    SendEvent(control, UIEVENT_SETFOCUS);
    SendNotify(control, DUI_MSGTYPE_SETFOCUS);
    if (focus_ == control) AccessibleControlChanged(control, AccessibleChange::Focus);
  }
  // A handler may have moved the focus on meanwhile; follow where it ended.
  if (moveNative) MoveQtFocusTo(host, focus_);
}

// ---- fonts and defaults ----

void CPaintManagerUI::AddFont(int id, const std::string& name, int size, bool bold, bool underline, bool italic,
                              bool isDefault) {
  TFontInfo f;
  f.name = name.empty() ? defaultFont_.name : name;
  f.size = size > 0 ? size : defaultFont_.size;
  f.bold = bold;
  f.underline = underline;
  f.italic = italic;
  fonts_[id] = f;
  if (isDefault) defaultFont_ = f;
}

void CPaintManagerUI::SetDefaultFont(const std::string& name, int size, bool bold, bool underline, bool italic) {
  defaultFont_ = {name, size, bold, underline, italic, 0};
}

const TFontInfo* CPaintManagerUI::GetFontInfo(int id) const {
  auto it = fonts_.find(id);
  const TFontInfo* f = it == fonts_.end() ? &defaultFont_ : &it->second;
  auto* mf = const_cast<TFontInfo*>(f);
  mf->height = impl_->Font(id).pixelSize() > 0 ? QFontMetrics(impl_->Font(id)).height() : ScaleValue(f->size);
  return f;
}

void CPaintManagerUI::AddDefaultAttributeList(const std::string& cls, const std::string& list) {
  std::string key = cls;
  std::transform(key.begin(), key.end(), key.begin(), [](unsigned char ch) { return static_cast<char>(std::tolower(ch)); });
  defaultAttributes_[key] = list;
}
std::string CPaintManagerUI::GetDefaultAttributeList(const std::string& cls) const {
  std::string key = cls;
  std::transform(key.begin(), key.end(), key.begin(), [](unsigned char ch) { return static_cast<char>(std::tolower(ch)); });
  auto it = defaultAttributes_.find(key);
  return it == defaultAttributes_.end() ? std::string() : it->second;
}

// ---- images ----

bool CPaintManagerUI::HasImage(const std::string& file) { return impl_->GetImage(file) != nullptr; }
SIZE CPaintManagerUI::GetImageSize(const std::string& file) {
  const QImage* img = impl_->GetImage(file);
  return img ? SIZE{img->width(), img->height()} : SIZE{};
}
void CPaintManagerUI::ReloadAllImages() {
  if (!OnUiThread()) {
    PostToWindow(paintHwnd_.load(), [this] { ReloadAllImages(); });
    return;
  }
  impl_->ClearImages();
  Invalidate();
}

// ---- window metrics ----

SIZE CPaintManagerUI::GetInitSize() const { return {ScaleValue(initSize_.cx), ScaleValue(initSize_.cy)}; }
void CPaintManagerUI::SetInitSize(int cx, int cy) { initSize_ = {cx, cy}; }

void CPaintManagerUI::SetWindowAttribute(const std::string& name, const std::string& value) {
  if (name == "size") {
    RECT rc = ParseRect(value);
    SetInitSize(rc.left, rc.top);
  } else if (name == "caption") {
    SetCaptionRect(ParseRect(value));
  } else if (name == "mininfo") {
    RECT rc = ParseRect(value);
    SetMinInfo(rc.left, rc.top);
  } else if (name == "maxinfo") {
    RECT rc = ParseRect(value);
    SetMaxInfo(rc.left, rc.top);
  } else if (name == "roundcorner") {
    RECT rc = ParseRect(value);
    SetRoundCorner(rc.left, rc.top);
  } else if (name == "sizebox") {
    SetSizeBox(ParseRect(value));
  } else if (name == "focusringcolor") {
    focusRingColor_ = ParseColor(value);
  } else if (name == "bktrans" || name == "showshadow" || name == "layered") {
    // Visual extras of other toolkits; accepted and ignored.
  }
}

void CPaintManagerUI::SetDPIScale(int percent) {
  if (percent < 50 || percent > 400) return;
  dpiScale_ = percent;
  dpiFixed_ = true;
  impl_->ClearImages();
  NeedUpdate();
}

RECT CPaintManagerUI::ScaleRect(RECT rc) const {
  return {ScaleValue(rc.left), ScaleValue(rc.top), ScaleValue(rc.right), ScaleValue(rc.bottom)};
}

// ---- layout ----

void CPaintManagerUI::NeedUpdate() {
  if (layoutScheduled_) return;
  CWindowHost* host = window_ ? window_->Host() : nullptr;
  if (!host) return;
  layoutScheduled_ = true;
  host->update();
  // Also lay out windows that are not painted (hidden), so native editors
  // and geometry queries see current positions.
  QMetaObject::invokeMethod(
      host,
      [host]() {
        if (auto* pm = host->Manager()) {
          if (pm->layoutScheduled_) pm->UpdateLayout();
        }
      },
      Qt::QueuedConnection);
}

void CPaintManagerUI::Invalidate(const RECT& rc) {
  CWindowHost* host = window_ ? window_->Host() : nullptr;
  if (host) host->update(ToQRect(rc).adjusted(-1, -1, 1, 1));
}
void CPaintManagerUI::Invalidate() {
  CWindowHost* host = window_ ? window_->Host() : nullptr;
  if (host) host->update();
}

SIZE CPaintManagerUI::GetClientSize() const {
  CWindowHost* host = window_ ? window_->Host() : nullptr;
  if (host) return {host->width(), host->height()};
  return testClientSize_;
}

void CPaintManagerUI::SetClientSizeForTest(SIZE size) {
  testClientSize_ = size;
  UpdateLayout();
}

void CPaintManagerUI::UpdateLayout() {
  layoutScheduled_ = false;
  if (!root_) return;
  SIZE sz = GetClientSize();
  RECT rc{0, 0, sz.cx, sz.cy};
  if (root_->IsFloat()) {
    SIZE xy = root_->GetFixedXY();
    rc = {xy.cx, xy.cy, xy.cx + root_->GetFixedWidth(), xy.cy + root_->GetFixedHeight()};
  }
  root_->SetPos(rc, false);
  CoverNativeEditors(this);
  Invalidate();
}

// ---- messages ----

void CPaintManagerUI::HoverControl(CControlUI* control, POINT pt) {
  if (control == hover_) return;
  CControlUI* old = hover_;
  hover_ = control;
  if (old) {
    SendEvent(old, UIEVENT_MOUSELEAVE, pt);
  }
  if (hover_ == control && control) {
    SendEvent(control, UIEVENT_MOUSEENTER, pt);
    if (auto* host = window_ ? window_->Host() : nullptr)
      host->setToolTip(ToQ(control->GetToolTip()));
  }
}

bool CPaintManagerUI::MessageHandler(UINT msg, WPARAM wParam, LPARAM lParam, LRESULT& result) {
  result = 0;
  for (auto* f : std::vector<IMessageFilterUI*>(filters_)) {
    bool handled = false;
    LRESULT r = f->MessageHandler(msg, wParam, lParam, handled);
    if (handled) {
      result = r;
      return true;
    }
  }
  POINT pt{GET_X_LPARAM(lParam), GET_Y_LPARAM(lParam)};
  switch (msg) {
    case WM_DUI_ASYNCNOTIFY:
      DeliverAsyncNotifications();
      return true;
    case WM_MOUSEMOVE: {
      CControlUI* c = FindControl(pt);
      if (c && !c->IsEnabled()) c = nullptr;
      if (captured_) {
        SendEvent(captured_, UIEVENT_MOUSEMOVE, pt);
      } else {
        HoverControl(c, pt);
        if (c) {
          SendEvent(c, UIEVENT_MOUSEMOVE, pt);
        }
      }
      return false;
    }
    case WM_MOUSELEAVE:
      if (!captured_) HoverControl(nullptr, pt);
      return false;
    case WM_LBUTTONDOWN:
    case WM_LBUTTONDBLCLK: {
      ShowFocusRing(false);
      CControlUI* c = FindControl(pt);
      if (!c || !c->IsEnabled()) return false;
      HoverControl(c, pt);
      if (c->IsKeyboardEnabled()) SetFocus(c);
      if (hover_ != c && c->GetManager() != this) return false;  // a handler removed it
      captured_ = c;
      SendEvent(c, msg == WM_LBUTTONDOWN ? UIEVENT_BUTTONDOWN : UIEVENT_DBLCLICK, pt);
      return false;
    }
    case WM_LBUTTONUP: {
      CControlUI* c = captured_;
      captured_ = nullptr;
      if (!c) return false;
      SendEvent(c, UIEVENT_BUTTONUP, pt);
      return false;
    }
    case WM_RBUTTONDOWN: {
      CControlUI* c = FindControl(pt);
      if (!c || !c->IsEnabled()) return false;
      SendEvent(c, UIEVENT_RBUTTONDOWN, pt);
      if (ParseBool(c->GetCustomAttribute("menu"))) SendNotify(c, DUI_MSGTYPE_MENU, 0, MAKELPARAM(pt.x, pt.y));
      return false;
    }
    case WM_MOUSEWHEEL: {
      CControlUI* c = FindControl(pt);
      if (!c) return false;
      SendEvent(c, UIEVENT_SCROLLWHEEL, pt, wParam);
      return false;
    }
    case WM_KEYDOWN:
      if (HandleNavigationKey(static_cast<int>(wParam))) {
        if (CWindowHost* host = window_ ? window_->Host() : nullptr) host->keyConsumed = true;
        return true;
      }
      if (focus_) {
        SendEvent(focus_, UIEVENT_KEYDOWN, POINT{}, wParam);
      }
      return false;
    case WM_SIZE:
      NeedUpdate();
      return false;
    case WM_KILLFOCUS:
      captured_ = nullptr;
      return false;
    default:
      return false;
  }
}

// ---- text measuring ----

void CRenderEngine::MeasureText(CPaintManagerUI* manager, RECT& rc, const std::string& text, int font, UINT style,
                                bool html) {
  QFont f = manager ? manager->Impl()->Font(font) : QFont();
  int width = std::max(1, rc.Width());
  if (html) {
    QTextDocument doc;
    doc.setDefaultFont(f);
    doc.setDocumentMargin(0);
    doc.setHtml(ToQ(text));
    if (style & DT_SINGLELINE) {
      doc.setTextWidth(-1);
    } else {
      doc.setTextWidth(width);
    }
    QSizeF s = doc.size();
    int w = static_cast<int>(std::ceil(doc.idealWidth()));
    rc.right = rc.left + std::min(w, (style & DT_SINGLELINE) ? w : width);
    rc.bottom = rc.top + static_cast<int>(std::ceil(s.height()));
    return;
  }
  QFontMetrics fm(f);
  QString s = ToQ(text);
  if (style & DT_SINGLELINE) {
    s.replace('\n', ' ');
    rc.right = rc.left + fm.horizontalAdvance(s);
    rc.bottom = rc.top + fm.height();
  } else {
    QRect r = fm.boundingRect(QRect(0, 0, width, 100000), QtFlagsFromStyle(style) | Qt::TextWordWrap, s);
    rc.right = rc.left + r.width();
    rc.bottom = rc.top + r.height();
  }
}

// ---- input state ----

POINT GetCursorPos() {
  if (!QGuiApplication::instance()) return {};
  QPoint p = QCursor::pos();
  return {p.x(), p.y()};
}

}  // namespace DirectUI
