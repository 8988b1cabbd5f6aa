#include "ui/ui_window.h"

#include <QApplication>
#include <QEventLoop>
#include <QGuiApplication>
#include <QIcon>
#include <QMessageBox>
#include <QScreen>
#include <QThread>
#include <QWindow>
#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "ui/qt/qt_host.h"
#include "ui/qt/qt_font_setup.h"

namespace DirectUI {

struct ModalState {
  HWND hwnd = nullptr;
  QEventLoop loop;
  UINT code = 0;
  bool done = false;
};

namespace {

std::atomic<bool> g_quit{false};
std::vector<ModalState*> g_modals;  // UI thread only

bool IsOffscreen() {
  QByteArray env = qgetenv("QT_QPA_PLATFORM");
  if (env.contains("offscreen") || env.contains("minimal")) return true;
  return QGuiApplication::instance() && QGuiApplication::platformName().contains("offscreen");
}

void QuitAllModalLoops() {
  for (auto* m : g_modals) m->loop.quit();
}

}  // namespace

void EnsureApplication() {
  if (QCoreApplication::instance()) return;
  static int argc = 1;
  static char arg0[] = "quillora";
  static char* argv[] = {arg0, nullptr};
  BeginFontSetup();  // meanwhile, on a second core
  // Lives for the rest of the process, like the windows it serves.
  new QApplication(argc, argv);
}

void SetApplicationIdentity(const std::string& desktopId, const std::string& iconFile) {
  SetApplicationDesktopId(desktopId);
  SetApplicationIcon(desktopId, iconFile);
}

void SetApplicationDesktopId(const std::string& desktopId) {
  EnsureApplication();
  QGuiApplication::setDesktopFileName(ToQ(desktopId));
}

void SetApplicationIcon(const std::string& desktopId, const std::string& iconFile) {
  EnsureApplication();
  // An installed icon theme holds the icon under the launcher's name; the
  // file beside the program serves a build or an unpacked archive.
  QGuiApplication::setWindowIcon(QIcon::fromTheme(ToQ(desktopId), IconFromFile(iconFile)));
}

void PostQuitMessage(int) {
  g_quit.store(true);
  QCoreApplication* app = QCoreApplication::instance();
  if (!app) return;
  if (QThread::currentThread() == app->thread()) {
    QuitAllModalLoops();
  } else {
    QMetaObject::invokeMethod(app, [] { QuitAllModalLoops(); }, Qt::QueuedConnection);
  }
}

bool IsQuitPosted() { return g_quit.load(); }
void ResetQuitForTest() { g_quit.store(false); }

void FatalSkinError(const std::string& text) {
  std::fprintf(stderr, "DirectUI: %s\n", text.c_str());
  std::fflush(stderr);
  if (QApplication::instance() && !IsOffscreen()) {
    QMessageBox box(QMessageBox::Critical, QStringLiteral("DirectUI"), ToQ(text), QMessageBox::Ok);
    box.exec();
  }
  std::fflush(stdout);
  std::_Exit(1);
}

namespace {

bool IsOwnedBy(HWND popup, HWND owner) {
  // Owner chains are short; the bound only guards against a cycle.
  for (int depth = 0; popup && depth < 64; ++depth) {
    if (popup == owner) return true;
    CWindowHost* h = HostFromHandle(popup);
    popup = h && h->Window() ? h->Window()->GetOwner() : nullptr;
  }
  return false;
}

}  // namespace

HWND GetLastActivePopup(HWND hwnd) {
  for (auto it = g_modals.rbegin(); it != g_modals.rend(); ++it)
    if ((*it)->hwnd != hwnd && IsWindow((*it)->hwnd) && IsOwnedBy((*it)->hwnd, hwnd)) return (*it)->hwnd;
  return hwnd;
}

bool SetForegroundWindow(HWND hwnd) {
  CWindowHost* host = HostFromHandle(hwnd);
  if (!host) return false;
  if (host->isMinimized()) host->showNormal();
  else if (!host->isVisible()) host->show();
  host->raise();
  host->activateWindow();
  return true;
}

void BringToFrontWithPopup(HWND hwnd) {
  if (!SetForegroundWindow(hwnd)) return;
  HWND popup = GetLastActivePopup(hwnd);
  if (popup != hwnd) SetForegroundWindow(popup);
}

LRESULT SendMessage(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  CWindowHost* host = HostFromHandle(hwnd);
  if (!host || !host->Window()) return 0;
  return host->Window()->SendMessage(msg, wParam, lParam);
}

// ---- CWindowWnd ----

CWindowWnd::CWindowWnd() = default;

CWindowWnd::~CWindowWnd() {
  if (!host_) return;
  // The object goes while its window still exists: take the window down
  // without calling into the (already destroyed) derived class.
  CWindowHost* host = host_;
  host_ = nullptr;
  UnregisterHost(hwnd_);
  ModalState* modal = host->modal;
  host->modal = nullptr;
  host->Detach();
  host->hide();
  host->deleteLater();
  if (modal) {
    modal->code = closeCode_;
    modal->done = true;
    modal->loop.quit();
  }
}

HWND CWindowWnd::Create(HWND parent, const std::string& name, DWORD style, DWORD, const RECT& rc) {
  return Create(parent, name, style, 0, rc.left, rc.top, rc.Width(), rc.Height());
}

HWND CWindowWnd::Create(HWND parent, const std::string& name, DWORD style, DWORD, int x, int y, int cx, int cy) {
  EnsureApplication();
  if (host_) return hwnd_;
  style_ = style;
  owner_ = parent;
  host_ = new CWindowHost(this, nullptr, IsTransientPopup());
  hwnd_ = RegisterHost(host_);
  host_->SetHandle(hwnd_);
  host_->setObjectName(ToQ(GetWindowClassName()));
  host_->setWindowTitle(ToQ(name));
  host_->setProperty("duiHandle", QVariant::fromValue(reinterpret_cast<quintptr>(hwnd_)));
  explicitSize_ = cx != CW_USEDEFAULT && cy != CW_USEDEFAULT && cx > 0 && cy > 0;
  if (explicitSize_) host_->resize(cx, cy);
  if (x != CW_USEDEFAULT && y != CW_USEDEFAULT) host_->move(x, y);
  HWND self = hwnd_;
  SendMessage(WM_CREATE, 0, 0);
  if (!IsWindow(self)) return nullptr;  // destroyed during creation
  // The native window is made only now that the skin has said how it is
  // shaped (a translucent window cannot be made so later).
  if (CWindowHost* owner = HostFromHandle(parent)) {
    // Keep the window above its owner without Qt owning it: the window's
    // life is ours to manage.
    host_->winId();
    if (owner->windowHandle() && host_->windowHandle()) host_->windowHandle()->setTransientParent(owner->windowHandle());
  }
  if (style & WS_DISABLED) host_->setEnabled(false);
  if (style & WS_VISIBLE) ShowWindow(true, true);
  return hwnd_;
}

void CWindowWnd::ShowWindow(bool show, bool takeFocus) {
  if (!host_) return;
  if (!show) {
    host_->hide();
    return;
  }
  host_->setAttribute(Qt::WA_ShowWithoutActivating, !takeFocus);
  if (host_->isMinimized()) host_->showNormal();
  else host_->show();
  if (takeFocus) {
    host_->raise();
    host_->activateWindow();
    host_->setFocus();
  }
}

UINT CWindowWnd::ShowModal() {
  if (!host_) return 0;
  HWND self = hwnd_;
  HWND owner = owner_;
  ModalState state;
  state.hwnd = hwnd_;
  host_->modal = &state;
  g_modals.push_back(&state);
  if (CWindowHost* o = HostFromHandle(owner)) o->setEnabled(false);
  ShowWindow(true, true);
  // Only locals from here on: the window object may delete itself when its
  // window is destroyed.
  while (!state.done && !IsQuitPosted()) state.loop.exec();
  g_modals.erase(std::remove(g_modals.begin(), g_modals.end(), &state), g_modals.end());
  if (!state.done) {
    // The application is quitting: the window goes with the loop.
    if (CWindowHost* h = HostFromHandle(self)) {
      h->modal = nullptr;
      if (CWindowWnd* w = h->Window()) w->DestroyWindow();
    }
  }
  if (CWindowHost* o = HostFromHandle(owner)) {
    o->setEnabled(true);
    if (o->isVisible()) {
      o->raise();
      o->activateWindow();
    }
  }
  return state.code;
}

bool CWindowWnd::IsModal() const { return host_ && host_->modal; }

void CWindowWnd::Close(UINT ret) { PostMessage(WM_CLOSE, ret, 0); }

void CWindowWnd::DestroyWindow() {
  if (!host_) return;
  CWindowHost* host = host_;
  HWND hwnd = hwnd_;
  // Owned windows go before their owner, as a desktop would do it.
  std::vector<HWND> owned;
  for (QWidget* w : QApplication::topLevelWidgets()) {
    auto* h = dynamic_cast<CWindowHost*>(w);
    if (h && h != host && h->Window() && h->Window()->GetOwner() == hwnd) owned.push_back(h->Handle());
  }
  for (HWND o : owned) {
    if (CWindowHost* h = HostFromHandle(o))
      if (h->Window()) h->Window()->DestroyWindow();
  }
  UnregisterHost(hwnd);
  HandleMessage(WM_DESTROY, 0, 0);
  host->hide();
  host->Detach();
  host_ = nullptr;
  ModalState* modal = host->modal;
  host->modal = nullptr;
  host->deleteLater();
  if (modal) {
    modal->code = closeCode_;
    modal->done = true;
    modal->loop.quit();
  }
  OnFinalMessage(hwnd);  // may delete this
}

void CWindowWnd::CenterWindow() {
  if (!host_) return;
  QRect area;
  CWindowHost* owner = HostFromHandle(owner_);
  if (owner && owner->isVisible()) {
    area = owner->frameGeometry();
  } else if (QScreen* s = host_->screen() ? host_->screen() : QGuiApplication::primaryScreen()) {
    area = s->availableGeometry();
  }
  if (area.isEmpty()) return;
  QSize sz = host_->frameGeometry().size();
  QPoint p(area.left() + (area.width() - sz.width()) / 2, area.top() + (area.height() - sz.height()) / 2);
  if (QScreen* s = QGuiApplication::screenAt(area.center())) {
    QRect avail = s->availableGeometry();
    p.setX(std::clamp(p.x(), avail.left(), std::max(avail.left(), avail.right() - sz.width())));
    p.setY(std::clamp(p.y(), avail.top(), std::max(avail.top(), avail.bottom() - sz.height())));
  }
  host_->move(p);
}

void CWindowWnd::SetIcon(UINT resourceId) {
  SetIconFile("icons/" + std::to_string(resourceId) + ".png");
}

void CWindowWnd::SetIconFile(const std::string& file) {
  if (!host_) return;
  QIcon icon = IconFromFile(file);
  if (!icon.isNull()) host_->setWindowIcon(icon);
}

void CWindowWnd::SetWindowText(const std::string& title) {
  if (host_) host_->setWindowTitle(ToQ(title));
}
std::string CWindowWnd::GetWindowText() const { return host_ ? FromQ(host_->windowTitle()) : std::string(); }

void CWindowWnd::ResizeClient(int cx, int cy) {
  if (!host_) return;
  // Skin units, like every size a skin or a window class gives.
  CPaintManagerUI* pm = host_->Manager();
  auto scaled = [pm](int v) { return pm ? pm->ScaleValue(v) : v; };
  host_->resize(cx < 0 ? host_->width() : scaled(cx), cy < 0 ? host_->height() : scaled(cy));
}
void CWindowWnd::MoveWindow(int x, int y) {
  if (host_) host_->move(x, y);
}
RECT CWindowWnd::GetWindowRect() const { return host_ ? FromQRect(host_->frameGeometry()) : RECT{}; }
POINT CWindowWnd::ClientToScreen(POINT pt) const {
  if (!host_) return pt;
  QPoint p = host_->mapToGlobal(QPoint(pt.x, pt.y));
  return {p.x(), p.y()};
}
POINT CWindowWnd::ScreenToClient(POINT pt) const {
  if (!host_) return pt;
  QPoint p = host_->mapFromGlobal(QPoint(pt.x, pt.y));
  return {p.x(), p.y()};
}
bool CWindowWnd::IsVisible() const { return host_ && host_->isVisible(); }
bool CWindowWnd::IsEnabled() const { return host_ && host_->isEnabled(); }
void CWindowWnd::EnableWindow(bool enable) {
  if (host_) host_->setEnabled(enable);
}
bool CWindowWnd::IsMinimized() const { return host_ && host_->isMinimized(); }
void CWindowWnd::SetForeground() {
  if (!host_) return;
  host_->raise();
  host_->activateWindow();
}
void CWindowWnd::DragAcceptFiles(bool accept) {
  if (host_) host_->setAcceptDrops(accept);
}
bool CWindowWnd::IsAcceptingDrops() const { return host_ && host_->acceptDrops(); }

LRESULT CWindowWnd::SendMessage(UINT msg, WPARAM wParam, LPARAM lParam) { return HandleMessage(msg, wParam, lParam); }
bool CWindowWnd::PostMessage(UINT msg, WPARAM wParam, LPARAM lParam) {
  return DirectUI::PostMessage(hwnd_, msg, wParam, lParam);
}

void CWindowWnd::AfterFirstPaint(std::function<void()> fn) {
  if (host_) host_->AfterFirstPaint(std::move(fn));
}

LRESULT CWindowWnd::HandleMessage(UINT msg, WPARAM wParam, LPARAM) {
  switch (msg) {
    case WM_CLOSE:
      closeCode_ = static_cast<UINT>(wParam);
      DestroyWindow();
      return 0;
    case WM_SYSCOMMAND:
      if (!host_) return 0;
      if (wParam == SC_MINIMIZE) host_->showMinimized();
      else if (wParam == SC_MAXIMIZE) host_->showMaximized();
      else if (wParam == SC_RESTORE) host_->showNormal();
      else if (wParam == SC_CLOSE) Close(0);
      return 0;
    default:
      return 0;
  }
}

void CWindowWnd::OnFinalMessage(HWND) {}

bool CWindowWnd::GetProp(const std::string& name, std::intptr_t& value) const {
  auto it = props_.find(name);
  if (it == props_.end()) return false;
  value = it->second;
  return true;
}

bool CWindowWnd::SaveScreenshot(const std::string& pngPath) {
  if (!host_) return false;
  if (auto* pm = host_->Manager()) pm->UpdateLayout();
  QPixmap pix = host_->grab();
  return !pix.isNull() && pix.save(ToQ(pngPath), "PNG");
}

// ---- notification tables ----

const DUI_MSGMAP* CNotifyPump::GetThisMessageMap() {
  static constexpr DUI_MSGMAP_ENTRY entries[] = {{nullptr, nullptr, nullptr}};
  static constexpr DUI_MSGMAP map{nullptr, entries};
  return &map;
}
const DUI_MSGMAP* CNotifyPump::GetMessageMap() const { return GetThisMessageMap(); }

const DUI_MSGMAP_ENTRY* CNotifyPump::FindEntry(const DUI_MSGMAP* map, const TNotifyUI& msg) {
  const DUI_MSGMAP_ENTRY* typeOnly = nullptr;
  for (const DUI_MSGMAP_ENTRY* e = map->lpEntries; e && e->pfn; ++e) {
    if (msg.sType != e->sMsgType) continue;
    if (e->sCtrlName && *e->sCtrlName) {
      if (msg.pSender && msg.pSender->GetName() == e->sCtrlName) return e;
    } else {
      typeOnly = e;  // the last one of the table counts
    }
  }
  return typeOnly;
}

bool CNotifyPump::LoopDispatch(TNotifyUI& msg) {
  for (const DUI_MSGMAP* map = GetMessageMap(); map;) {
    if (const DUI_MSGMAP_ENTRY* e = FindEntry(map, msg)) {
      e->pfn(this, msg);
      return true;
    }
    const DUI_MSGMAP* base = map->pfnGetBaseMap ? map->pfnGetBaseMap() : nullptr;
    if (base == map) break;
    map = base;
  }
  return false;
}

// ---- CWindowImplBaseUI ----

DUI_BEGIN_MESSAGE_MAP(CWindowImplBaseUI, CNotifyPump)
DUI_ON_MSGTYPE(DUI_MSGTYPE_CLICK, OnClick)
DUI_END_MESSAGE_MAP()

CWindowImplBaseUI::~CWindowImplBaseUI() {
  // The paint manager goes before the window base: unhook it from the host.
  if (Host()) Host()->SetManager(nullptr);
}

CControlUI* CWindowImplBaseUI::CreateControl(const std::string&) { return nullptr; }

void CWindowImplBaseUI::Notify(TNotifyUI& msg) { LoopDispatch(msg); }

LRESULT CWindowImplBaseUI::MessageHandler(UINT, WPARAM, LPARAM, bool& handled) {
  handled = false;
  return 0;
}

void CWindowImplBaseUI::OnClick(TNotifyUI& msg) {
  if (!msg.pSender) return;
  const std::string& name = msg.pSender->GetName();
  if (name == "closebtn") Close(1);
  else if (name == "minbtn") SendMessage(WM_SYSCOMMAND, SC_MINIMIZE, 0);
  else if (name == "maxbtn") SendMessage(WM_SYSCOMMAND, SC_MAXIMIZE, 0);
  else if (name == "restorebtn") SendMessage(WM_SYSCOMMAND, SC_RESTORE, 0);
}

LRESULT CWindowImplBaseUI::OnCreate(UINT, WPARAM, LPARAM, bool& handled) {
  handled = true;
  m_pm.Init(this);
  Host()->SetManager(&m_pm);
  if (CPaintManagerUI::GetResourcePath().empty() && !GetSkinFolder().empty())
    CPaintManagerUI::SetResourcePath(CPaintManagerUI::GetInstancePath() + GetSkinFolder());
  std::string skin = GetSkinFile();
  CDialogBuilder builder;
  CControlUI* root = builder.Create(skin, this, &m_pm);
  if (!root) {
    std::string text = "加载资源文件失败：" + skin;
    if (!builder.FileMissing()) text += "\n" + builder.GetLastError();
    FatalSkinError(text);
  }
  m_pm.AttachDialog(root);
  m_pm.AddNotifier(this);
  m_pm.AddMessageFilter(this);
  SIZE init = m_pm.GetInitSize();
  if (!HasExplicitSize() && init.cx > 0 && init.cy > 0) Host()->resize(init.cx, init.cy);
  SIZE minInfo = m_pm.GetMinInfo();
  if (minInfo.cx > 0 || minInfo.cy > 0)
    Host()->setMinimumSize(m_pm.ScaleValue(minInfo.cx), m_pm.ScaleValue(minInfo.cy));
  SIZE maxInfo = m_pm.GetMaxInfo();
  if (maxInfo.cx > 0 && maxInfo.cy > 0) Host()->setMaximumSize(m_pm.ScaleValue(maxInfo.cx), m_pm.ScaleValue(maxInfo.cy));
  Host()->ApplyRoundCorner();
  InitWindow();
  if (Host()) m_pm.SendNotify(m_pm.GetRoot(), DUI_MSGTYPE_WINDOWINIT);
  return 0;
}

LRESULT CWindowImplBaseUI::OnKeyDown(UINT, WPARAM wParam, LPARAM, bool& handled) {
  // Escape leaves a modal popup the way its close button does. The main
  // window runs modally too, but it has no owner and stays.
  handled = wParam == static_cast<WPARAM>(VK_ESCAPE) && GetOwner() && IsModal();
  if (!handled) return 0;
  if (Host()) Host()->keyConsumed = true;
  Close(1);
  return 0;
}
LRESULT CWindowImplBaseUI::OnMouseMove(UINT, WPARAM, LPARAM, bool& handled) {
  handled = false;
  return 0;
}
LRESULT CWindowImplBaseUI::OnSysCommand(UINT, WPARAM, LPARAM, bool& handled) {
  handled = false;
  return 0;
}

LRESULT CWindowImplBaseUI::HandleMessage(UINT msg, WPARAM wParam, LPARAM lParam) {
  if (msg == WM_KEYDOWN && Host()) Host()->keyReachedBase = true;
  bool handled = false;
  LRESULT r = 0;
  switch (msg) {
    case WM_CREATE:
      r = OnCreate(msg, wParam, lParam, handled);
      break;
    case WM_KEYDOWN:
      r = OnKeyDown(msg, wParam, lParam, handled);
      break;
    case WM_MOUSEMOVE:
      r = OnMouseMove(msg, wParam, lParam, handled);
      break;
    case WM_SYSCOMMAND:
      r = OnSysCommand(msg, wParam, lParam, handled);
      break;
    default:
      break;
  }
  if (handled) return r;
  if (m_pm.MessageHandler(msg, wParam, lParam, r)) return r;
  return CWindowWnd::HandleMessage(msg, wParam, lParam);
}

void CWindowImplBaseUI::OnFinalMessage(HWND) {
  m_pm.RemoveNotifier(this);
  m_pm.RemoveMessageFilter(this);
  m_pm.RemoveAllTimers();
}

}  // namespace DirectUI
