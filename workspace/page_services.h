#pragma once
// What the translation pages call outside the toolkit, gathered in one place
// so a host can redirect it: the task queue and the file manager. By default
// the pages use the process's task manager and the platform's
// reveal-in-file-manager. (The open-file dialog is the toolkit's, which has
// its own chooser seam: DirectUI::SetDialogChooser.)
//
// UI thread only; set before the pages are built and left alone afterwards.
#include <functional>
#include <string>

namespace quillora {
class TransTaskManager;
}

namespace quillora::workspace {

struct PageServices {
  // Null: TransTaskManager::Instance().
  TransTaskManager* tasks = nullptr;
  // Shows a result file selected in the file manager.
  std::function<bool(const std::string& path)> reveal;
};

// Replaces the services; empty members fall back to the defaults.
void SetPageServices(PageServices services);

TransTaskManager& PageTaskManager();
bool RevealFile(const std::string& path);

}  // namespace quillora::workspace
