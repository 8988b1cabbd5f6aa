#pragma once
// The small popup under the main window's user button: the user's name and
// picture, and the ways to the user centre, to another account and out.
#include "ui/UIlib.h"

namespace quillora {

class MainWnd;

class UserInfoWnd : public DirectUI::CWindowImplBaseUI {
 public:
  std::string GetWindowClassName() const override { return "UserInfoWnd"; }
  std::string GetSkinFile() override { return "userinfo.xml"; }

  // The main window that shows this popup; its user area follows sign-outs.
  void SetMainWnd(MainWnd* mainWnd) { mainWnd_ = mainWnd; }
  // Shows the signed-in user's name and picture; changes nothing while
  // nobody is signed in.
  void RefreshUserInfoPopup();

  DirectUI::LRESULT HandleMessage(DirectUI::UINT msg, DirectUI::WPARAM wParam, DirectUI::LPARAM lParam) override;

  void OnUserCenter(DirectUI::TNotifyUI& msg);
  void OnChangeUser(DirectUI::TNotifyUI& msg);
  void OnLogout(DirectUI::TNotifyUI& msg);
  DUI_DECLARE_MESSAGE_MAP()

 private:
  // Hides the popup and signs the session out, telling the main window.
  void SignOutFromPopup();

  MainWnd* mainWnd_ = nullptr;
};

}  // namespace quillora
