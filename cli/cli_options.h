#pragma once
// Command line of quillora-cli and how each input becomes a task record.
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "service/trans_task.h"

namespace quillora::cli {

// The file kinds of the three file pages.
enum class FileKind { kAuto, kDocument, kAudio, kPicture };

struct CliOptions {
  bool json = false;
  bool quiet = false;  // no progress lines
  bool help = false;
  bool version = false;
  std::string from;
  std::string to;
  FileKind kind = FileKind::kAuto;
  std::optional<std::string> text;  // --text; "-" reads standard input
  std::vector<std::string> files;
};

// Parses argv[1..]. On a usage error returns nothing and sets `error`.
std::optional<CliOptions> ParseCommandLine(const std::vector<std::string>& args, std::string& error);

std::string UsageText();

// Loose check of a language code: the service decides which codes it knows,
// but a code must be a short run of letters, digits, "-" and "_".
bool IsPlausibleLanguageCode(const std::string& code);

// The kind of a file by its extension (case-insensitive); kAuto when unknown.
FileKind KindOfFile(const std::string& path);

// The largest file the pages accept, and the longest text (UTF-16 units).
inline constexpr uint64_t kMaxFileBytes = 51200ull * 1024;
inline constexpr size_t kMaxTextUnits = 30000;

// A task for one file of the given kind (kAuto: by extension, a document when
// the extension is not known). Nothing, with `error` set, when the file is
// too large or not a readable file.
std::optional<TransTask> MakeFileTask(const std::string& path, FileKind kind, const std::string& from,
                                      const std::string& to, std::string& error);

// A task for a text, named "fanyiwendang<n>.txt" like the text page's.
std::optional<TransTask> MakeTextTask(const std::string& text, int documentNumber,
                                      const std::string& from, const std::string& to,
                                      std::string& error);

}  // namespace quillora::cli
