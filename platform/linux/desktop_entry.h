#pragma once
#include <string>

#include "platform/autorun.h"

namespace quillora::platform::linux_impl {

// `argument` as one argument of a desktop entry's Exec key: quoted, with the
// quoting escapes for '"', '`', '$' and '\', "%" doubled, and then the
// string-value escapes of the desktop-entry format applied.
std::string DesktopExecArgument(const std::string& argument);

// The autostart entry that starts `executablePath`, through env(1) with the
// variables of `environment` when there are any.
std::string AutostartDesktopEntry(const std::string& executablePath, const AutoRunEnvironment& environment = {});

}  // namespace quillora::platform::linux_impl
