#pragma once
// Whole-file writes that never leave a half-written file behind.
#include <string>
#include <string_view>

namespace quillora::platform {

// Writes `content` to a new file beside `path` that only the user may read,
// then renames it over `path`. Whatever stood at `path` is replaced, a
// symbolic link included (it is not followed), so a file in a shared folder
// cannot be redirected elsewhere. False on any failure; then `path` is
// unchanged.
bool ReplaceFilePrivately(const std::string& path, std::string_view content);

}  // namespace quillora::platform
