#include "platform/files.h"

#include <cerrno>
#include "platform/linux/xdg.h"

namespace quillora::platform {

bool ReplaceFilePrivately(const std::string& path, std::string_view content) {
  return !path.empty() && linux_impl::WriteFileAtomically(path, content, 0600) == 0;
}

int CreateFilePrivatelyIfAbsent(const std::string& path, std::string_view content) {
  if (path.empty()) return ENOENT;
  return linux_impl::WriteFileAtomically(path, content, 0600, false);
}

bool CreatePrivateFolders(const std::string& folder) { return linux_impl::MakeFolders(folder, 0700); }

bool IsAlreadyExistsError(int error) { return error == EEXIST; }

}  // namespace quillora::platform
