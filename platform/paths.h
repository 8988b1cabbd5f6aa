#pragma once
// Well-known folders of the running program and the current user.
// Every folder returned here ends with the platform's path separator, so a
// file name can be appended directly.
#include <string>

namespace quillora::platform {

// The platform's path separator as a one-character string.
#ifdef _WIN32
inline constexpr char kPathSeparator[] = "\\";
#else
inline constexpr char kPathSeparator[] = "/";
#endif

// Full path of the running executable; empty when it cannot be determined.
std::string GetExecutablePath();

// Folder of the running executable, with a trailing separator. Found once per
// process and cached. Empty when the executable's path cannot be determined.
std::string GetExecutableFolder();

// The per-user temporary folder, with a trailing separator.
std::string GetTempFolder();

// The user's Documents folder, without a trailing separator (as the shell
// reports it). Empty when no home folder is known.
std::string GetDocumentsFolder();

// The per-user folder in which the program keeps its own state (the
// key/value store), without a trailing separator. Not created here.
std::string GetUserStateFolder();

// `folder` with exactly one trailing separator added when it lacks one; an
// empty folder stays empty.
std::string WithTrailingSeparator(std::string folder);

}  // namespace quillora::platform
