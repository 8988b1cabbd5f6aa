#pragma once
// WorkspaceHostWnd: a window that carries the four translation pages as tabs
// ("opt_doc_trans", "opt_voice_trans", "opt_pic_trans", "opt_short_trans"
// over "ly_main") with the language picker, routes dropped files to the page
// on show and hides the picker when the mouse leaves it: the pages' setting
// in the main window, for tests, the benchmark and the workspace-host tool.
//
// Whoever creates it points the task manager at Bridge() once the window
// exists, and destroys a private manager before the window.
#include <memory>

#include "ui/UIlib.h"
#include "workspace/file_trans_page.h"
#include "workspace/select_language.h"
#include "workspace/task_bridge.h"
#include "workspace/text_trans_page.h"

namespace quillora::workspace {

class WorkspaceHostWnd : public DirectUI::CWindowImplBaseUI {
 public:
  WorkspaceHostWnd();
  ~WorkspaceHostWnd() override;

  std::string GetWindowClassName() const override { return "WorkspaceHostWnd"; }
  std::string GetSkinFile() override { return "WorkspaceHost.xml"; }
  void InitWindow() override;
  DirectUI::CControlUI* CreateControl(const std::string& className) override;
  DirectUI::LRESULT HandleMessage(DirectUI::UINT msg, DirectUI::WPARAM wParam, DirectUI::LPARAM lParam) override;

  // Shows page 0..3 and lets the window accept drops only where the page
  // takes them (an empty file page).
  void SwitchPage(int index);
  int CurrentPage() const;

  TaskNotificationBridge* Bridge() const { return bridge_.get(); }
  SelectLanguage* Picker() const { return picker_; }
  FileTransPage* FilePage(int index) const;  // 0..2
  TextTransPage* TextPage() const { return textPage_; }

  void OnTabSelected(DirectUI::TNotifyUI& msg);
  DUI_DECLARE_MESSAGE_MAP()

 private:
  void RouteDrop(DirectUI::HDROP drop);

  std::unique_ptr<TaskNotificationBridge> bridge_;
  DirectUI::CTabLayoutUI* lyMain_ = nullptr;
  SelectLanguage* picker_ = nullptr;
  FileTransPage* filePages_[3] = {};
  TextTransPage* textPage_ = nullptr;
};

}  // namespace quillora::workspace
