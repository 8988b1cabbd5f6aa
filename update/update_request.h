#pragma once
// The update-service conversation shared by the main program's check and the
// Update program: the request body, the answer fields and the installer name.
#include <cstdint>
#include <string>
#include <string_view>

namespace quillora {

// Answer codes of the update service.
inline constexpr int kUpdateAvailable = 1;
inline constexpr int kUpdateNone = 0;
inline constexpr int kUpdateNoneOther = 3;

// The update kind of an answer whose kind is not a whole number.
inline constexpr int64_t kUnreadableUpdateType = -1;

// The fields of an update answer. Only an answer with code 1 fills the
// description; every other answer leaves it empty and zero.
struct UpdateAnswer {
  bool parsed = false;      // false: no answer, or not a JSON object
  int code = 0;             // 0 when the answer does not parse
  std::string newVersion;   // "software_version"
  std::string downloadUrl;  // "software_download"
  // "software_update_type"; 0 when absent. A kind that is present but not a
  // whole number ("1", 1.5, true) reads as kUnreadableUpdateType: it must not
  // pass for 0, the kind that lets an update with automatic updates off go on.
  int64_t updateType = 0;
  // Lowercase hexadecimal MD5 of the installer ("software_md5"); empty when
  // the service does not send one.
  std::string installerMd5;
};

// The request body, members in this fixed order, every value a JSON string;
// "machine_code" and "guid" both carry the server time, "time" and "token"
// are empty. Values are escaped for JSON, so ordinary names and versions go
// out exactly as given and odd ones cannot break the document.
std::string BuildCheckUpdateBody(std::string_view name, std::string_view version,
                                 std::string_view package, int64_t serverTime);

// Reads an answer text. Never throws; anything malformed (not JSON, no
// integral "code", members of the wrong type) yields code 0 and no
// description.
UpdateAnswer ParseUpdateAnswer(std::string_view answer);

// Takes the server time from the statistics host (local clock as fallback),
// posts the request to the update host's "/ver1/checkUpdate" and returns the
// answer text: empty when no whole answer arrived or its HTTP status is not
// 2xx (an error page of a proxy or a failing host is no update answer). The remote services must have been
// configured for the process first.
std::string CheckUpdateRequest(std::string_view name, std::string_view version,
                               std::string_view package);

// "setup_" + name + "_" + version + ".exe".
std::string InstallerFileName(std::string_view name, std::string_view version);

// True when `piece` may become a piece of a file name inside the program's folder:
// not empty, well-formed UTF-8, no path separators ("/" or "\"), no "..", no
// control characters, and short enough for a file name.
bool IsSafeFileNamePiece(std::string_view piece);

}  // namespace quillora
