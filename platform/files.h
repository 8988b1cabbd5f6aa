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

// Creates `path` with `content`, readable by the user only, unless something
// already stands there (a file or a link, also one that a concurrent start
// creates meanwhile): that is never replaced. The content goes to a new file
// beside `path` first, so `path` appears whole or not at all. 0 on success,
// otherwise a platform error number (the one for "exists" included).
int CreateFilePrivatelyIfAbsent(const std::string& path, std::string_view content);

// Creates `folder` and its missing parents, each new one for the user only.
// True when it exists as a folder afterwards.
bool CreatePrivateFolders(const std::string& folder);

// True when the error number of CreateFilePrivatelyIfAbsent means "exists".
bool IsAlreadyExistsError(int error);

}  // namespace quillora::platform
