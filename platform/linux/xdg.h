#pragma once
// XDG base folders and small file helpers shared by the Linux implementation.
#include <string>
#include <string_view>
#include <vector>

#include <sys/types.h>

namespace quillora::platform::linux_impl {

// $HOME, or the password database's home folder; empty when neither is known.
std::string HomeFolder();

// $XDG_CONFIG_HOME when it is an absolute path, else $HOME/.config.
std::string ConfigHome();

// Creates `folder` and its missing parents with `mode`. True when it exists
// as a folder afterwards.
bool MakeFolders(const std::string& folder, mode_t mode);

// Writes `content` to a new temporary file beside `path` created with `mode`
// (subject to the umask), flushes it to disk and renames it over `path`.
// Unless `replace`, it is linked to `path` instead, so whatever stands there
// stays and the result is EEXIST. Returns 0 or an errno value.
int WriteFileAtomically(const std::string& path, std::string_view content, mode_t mode, bool replace = true);

// Starts a child process; `searchPath` looks a bare name up in PATH. Returns
// the child's id, or -1 with errno set.
pid_t SpawnChild(const std::string& program, const std::vector<std::string>& arguments, bool searchPath);

// Reaps `pid` on a detached thread so that no zombie stays behind.
void ReapInBackground(pid_t pid);

// The full path of `name` found in PATH, or empty.
std::string FindInPath(const std::string& name);

}  // namespace quillora::platform::linux_impl
