#pragma once
// The program's only top-level window: the four translation pages as tabs of
// "ly_main", the user area, the "more" menu, the first-run guide, and the
// tray icon that stands for the window while it is hidden.
#include <memory>
#include <string>

#include "account/window_links.h"
#include "ui/UIlib.h"

namespace quillora {

namespace platform {
class SingleInstance;
}
namespace workspace {
class FileTransPage;
class SelectLanguage;
class TaskNotificationBridge;
class TextTransPage;
}  // namespace workspace
class UserInfoWnd;

// A second start asks the running window to show itself.
inline constexpr DirectUI::UINT WM_SHOWMAINWND = DirectUI::WM_USER + 1001;
// The tray icon's clicks; lParam is the mouse message.
inline constexpr DirectUI::UINT WM_TRAYICON = DirectUI::WM_USER + 123;
// The tray menu's only item, "退出".
inline constexpr DirectUI::WPARAM kTrayExitCommand = 4097;
// The property by which the running window is recognised; its value is -1.
inline constexpr char kInstanceMarker[] = "{3EDDADE6-86FA-4A45-8405-CB9D87FFE704}";

class MainWnd : public DirectUI::CWindowImplBaseUI, public MainWindowLink {
 public:
  MainWnd();
  ~MainWnd() override;

  // The guard whose show requests (a second start) this window answers.
  // Set before Create; may stay unset.
  void SetInstanceGuard(platform::SingleInstance* guard) { guard_ = guard; }

  std::string GetWindowClassName() const override { return "MainWnd"; }
  std::string GetSkinFile() override { return "main.xml"; }
  std::string GetSkinFolder() override { return "skin"; }
  void InitWindow() override;
  DirectUI::CControlUI* CreateControl(const std::string& className) override;
  DirectUI::LRESULT HandleMessage(DirectUI::UINT msg, DirectUI::WPARAM wParam, DirectUI::LPARAM lParam) override;
  void OnFinalMessage(DirectUI::HWND hwnd) override;

  // Asks for the user area to follow the session. Any thread: the refresh
  // itself runs on the window's thread.
  void RefreshUserInfo() override;
  // Opens the sign-in window (mode 0) or the bind-mobile window (mode 1)
  // modally over this window.
  void OpenLoginWindow(int mode);

  // What tests and the test driver look at.
  bool IsInTray() const { return tray_.IsAdded(); }
  DirectUI::CControlUI* GetGuide() const { return guide_; }
  UserInfoWnd* GetUserInfoPopup() const { return userInfo_.get(); }
  // The pages not in the first frame are built right after it, or when
  // first asked for.
  workspace::FileTransPage* GetFilePage(int index);  // 0..2
  workspace::TextTransPage* GetTextPage();
  int GetCurrentPage() const;

  void OnRefreshUserArea(DirectUI::TNotifyUI& msg);
  void OnWindowInit(DirectUI::TNotifyUI& msg);
  void OnLogin(DirectUI::TNotifyUI& msg);
  void OnBind(DirectUI::TNotifyUI& msg);
  void OnCloseGuide(DirectUI::TNotifyUI& msg);
  void OnCloseButton(DirectUI::TNotifyUI& msg);
  void OnMoreButton(DirectUI::TNotifyUI& msg);
  void OnTabSelected(DirectUI::TNotifyUI& msg);
  void OnContactService(DirectUI::TNotifyUI& msg);
  void OnSettings(DirectUI::TNotifyUI& msg);
  void OnCheckUpdate(DirectUI::TNotifyUI& msg);
  DUI_DECLARE_MESSAGE_MAP()

 protected:
  DirectUI::LRESULT OnMouseMove(DirectUI::UINT msg, DirectUI::WPARAM wParam, DirectUI::LPARAM lParam,
                      bool& handled) override;

 private:
  // The start-up steps that follow the first frame.
  void StartServices(bool resumeSignIn);
  void ShowUserArea();
  // Reads and checks the page and guide skins; a damaged one ends the start.
  void LoadSkins();
  // Builds the pages up to `index` (in tab order) that are not built yet.
  void BuildPagesUpTo(int index);
  void BuildGuide();
  // The saved sign-in: true when it can be resumed; otherwise the session
  // is cleared (and stored by ResumeSignIn).
  bool LoadSignIn();
  void ResumeSignIn(bool usable);
  void SwitchPage(int index);
  void RouteDrop(DirectUI::HDROP drop);
  void HideToTray();
  void ShowFromTray();
  void ShowTrayMenu();
  bool OnUserHover(void* event);
  void ShowUserPopup();
  void SetUserPicture(const std::string& userToken);

  platform::SingleInstance* guard_ = nullptr;
  DirectUI::CTabLayoutUI* main_ = nullptr;
  // The page skins, checked before the first frame; each is built once.
  std::shared_ptr<const DirectUI::CSkinTree> pageSkins_[4];
  std::shared_ptr<const DirectUI::CSkinTree> guideSkin_;
  int pagesBuilt_ = 0;
  workspace::SelectLanguage* picker_ = nullptr;
  workspace::FileTransPage* filePages_[3] = {};
  workspace::TextTransPage* textPage_ = nullptr;
  // Brings the task manager's reports to this window's thread.
  std::unique_ptr<workspace::TaskNotificationBridge> bridge_;
  DirectUI::CControlUI* guide_ = nullptr;  // in the tree, or null
  std::unique_ptr<UserInfoWnd> userInfo_;
  DirectUI::CTrayIcon tray_;
};

}  // namespace quillora
