// workspace-host: the four translation pages in a window of their own, on the
// program's task road (the layout's set.ini, platform/layout.h, says where the
// service is; ./scripts/run.sh points it at the emulator). Skin
// files come from "skin" beside the executable, or the folder given.
#include <string>

#include "app/config/app_config.h"
#include "service/trans_task_manager.h"
#include "service/transport/remote_services.h"
#include "workspace/host/workspace_host.h"

int main(int argc, char** argv) {
  using namespace DirectUI;
  quillora::AppConfig::LeaveFirstRunToTheProgram();
  quillora::ConfigureRemoteServices(quillora::AppConfig::Instance().GetServiceSettings());
  EnsureApplication();
  CPaintManagerUI::SetResourcePath(argc > 1 ? argv[1] : CPaintManagerUI::GetInstancePath() + "skin");
  quillora::workspace::WorkspaceHostWnd wnd;
  if (!wnd.Create(nullptr, "Quillora", UI_WNDSTYLE_FRAME, 0)) return 1;
  quillora::TransTaskManager::Instance().SetNotifier(wnd.Bridge());
  wnd.CenterWindow();
  wnd.ShowModal();
  // The process's manager lives on; nothing may reach the closed window.
  quillora::TransTaskManager::Instance().SetNotifier(nullptr);
  return 0;
}
