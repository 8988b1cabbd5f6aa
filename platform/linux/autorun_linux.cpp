#include <cerrno>

#include <unistd.h>

#include "platform/autorun.h"
#include "platform/linux/desktop_entry.h"
#include "platform/linux/xdg.h"
#include "platform/paths.h"

namespace quillora::platform {
namespace linux_impl {

std::string DesktopExecArgument(const std::string& argument) {
  std::string quoted = "\"";
  for (char c : argument) {
    if (c == '"' || c == '`' || c == '$' || c == '\\') quoted += '\\';
    if (c == '%') quoted += '%';
    quoted += c;
  }
  quoted += '"';
  std::string escaped;
  for (char c : quoted) {
    switch (c) {
      case '\\': escaped += "\\\\"; break;
      case '\n': escaped += "\\n"; break;
      case '\r': escaped += "\\r"; break;
      case '\t': escaped += "\\t"; break;
      default: escaped += c;
    }
  }
  return escaped;
}

std::string AutostartDesktopEntry(const std::string& executablePath, const AutoRunEnvironment& environment) {
  std::string exec;
  if (!environment.empty()) {
    exec = "env ";
    for (const auto& [name, value] : environment) exec += DesktopExecArgument(name + "=" + value) + " ";
  }
  exec += DesktopExecArgument(executablePath);
  return "[Desktop Entry]\n"
         "Type=Application\n"
         "Name=Quillora\n"
         "Exec=" + exec + "\n"
         "Terminal=false\n"
         "X-GNOME-Autostart-enabled=true\n";
}

}  // namespace linux_impl

std::string AutoRunEntryPath() {
  const std::string config = linux_impl::ConfigHome();
  return config.empty() ? std::string() : config + "/autostart/Quillora.desktop";
}

int EnableAutoRunEntry(const std::string& executablePath, const AutoRunEnvironment& environment) {
  if (executablePath.empty()) return ENOENT;
  const std::string path = AutoRunEntryPath();
  if (path.empty()) return ENOENT;
  if (!linux_impl::MakeFolders(path.substr(0, path.find_last_of('/')), 0700)) return errno ? errno : EIO;
  return linux_impl::WriteFileAtomically(path, linux_impl::AutostartDesktopEntry(executablePath, environment), 0644);
}

int EnableAutoRunEntry() { return EnableAutoRunEntry(GetExecutablePath()); }

int DisableAutoRunEntry() {
  const std::string path = AutoRunEntryPath();
  if (path.empty()) return 0;
  if (::unlink(path.c_str()) == 0 || errno == ENOENT) return 0;
  return errno;
}

bool IsAutoRunEntryPresent() {
  const std::string path = AutoRunEntryPath();
  return !path.empty() && ::access(path.c_str(), F_OK) == 0;
}

}  // namespace quillora::platform
