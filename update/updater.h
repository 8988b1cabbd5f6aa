#pragma once
// The Update program's work, apart from its entry routine so that the steps
// read in order: arguments, the update request, the mode decision, and the
// checked download and start of the installer.
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "update/update_request.h"

namespace quillora::updater {

// The arguments after the program's own path, joined by blanks and split
// again at every blank with empty pieces dropped. The main program passes
// them as separate arguments, older callers as one string; both give the same
// pieces, and two blanks count as one separator.
std::vector<std::string> SplitArguments(const std::vector<std::string>& arguments);

enum class Action { kNothing, kStart, kDownload, kDownloadThenStart };

// What a mode asks for, given the answer and whether the installer is already
// on disk. Only an answer with code 1 leads to any action.
Action DecideAction(std::string_view mode, const UpdateAnswer& answer, bool installerPresent);

// Largest installer accepted: far above any real one, far below what would
// fill a disk.
inline constexpr std::uint64_t kMaxInstallerBytes = std::uint64_t{512} << 20;

// Downloads `url` (at most kMaxInstallerBytes) into a staging file beside
// `installerPath`, checks it
// (complete body with a success status; the MD5 when `expectedMd5` is not
// empty), makes it executable and only then renames it to `installerPath`,
// replacing what was there. On failure the staging file is removed and
// `installerPath` is left as it was.
bool DownloadInstaller(const std::string& url, const std::string& installerPath,
                       const std::string& expectedMd5);

// Makes the file executable and starts it without arguments and without
// waiting. False when it could not be started.
bool StartInstaller(const std::string& installerPath);

// Exit codes. The portable layout always ends with 0. The installed layout
// only reports: 0 when no newer version exists, kExitUpdateAvailable (with a
// line on standard output naming the version) when one does, and
// kExitCheckFailed (with a line on standard error) when the service gave no
// usable answer.
inline constexpr int kExitUpToDate = 0;
inline constexpr int kExitCheckFailed = 1;
inline constexpr int kExitUpdateAvailable = 2;

// The whole program after libcurl's initialisation: `arguments` are those
// after the program's own path; returns the exit code. Reads the "Service"
// section of the layout's set.ini (platform/layout.h). In the portable layout
// it writes the installer into the program's folder; in the installed layout
// it writes nothing and downloads nothing: updating is the package manager's
// job.
int Run(const std::vector<std::string>& arguments);

}  // namespace quillora::updater
