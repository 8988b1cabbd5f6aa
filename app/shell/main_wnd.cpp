#include "app/shell/main_wnd.h"

#include <cstring>

#include "account/account_service.h"
#include "account/session/user_session.h"
#include "account/window/logon_wnd.h"
#include "app/config/app_config.h"
#include "app/shell/user_center_page.h"
#include "app/shell/user_info_wnd.h"
#include "app/shell/user_picture.h"
#include "platform/shell.h"
#include "platform/single_instance.h"
#include "service/trans_task_manager.h"
#include "service/transport/remote_services.h"
#include "update/update_check.h"
#include "workspace/file_trans_page.h"
#include "workspace/select_language.h"
#include "workspace/task_bridge.h"
#include "workspace/text_trans_page.h"
#include "workspace/workspace_controls.h"

namespace quillora {

using namespace DirectUI;

namespace {

constexpr char kDefaultUserPicture[] = "file='mainWnd/icon-weidenglu.png' dest='10,10,34,34'";
constexpr char kUserPictureDest[] = "10,10,34,34";
// The "more" menu opens below the title bar, at the left edge of its button.
constexpr int kMoreMenuTop = 45;
constexpr char kChatServiceKey[] = "5e1c0f7a9b2d4c6e8f0a1b3c5d7e9f21";

const char* const kTabOptions[] = {"opt_doc_trans", "opt_voice_trans", "opt_pic_trans", "opt_short_trans"};

void ShowControl(CPaintManagerUI& pm, const char* name, bool show) {
  if (CControlUI* c = pm.FindControl(name)) c->SetVisible(show);
}

constexpr int kPageCount = 4;
constexpr char kGuideSkin[] = "MaindGuide.xml";

// The workspace's control classes for checking skins: the probes it makes
// belong to no window.
class WorkspaceClasses : public IDialogBuilderCallback {
 public:
  CControlUI* CreateControl(const std::string& className) override {
    return workspace::CreateWorkspaceControl(className);
  }
};

std::shared_ptr<const CSkinTree> LoadSkin(const char* file, CPaintManagerUI& pm, IDialogBuilderCallback* classes) {
  CDialogBuilder builder;
  auto skin = builder.Load(file, classes, &pm);
  if (!skin) FatalSkinError(std::string("加载资源文件失败：") + file);
  return skin;
}

}  // namespace

DUI_BEGIN_MESSAGE_MAP(MainWnd, CWindowImplBaseUI)
DUI_ON_MSGTYPE(DUI_MSGTYPE_CLICK, OnClick)
DUI_ON_MSGTYPE(DUI_MSGTYPE_WINDOWINIT, OnWindowInit)
DUI_ON_MSGTYPE("refreshuserinfo", OnRefreshUserArea)
DUI_ON_CLICK_CTRNAME("btn_login", OnLogin)
DUI_ON_CLICK_CTRNAME("btn_bind", OnBind)
DUI_ON_CLICK_CTRNAME("btn_close_guide", OnCloseGuide)
DUI_ON_CLICK_CTRNAME("btn_close", OnCloseButton)
DUI_ON_CLICK_CTRNAME("btn_more", OnMoreButton)
DUI_ON_SELECTCHANGED_CTRNAME("opt_doc_trans", OnTabSelected)
DUI_ON_SELECTCHANGED_CTRNAME("opt_voice_trans", OnTabSelected)
DUI_ON_SELECTCHANGED_CTRNAME("opt_pic_trans", OnTabSelected)
DUI_ON_SELECTCHANGED_CTRNAME("opt_short_trans", OnTabSelected)
DUI_ON_MSGTYPE_CTRNAME(DUI_MSGTYPE_MENU, "menuitem_contact_service", OnContactService)
DUI_ON_MSGTYPE_CTRNAME(DUI_MSGTYPE_MENU, "menuitem_set", OnSettings)
DUI_ON_MSGTYPE_CTRNAME(DUI_MSGTYPE_MENU, "menuitem_check_update", OnCheckUpdate)
DUI_END_MESSAGE_MAP()

MainWnd::MainWnd() = default;

MainWnd::~MainWnd() = default;

CControlUI* MainWnd::CreateControl(const std::string& className) {
  CControlUI* control = workspace::CreateWorkspaceControl(className);
  if (!control) return nullptr;
  const workspace::FilePageKind* kinds[] = {&workspace::DocTransPage::kKind, &workspace::MusicTransPage::kKind,
                                            &workspace::PicTransPage::kKind};
  for (int i = 0; i < 3; ++i)
    if (control->GetInterface(kinds[i]->className)) filePages_[i] = static_cast<workspace::FileTransPage*>(control);
  if (void* text = control->GetInterface(workspace::TextTransPage::kClassName))
    textPage_ = static_cast<workspace::TextTransPage*>(text);
  return control;
}

workspace::FileTransPage* MainWnd::GetFilePage(int index) {
  if (index < 0 || index >= 3) return nullptr;
  BuildPagesUpTo(index);
  return filePages_[index];
}

workspace::TextTransPage* MainWnd::GetTextPage() {
  BuildPagesUpTo(kPageCount - 1);
  return textPage_;
}

int MainWnd::GetCurrentPage() const { return main_ ? main_->GetCurSel() : -1; }

void MainWnd::InitWindow() {
  SetProp(kInstanceMarker, -1);
  SetWindowText("Quillora");
  if (CControlUI* picker = m_pm.FindControl(workspace::SelectLanguage::kControlName))
    picker_ = static_cast<workspace::SelectLanguage*>(picker->GetInterface(workspace::SelectLanguage::kClassName));
  main_ = static_cast<CTabLayoutUI*>(m_pm.FindControl("ly_main"));
  // Checked before anything is stored: a damaged guide or page skin then
  // stops a first start before it counts as one. Only the first page shows
  // in the first frame; the others are built after it.
  LoadSkins();
  BuildPagesUpTo(0);
  if (CControlUI* user = m_pm.FindControl("btn_user")) user->OnEvent += MakeDelegate(this, &MainWnd::OnUserHover);

  // Its creation decides the first run (the guide) and loads the saved sign-in.
  AppConfig& config = AppConfig::Instance();
  ConfigureRemoteServices(config.GetServiceSettings());
  if (CControlUI* version = m_pm.FindControl("lb_ver")) version->SetText("V" + config.GetVersion());
  const bool resume = LoadSignIn();
  ShowUserArea();  // the saved account, or the sign-in button, in the first frame
  DragAcceptFiles(true);
  if (auto* doc = static_cast<COptionUI*>(m_pm.FindControl(kTabOptions[0]))) doc->Selected(true);
  if (config.IsFirstRun()) BuildGuide();
  guideSkin_.reset();
  // Nothing of the rest shows in the first frame; it follows that frame, in
  // its own order, so the user sees the window before the services hear of it.
  AfterFirstPaint([this, resume] {
    if (guard_) {
      // A later copy's request waits for this. The guard's listener thread
      // only posts; the window acts on its own thread.
      guard_->SetShowRequestHandler([hwnd = GetHWND()] { DirectUI::PostMessage(hwnd, WM_SHOWMAINWND, 0, 0); });
    }
    BuildPagesUpTo(kPageCount - 1);
    StartServices(resume);
  });
}

void MainWnd::StartServices(bool resumeSignIn) {
  bridge_ = std::make_unique<workspace::TaskNotificationBridge>(m_pm);
  TransTaskManager::Instance().SetNotifier(bridge_.get());
  AppConfig& config = AppConfig::Instance();
  // Its first creation sends the install (first run) and start events.
  AccountService::Instance().SetMainWindow(this);
  ResumeSignIn(resumeSignIn);
  StartUpdateCheck();
  config.StartUpdater(config.IsAutoUpdate() ? 0 : 1);
}

void MainWnd::LoadSkins() {
  WorkspaceClasses workspaceClasses;
  guideSkin_ = LoadSkin(kGuideSkin, m_pm, nullptr);
  for (int i = 0; i < kPageCount; ++i) pageSkins_[i] = LoadSkin(kWorkspacePageSkins[i], m_pm, &workspaceClasses);
}

void MainWnd::BuildPagesUpTo(int index) {
  for (; pagesBuilt_ <= index && pagesBuilt_ < kPageCount; ++pagesBuilt_) {
    CDialogBuilder builder;
    CControlUI* page = builder.Create(*pageSkins_[pagesBuilt_], this, &m_pm);
    // A checked skin builds; should it not, the tab stays empty rather than
    // the window ending half-way through its life.
    if (page && main_) main_->Add(page);
    else delete page;
    pageSkins_[pagesBuilt_].reset();
  }
}

void MainWnd::BuildGuide() {
  CDialogBuilder builder;
  guide_ = guideSkin_ ? builder.Create(*guideSkin_, nullptr, &m_pm) : nullptr;
  auto* root = guide_ ? static_cast<CContainerUI*>(m_pm.GetRoot()->GetInterface("HorizontalLayout")) : nullptr;
  if (!root || !root->Add(guide_)) {
    delete guide_;
    guide_ = nullptr;
  }
}

bool MainWnd::LoadSignIn() {
  AppConfig::Instance().LoadSavedLogin();
  UserSession& session = UserSession::Instance();
  const bool usable = session.IsSignedIn() && !session.GetUserToken().empty();
  if (!usable) session.Clear();  // stored once the services start
  return usable;
}

void MainWnd::ResumeSignIn(bool usable) {
  UserSession& session = UserSession::Instance();
  if (usable) {
    // The saved account shows at once; the profile refresh brings the rest.
    AccountService::Instance().RefreshProfile(session.GetAccount(), session.GetUserToken(), 0);
  } else {
    AppConfig::Instance().SaveLogin();
  }
  RefreshUserInfo();
}

void MainWnd::OnWindowInit(TNotifyUI&) {}

void MainWnd::RefreshUserInfo() {
  m_pm.SendNotify(m_pm.GetRoot(), "refreshuserinfo", 0, 0, true);
}

void MainWnd::OnRefreshUserArea(TNotifyUI&) { ShowUserArea(); }

void MainWnd::ShowUserArea() {
  ShowControl(m_pm, "btn_login", false);
  ShowControl(m_pm, "ly_user", false);
  ShowControl(m_pm, "btn_bind", false);
  UserSession& session = UserSession::Instance();
  const SessionData user = session.Snapshot();
  CControlUI* userButton = m_pm.FindControl("btn_user");
  const bool needsBinding = user.loginType == LoginType::Other && user.bindmobile.empty();
  if (user.loginType == LoginType::SignedOut) {
    ShowControl(m_pm, "btn_login", true);
  } else if (needsBinding) {
    ShowControl(m_pm, "btn_bind", true);
  } else {
    ShowControl(m_pm, "ly_user", true);
    if (userButton) userButton->SetText(session.GetDisplayName());
  }
  if (userButton) SetUserPicture(user.usertoken);
}

void MainWnd::SetUserPicture(const std::string& userToken) {
  CControlUI* userButton = m_pm.FindControl("btn_user");
  userButton->SetBkImage(kDefaultUserPicture);
  const std::string picture = ExistingUserPictureFile(userToken);
  if (!picture.empty()) {
    // The file may have been rewritten since it was last shown.
    m_pm.ReloadAllImages();
    userButton->SetBkImage(PictureImageAttribute(picture, kUserPictureDest));
  }
}

void MainWnd::OpenLoginWindow(int mode) {
  LogonWnd::Run(GetHWND(), mode == 1 ? LoginMode::Bind : LoginMode::SignIn);
}

void MainWnd::OnLogin(TNotifyUI&) { OpenLoginWindow(0); }

void MainWnd::OnBind(TNotifyUI&) { OpenLoginWindow(1); }

void MainWnd::OnCloseGuide(TNotifyUI&) {
  if (guide_) guide_->SetVisible(false);
}

void MainWnd::OnCloseButton(TNotifyUI&) {
  // A hidden window on a desktop without a tray could never be found again.
  if (AppConfig::Instance().IsCloseExit() || !CTrayIcon::IsTrayAvailable()) {
    Close(1);
    return;
  }
  HideToTray();
}

namespace {

CPopupMenu TrayMenu() {
  CPopupMenu menu;
  menu.AppendItem(kTrayExitCommand, "退出");
  return menu;
}

}  // namespace

void MainWnd::HideToTray() {
  tray_.SetMenu(TrayMenu());
  tray_.Add(GetHWND(), WM_TRAYICON, "", "Quillora");  // the application's icon
  ShowWindow(false);
}

void MainWnd::ShowFromTray() {
  tray_.Remove();
  ShowWindow(true, true);
}

void MainWnd::ShowTrayMenu() {
  CPopupMenu menu = TrayMenu();
  menu.TrackPopupMenu(GetCursorPos(), GetHWND());
}

void MainWnd::OnMoreButton(TNotifyUI& msg) {
  const POINT at = ClientToScreen({msg.pSender->GetPos().left, m_pm.ScaleValue(kMoreMenuTop)});
  auto* menu = new CMenuWnd();  // deletes itself when it closes
  menu->Init(nullptr, "menu.xml", at, &m_pm, nullptr, eMenuAlignment_Left | eMenuAlignment_Top);
}

void MainWnd::OnTabSelected(TNotifyUI& msg) {
  for (int i = 0; i < 4; ++i)
    if (msg.pSender->GetName() == kTabOptions[i]) SwitchPage(i);
}

void MainWnd::SwitchPage(int index) {
  BuildPagesUpTo(index);
  if (main_) main_->SelectItem(index);
  // Only an empty file page takes a dropped file; the text page never does.
  workspace::FileTransPage* page = GetFilePage(index);
  DragAcceptFiles(page && page->IsEmpty());
}

void MainWnd::RouteDrop(HDROP drop) {
  if (workspace::FileTransPage* page = GetFilePage(GetCurrentPage())) page->AcceptDrop(drop);
}

void MainWnd::OnContactService(TNotifyUI&) {
  platform::OpenWithDesktop(ChatPageUrl() + "?k=" + kChatServiceKey + "&wp=1");
}

void MainWnd::OnSettings(TNotifyUI&) { OpenSettingsPage(GetHWND()); }

void MainWnd::OnCheckUpdate(TNotifyUI&) {
  AppConfig& config = AppConfig::Instance();
  // Installed, the update tab tells where updates come from instead.
  if (config.IsInstalled())
    OpenUpdatePage(GetHWND());
  else
    config.StartUpdater(3);
}

bool MainWnd::OnUserHover(void* param) {
  auto* event = static_cast<TEventUI*>(param);
  if (event->Type == UIEVENT_MOUSEENTER) {
    ShowUserPopup();
  } else if (event->Type == UIEVENT_MOUSELEAVE && userInfo_ && userInfo_->GetHWND()) {
    const RECT popup = userInfo_->GetWindowRect();
    const POINT cursor = GetCursorPos();
    if (!popup.Contains(cursor.x, cursor.y)) userInfo_->ShowWindow(false);
  }
  return true;
}

void MainWnd::ShowUserPopup() {
  CControlUI* userButton = m_pm.FindControl("btn_user");
  if (!userButton) return;
  if (!userInfo_) {
    userInfo_ = std::make_unique<UserInfoWnd>();
    userInfo_->SetMainWnd(this);
    userInfo_->Create(GetHWND(), "", UI_WNDSTYLE_DIALOG, 0);
  }
  if (!userInfo_->GetHWND()) return;
  const RECT button = userButton->GetPos();
  const POINT at = ClientToScreen({button.left + m_pm.ScaleValue(12), button.bottom - m_pm.ScaleValue(2)});
  userInfo_->MoveWindow(at.x, at.y);
  userInfo_->RefreshUserInfoPopup();
  userInfo_->ShowWindow(true, true);
}

LRESULT MainWnd::OnMouseMove(UINT, WPARAM, LPARAM lParam, bool& handled) {
  handled = false;  // the controls still see every move
  if (picker_) picker_->HideIfOutside({GET_X_LPARAM(lParam), GET_Y_LPARAM(lParam)});
  return 0;
}

LRESULT MainWnd::HandleMessage(UINT msg, WPARAM wParam, LPARAM lParam) {
  switch (msg) {
    case WM_TRAYICON:
      if (lParam == WM_LBUTTONDOWN) ShowFromTray();
      else if (lParam == WM_RBUTTONDOWN) ShowTrayMenu();
      break;
    case WM_SHOWMAINWND:
      // A second start: back from the tray, restored, in front, and an open
      // modal popup in front of it.
      tray_.Remove();
      BringToFrontWithPopup(GetHWND());
      break;
    case WM_COMMAND:
      if (wParam == kTrayExitCommand) Close(0);
      break;
    case WM_KEYDOWN:
      // Ctrl+C never reaches the base or the controls.
      if (GetKeyState(VK_CONTROL) < 0 && GetKeyState('C') < 0) return 0;
      break;
    case WM_DROPFILES:
      RouteDrop(reinterpret_cast<HDROP>(wParam));
      break;
    default:
      break;
  }
  return CWindowImplBaseUI::HandleMessage(msg, wParam, lParam);
}

void MainWnd::OnFinalMessage(HWND hwnd) {
  tray_.Remove();
  // Reports of a task still running must not reach a window that is gone.
  if (bridge_) TransTaskManager::Instance().SetNotifier(nullptr);
  AccountService::Instance().SetMainWindow(nullptr);
  CWindowImplBaseUI::OnFinalMessage(hwnd);
}

}  // namespace quillora
