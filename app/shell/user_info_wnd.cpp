#include "app/shell/user_info_wnd.h"

#include "account/session/user_session.h"
#include "app/config/app_config.h"
#include "app/shell/main_wnd.h"
#include "app/shell/user_center_page.h"
#include "app/shell/user_picture.h"

namespace quillora {

using namespace DirectUI;

DUI_BEGIN_MESSAGE_MAP(UserInfoWnd, CWindowImplBaseUI)
DUI_ON_CLICK_CTRNAME("btn_user_center", OnUserCenter)
DUI_ON_CLICK_CTRNAME("btn_change_user", OnChangeUser)
DUI_ON_CLICK_CTRNAME("btn_logout", OnLogout)
DUI_END_MESSAGE_MAP()

void UserInfoWnd::RefreshUserInfoPopup() {
  const SessionData user = UserSession::Instance().Snapshot();
  if (user.loginType == LoginType::SignedOut) return;
  if (CControlUI* name = m_pm.FindControl("lb_name")) name->SetText(UserSession::Instance().GetDisplayName());
  if (CControlUI* icon = m_pm.FindControl("lb_icon")) {
    const std::string picture = ExistingUserPictureFile(user.usertoken);
    icon->SetBkImage(picture.empty() ? "mainWnd/icon-weidenglu2.png" : PictureImageAttribute(picture));
  }
}

LRESULT UserInfoWnd::HandleMessage(UINT msg, WPARAM wParam, LPARAM lParam) {
  if (msg == WM_MOUSELEAVE) ShowWindow(false);
  return CWindowImplBaseUI::HandleMessage(msg, wParam, lParam);
}

void UserInfoWnd::OnUserCenter(TNotifyUI&) {
  ShowWindow(false);
  if (mainWnd_) OpenUserCenter(mainWnd_->GetHWND());
}

void UserInfoWnd::SignOutFromPopup() {
  ShowWindow(false);
  UserSession::Instance().Clear();
  AppConfig::Instance().SaveLogin();
  if (mainWnd_) mainWnd_->RefreshUserInfo();
}

void UserInfoWnd::OnChangeUser(TNotifyUI&) {
  SignOutFromPopup();
  if (mainWnd_) mainWnd_->OpenLoginWindow(0);
}

void UserInfoWnd::OnLogout(TNotifyUI&) { SignOutFromPopup(); }

}  // namespace quillora
