#pragma once
#include <string>

namespace quillora::platform::linux_impl {

// `argument` as one argument of a desktop entry's Exec key: quoted, with the
// quoting escapes for '"', '`', '$' and '\', "%" doubled, and then the
// string-value escapes of the desktop-entry format applied.
std::string DesktopExecArgument(const std::string& argument);

// The autostart entry that starts `executablePath`.
std::string AutostartDesktopEntry(const std::string& executablePath);

}  // namespace quillora::platform::linux_impl
