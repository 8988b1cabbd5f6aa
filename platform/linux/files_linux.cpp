#include "platform/files.h"
#include "platform/linux/xdg.h"

namespace quillora::platform {

bool ReplaceFilePrivately(const std::string& path, std::string_view content) {
  return !path.empty() && linux_impl::WriteFileAtomically(path, content, 0600) == 0;
}

}  // namespace quillora::platform
