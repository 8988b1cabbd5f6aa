#include <cerrno>
#include <thread>

#include <sys/wait.h>
#include <unistd.h>

#include "platform/linux/xdg.h"
#include "platform/shell.h"

namespace quillora::platform {
namespace {

// A relative path that starts with "-" would read as an option to the opener.
std::string SafeTarget(const std::string& target) { return !target.empty() && target[0] == '-' ? "./" + target : target; }

bool OpenDetached(const std::string& target) {
  const pid_t pid = linux_impl::SpawnChild("xdg-open", {SafeTarget(target)}, true);
  if (pid < 0) return false;
  linux_impl::ReapInBackground(pid);
  return true;
}

int WaitFor(pid_t pid) {
  int status = 0;
  while (::waitpid(pid, &status, 0) < 0) {
    if (errno != EINTR) return -1;
  }
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

}  // namespace

bool OpenWithDesktop(const std::string& urlOrPath) { return !urlOrPath.empty() && OpenDetached(urlOrPath); }

bool RevealInFileManager(const std::string& path) {
  if (path.empty()) return false;
  const size_t slash = path.find_last_of('/');
  const std::string folder = slash == std::string::npos ? "." : (slash == 0 ? "/" : path.substr(0, slash));
  const std::string gdbus = linux_impl::FindInPath("gdbus");
  if (gdbus.empty() || path[0] != '/') return OpenDetached(folder);

  // The file manager interface selects the file; when no file manager
  // answers on the session bus, open the folder instead.
  const pid_t pid = linux_impl::SpawnChild(
      gdbus,
      {"call", "--session", "--dest", "org.freedesktop.FileManager1", "--object-path",
       "/org/freedesktop/FileManager1", "--method", "org.freedesktop.FileManager1.ShowItems",
       "['" + FileUriFromPath(path) + "']", ""},
      false);
  if (pid < 0) return OpenDetached(folder);
  std::thread([pid, folder] {
    if (WaitFor(pid) != 0) OpenDetached(folder);
  }).detach();
  return true;
}

}  // namespace quillora::platform
