#include <sys/utsname.h>

#include "common/ini.h"
#include "platform/os_name.h"

namespace quillora::platform {

std::string QueryOsName() {
  for (const char* file : {"/etc/os-release", "/usr/lib/os-release"}) {
    if (auto text = ReadTextFile(file)) {
      std::string name = OsNameFromOsRelease(*text);
      if (!name.empty()) return name;
    }
  }
  utsname u{};
  if (::uname(&u) == 0) return std::string(u.sysname) + " " + u.release;
  return {};
}

}  // namespace quillora::platform
