#pragma once
// Starting the program with the user's desktop session.
#include <string>

namespace quillora::platform {

// Registers `executablePath` to start when the user signs in. Returns 0 on
// success, otherwise a platform error number.
int EnableAutoRunEntry(const std::string& executablePath);

// Registers the running executable.
int EnableAutoRunEntry();

// Removes the entry. Returns 0 on success (also when there was none),
// otherwise a platform error number.
int DisableAutoRunEntry();

// True when the entry exists.
bool IsAutoRunEntryPresent();

// The file that holds the entry (for messages and tests).
std::string AutoRunEntryPath();

}  // namespace quillora::platform
