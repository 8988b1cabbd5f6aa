#include "app/shell/user_center_page.h"

#include "account/session/user_session.h"
#include "app/config/app_config.h"
#include "app/shell/user_picture.h"
#include "update/update_check.h"

namespace quillora {

using namespace DirectUI;

namespace {

template <class T>
T* Find(CPaintManagerUI& pm, const char* name) {
  return static_cast<T*>(pm.FindControl(name));
}

void Select(COptionUI* option, bool selected) {
  if (option) option->Selected(selected);
}

// `tab`: the option of the tab to open on; null for the user tab.
UINT RunCenter(HWND owner, const char* tab) {
  UserCenterPage page;
  page.Create(owner, "", UI_WNDSTYLE_DIALOG | WS_VISIBLE, 0);
  if (tab) {
    CPaintManagerUI& pm = page.GetPaintManager();
    if (CControlUI* user = pm.FindControl("opt_user_info"); user && !UserSession::Instance().IsSignedIn())
      user->SetVisible(false);
    Select(Find<COptionUI>(pm, tab), true);
  }
  page.CenterWindow();
  return page.ShowModal();
}

}  // namespace

UINT OpenUserCenter(HWND owner) { return RunCenter(owner, nullptr); }

UINT OpenSettingsPage(HWND owner) { return RunCenter(owner, "opt_set"); }

UINT OpenUpdatePage(HWND owner) { return RunCenter(owner, "opt_update"); }

DUI_BEGIN_MESSAGE_MAP(UserCenterPage, CWindowImplBaseUI)
DUI_ON_CLICK_CTRNAME("btn_path", OnChooseOutputFolder)
DUI_ON_SELECTCHANGED_CTRNAME("opt_user_info", OnTabSelected)
DUI_ON_SELECTCHANGED_CTRNAME("opt_set", OnTabSelected)
DUI_ON_SELECTCHANGED_CTRNAME("opt_help", OnTabSelected)
DUI_ON_SELECTCHANGED_CTRNAME("opt_update", OnTabSelected)
DUI_ON_SELECTCHANGED_CTRNAME("opt_auto_run", OnAutoRun)
DUI_ON_SELECTCHANGED_CTRNAME("opt_auto_update", OnAutoUpdate)
DUI_ON_SELECTCHANGED_CTRNAME("opt_close_hide", OnCloseHide)
DUI_ON_SELECTCHANGED_CTRNAME("opt_close_exit", OnCloseExit)
DUI_ON_CLICK_CTRNAME("btn_update", OnUpdateNow)
DUI_END_MESSAGE_MAP()

UserCenterPage::UserCenterPage() : UserCenterPage(AppConfig::Instance()) {}

UserCenterPage::UserCenterPage(AppConfig& config) : config_(config) {}

void UserCenterPage::InitWindow() {
  center_ = Find<CTabLayoutUI>(m_pm, "ly_center");
  Select(Find<COptionUI>(m_pm, "opt_user_info"), true);
  autoRun_ = Find<COptionUI>(m_pm, "opt_auto_run");
  autoUpdate_ = Find<COptionUI>(m_pm, "opt_auto_update");
  closeExit_ = Find<COptionUI>(m_pm, "opt_close_exit");
  closeHide_ = Find<COptionUI>(m_pm, "opt_close_hide");
  path_ = Find<CLabelUI>(m_pm, "lb_path");
  saveError_ = Find<CLabelUI>(m_pm, "lb_save_error");
  FillUpdateTab();
  FillSettingsTab();
  FillUserTab();
}

void UserCenterPage::FillUpdateTab() {
  if (CControlUI* note = m_pm.FindControl("lb_package_note")) note->SetVisible(config_.IsInstalled());
  const std::string latest = GetLatestVersion();
  CControlUI* version = m_pm.FindControl("lb_ver");
  CControlUI* update = m_pm.FindControl("btn_update");
  if (latest.empty()) {
    if (version) version->SetText("V" + config_.GetVersion());
    if (update) update->SetVisible(false);
    return;
  }
  if (CControlUI* status = m_pm.FindControl("lb_status")) status->SetText("有更新版本");
  if (version) version->SetText(latest);
  // An installed program is updated by the package manager, never by us.
  if (update) update->SetVisible(!config_.IsInstalled());
}

void UserCenterPage::FillSettingsTab() {
  // A selection that differs from the skin raises "selectchanged", so the
  // handlers write the same values back (and renew the autostart entry).
  Select(autoRun_, config_.IsAutoRun());
  Select(autoUpdate_, config_.IsAutoUpdate());
  Select(config_.IsCloseExit() ? closeExit_ : closeHide_, true);
  // Without a tray the close button always ends the program; the stored
  // choice is kept for a desktop that has one.
  const bool tray = CTrayIcon::IsTrayAvailable();
  if (closeHide_) closeHide_->SetEnabled(tray);
  if (CControlUI* reason = m_pm.FindControl("lb_no_tray")) reason->SetVisible(!tray);
  if (path_) path_->SetText(config_.GetExportPath());
}

void UserCenterPage::FillUserTab() {
  UserSession& session = UserSession::Instance();
  const SessionData user = session.Snapshot();
  const std::string name = session.GetDisplayName();
  if (CControlUI* nick = m_pm.FindControl("lb_nick_name")) nick->SetText(name);
  if (CControlUI* account = m_pm.FindControl("lb_name"))
    account->SetText(user.loginType == LoginType::Other ? "未绑定账户" : name);
  if (auto* buttons = Find<CTabLayoutUI>(m_pm, "ly_btn")) buttons->SelectItem(0);
  if (CControlUI* id = m_pm.FindControl("lb_ID")) id->SetText(user.uid);
  if (CControlUI* icon = m_pm.FindControl("btn_icon")) {
    const std::string picture = ExistingUserPictureFile(user.usertoken);
    icon->SetBkImage(picture.empty() ? "UserCentericon-weidenglu4.png" : PictureImageAttribute(picture));
  }
}

void UserCenterPage::OnFinalMessage(HWND hwnd) {
  if (config_.IsAutoRun()) config_.StartUpdater(2);
  CWindowImplBaseUI::OnFinalMessage(hwnd);
}

void UserCenterPage::OnTabSelected(TNotifyUI& msg) {
  static const char* const kTabs[] = {"opt_user_info", "opt_set", "opt_help", "opt_update"};
  if (!center_) return;
  for (int i = 0; i < 4; ++i)
    if (msg.pSender->GetName() == kTabs[i]) center_->SelectItem(i);
}

void UserCenterPage::OnAutoRun(TNotifyUI&) {
  const bool on = autoRun_ && autoRun_->IsSelected();
  bool stored = config_.SetAutoRun(on);
  stored = (on ? config_.EnableAutoRunEntry() : config_.DisableAutoRunEntry()) == 0 && stored;
  ReportSave(stored, "开机自动启动");
}

void UserCenterPage::OnAutoUpdate(TNotifyUI&) {
  ReportSave(config_.SetAutoUpdate(autoUpdate_ && autoUpdate_->IsSelected()), "自动更新");
}

void UserCenterPage::OnCloseHide(TNotifyUI&) { ReportSave(config_.SetCloseExit(false), "关闭按钮"); }

void UserCenterPage::OnCloseExit(TNotifyUI&) { ReportSave(config_.SetCloseExit(true), "关闭按钮"); }

void UserCenterPage::OnUpdateNow(TNotifyUI&) { config_.StartUpdater(3); }

void UserCenterPage::OnChooseOutputFolder(TNotifyUI&) {
  EnableWindow(false);
  const std::string folder = BrowseForFolder(GetHWND(), "从下面选文件夹目录:", config_.GetExportPath());
  if (!folder.empty()) SetOutputFolder(folder);
  EnableWindow(true);
}

void UserCenterPage::SetOutputFolder(const std::string& path) {
  if (path_) path_->SetText(path);
  ReportSave(config_.SetExportPath(path), "译文保存位置");
}

void UserCenterPage::ReportSave(bool stored, const std::string& what) {
  if (!saveError_) return;
  if (stored) {
    saveError_->SetVisible(false);
    return;
  }
  // The value holds for this run; say so rather than pretend it was kept.
  saveError_->SetText("“" + what + "”的更改未能保存到 " + config_.GetSettingsFilePath() +
                      "，本次运行仍然有效，重启后会恢复原值。");
  saveError_->SetVisible(true);
}

}  // namespace quillora
