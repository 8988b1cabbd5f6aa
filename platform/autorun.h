#pragma once
// Starting the program with the user's desktop session.
#include <string>
#include <utility>
#include <vector>

namespace quillora::platform {

// Environment variables (name, value) that the started program must see.
using AutoRunEnvironment = std::vector<std::pair<std::string, std::string>>;

// Registers `executablePath` to start when the user signs in, with
// `environment` set for it (a portable installation names its settings
// folder so). Returns 0 on success, otherwise a platform error number.
int EnableAutoRunEntry(const std::string& executablePath, const AutoRunEnvironment& environment = {});

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
