#include "workspace/page_services.h"

#include <utility>

#include "platform/shell.h"
#include "service/trans_task_manager.h"

namespace quillora::workspace {
namespace {

PageServices& Current() {
  static PageServices services;
  return services;
}

}  // namespace

void SetPageServices(PageServices services) { Current() = std::move(services); }

TransTaskManager& PageTaskManager() {
  TransTaskManager* tasks = Current().tasks;
  return tasks ? *tasks : TransTaskManager::Instance();
}

bool RevealFile(const std::string& path) {
  const auto& reveal = Current().reveal;
  return reveal ? reveal(path) : platform::RevealInFileManager(path);
}

}  // namespace quillora::workspace
