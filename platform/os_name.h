#pragma once
// The short name of the operating system that the service receives as the
// device type.
#include <optional>
#include <string>
#include <string_view>

namespace quillora::platform {

// What a Windows build learns from the version queries.
struct WindowsVersionInfo {
  // From the kernel's own version numbers, when that query is available.
  std::optional<unsigned> ntMajor;
  std::optional<unsigned> ntMinor;
  // From the extended version query and the system information query.
  unsigned major = 0;
  unsigned minor = 0;
  bool platformNt = true;         // false: the Windows 9x platform
  bool workstation = true;        // product type: workstation (false: server or domain controller)
  bool amd64Processor = false;    // processor architecture AMD64
};

// The short Windows name ("10", "8.1", "7", "XP", "Server 2008 R2", ...) or
// empty for a version outside the table.
std::string WindowsVersionName(const WindowsVersionInfo& info);

// "NAME VERSION_ID" from the text of an os-release file (values may be
// quoted), falling back to PRETTY_NAME and then NAME alone. Empty when the
// text names nothing.
std::string OsNameFromOsRelease(std::string_view osReleaseText);

// The running system's short name: the Windows table on Windows, the
// distribution's name and version elsewhere. Empty when unknown.
std::string QueryOsName();

}  // namespace quillora::platform
