#include "platform/linux/xdg.h"
#include "platform/process.h"

namespace quillora::platform {

bool StartProcess(const std::string& program, const std::vector<std::string>& arguments) {
  const pid_t pid = linux_impl::SpawnChild(program, arguments, false);
  if (pid < 0) return false;
  linux_impl::ReapInBackground(pid);
  return true;
}

bool StartProgramFromPath(const std::string& program, const std::vector<std::string>& arguments) {
  const pid_t pid = linux_impl::SpawnChild(program, arguments, true);
  if (pid < 0) return false;
  linux_impl::ReapInBackground(pid);
  return true;
}

}  // namespace quillora::platform
