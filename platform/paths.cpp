#include "platform/paths.h"

namespace quillora::platform {

std::string WithTrailingSeparator(std::string folder) {
  if (!folder.empty() && folder.back() != kPathSeparator[0]) folder += kPathSeparator;
  return folder;
}

}  // namespace quillora::platform
