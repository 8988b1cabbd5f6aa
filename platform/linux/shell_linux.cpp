#include <cerrno>
#include <thread>
#include <vector>

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
  if (path[0] != '/') return OpenDetached(folder);

  // The file manager interface selects the file; ask it through whichever
  // bus tool is present. The URI is fully percent-encoded, so it needs no
  // quoting in either tool's argument syntax (not even the comma that
  // dbus-send splits arrays on).
  const std::string uri = FileUriFromPath(path);
  std::string tool = linux_impl::FindInPath("gdbus");
  std::vector<std::string> args;
  if (!tool.empty()) {
    args = {"call", "--session", "--dest", "org.freedesktop.FileManager1", "--object-path",
            "/org/freedesktop/FileManager1", "--method", "org.freedesktop.FileManager1.ShowItems",
            "['" + uri + "']", ""};
  } else if (tool = linux_impl::FindInPath("dbus-send"); !tool.empty()) {
    args = {"--session", "--print-reply", "--dest=org.freedesktop.FileManager1", "--type=method_call",
            "/org/freedesktop/FileManager1", "org.freedesktop.FileManager1.ShowItems", "array:string:" + uri,
            "string:"};
  }
  const pid_t pid = tool.empty() ? -1 : linux_impl::SpawnChild(tool, args, false);
  if (pid < 0) return OpenDetached(folder);
  // When no file manager answers on the session bus, open the folder instead.
  std::thread([pid, folder] {
    if (WaitFor(pid) != 0) OpenDetached(folder);
  }).detach();
  return true;
}

}  // namespace quillora::platform
