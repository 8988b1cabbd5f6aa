#pragma once
// The user centre: who is signed in, the program's options (each stored the
// moment it changes), help, and whether a newer version is known.
#include <string>

#include "ui/UIlib.h"

namespace quillora {

class AppConfig;

class UserCenterPage : public DirectUI::CWindowImplBaseUI {
 public:
  UserCenterPage();
  // Tests give their own store; the program uses AppConfig::Instance().
  explicit UserCenterPage(AppConfig& config);

  std::string GetWindowClassName() const override { return "UserCenterPage"; }
  std::string GetSkinFile() override { return "userCenter.xml"; }
  void InitWindow() override;
  void OnFinalMessage(DirectUI::HWND hwnd) override;

  void OnChooseOutputFolder(DirectUI::TNotifyUI& msg);
  void OnTabSelected(DirectUI::TNotifyUI& msg);
  void OnAutoRun(DirectUI::TNotifyUI& msg);
  void OnAutoUpdate(DirectUI::TNotifyUI& msg);
  void OnCloseHide(DirectUI::TNotifyUI& msg);
  void OnCloseExit(DirectUI::TNotifyUI& msg);
  void OnUpdateNow(DirectUI::TNotifyUI& msg);
  DUI_DECLARE_MESSAGE_MAP()


 private:
  void FillUpdateTab();
  void FillSettingsTab();
  void FillUserTab();
  // Shows or clears the "could not be saved" line after a settings write.
  void ReportSave(bool stored, const std::string& what);

  void SetOutputFolder(const std::string& path);

  AppConfig& config_;
  DirectUI::CTabLayoutUI* center_ = nullptr;
  DirectUI::COptionUI* autoRun_ = nullptr;
  DirectUI::COptionUI* autoUpdate_ = nullptr;
  DirectUI::COptionUI* closeExit_ = nullptr;
  DirectUI::COptionUI* closeHide_ = nullptr;
  DirectUI::CLabelUI* path_ = nullptr;
  DirectUI::CLabelUI* saveError_ = nullptr;
};

// Opens the user centre as a modal popup of `owner` on the user tab; returns
// its close code.
DirectUI::UINT OpenUserCenter(DirectUI::HWND owner);
// The same on the settings tab; the user tab is hidden while nobody is
// signed in.
DirectUI::UINT OpenSettingsPage(DirectUI::HWND owner);
// The same on the update tab.
DirectUI::UINT OpenUpdatePage(DirectUI::HWND owner);

}  // namespace quillora
