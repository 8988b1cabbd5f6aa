#pragma once
// What the translation pages call outside the toolkit, gathered in one place
// so a host can redirect it: the task queue, the file manager and the
// open-file dialog. By default the pages use the process's task manager, the
// platform's reveal-in-file-manager and the toolkit's open-file dialog.
//
// UI thread only; set before the pages are built and left alone afterwards.
#include <functional>
#include <optional>
#include <string>

#include "ui/ui_types.h"

namespace quillora {
class TransTaskManager;
}

namespace quillora::workspace {

struct OpenFileRequest {
  DirectUI::HWND owner = nullptr;
  std::string filterText;     // "文档 (WORD, EXCEL, PPT, PDF)"
  std::string filterPattern;  // "*.doc;*.docx;..."
};

struct PageServices {
  // Null: TransTaskManager::Instance().
  TransTaskManager* tasks = nullptr;
  // Shows a result file selected in the file manager.
  std::function<bool(const std::string& path)> reveal;
  // Asks the user for one file; nothing when cancelled.
  std::function<std::optional<std::string>(const OpenFileRequest&)> chooseFile;
};

// Replaces the services; empty members fall back to the defaults.
void SetPageServices(PageServices services);

TransTaskManager& PageTaskManager();
bool RevealFile(const std::string& path);
std::optional<std::string> ChooseOpenFile(const OpenFileRequest& request);

}  // namespace quillora::workspace
