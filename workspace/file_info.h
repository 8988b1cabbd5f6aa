#pragma once
// What the file pages show about a source file and how they recognise its
// kind: pure text rules, plus the one file-system query they need.
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace quillora::workspace {

// The file name of a path: the text after the last "/" or "\" (the whole
// path when there is none).
std::string FileNameOf(std::string_view path);

// The extension of the path's file name, dot included (".docx"), or empty
// when the name has no dot (".pdf" alone is a name with extension ".pdf").
std::string ExtensionOf(std::string_view path);

// Index of the first entry of `extensions` (dots included) equal to the
// path's extension without regard to ASCII case; -1 when none is.
int MatchExtension(std::string_view path, std::span<const std::string_view> extensions);

// "1023B", "1.50KB", "1024.00KB", "1.00MB", "1.00GB". Sizes above 4 GiB keep
// counting in GB.
std::string FormatFileSize(uint64_t bytes);

// The size of a regular file; nothing when the path is missing, unreadable
// or not a regular file (a folder, a device).
std::optional<uint64_t> RegularFileSize(const std::string& path);

// The largest source file a page sends, in whole KiB.
inline constexpr uint64_t kMaxSourceKiB = 51200;

// True when a file of `bytes` is within the limit (sizes are counted in
// whole KiB, rounded down, so 51201 KiB minus one byte still passes).
inline bool WithinSizeLimit(uint64_t bytes) { return (bytes >> 10) <= kMaxSourceKiB; }

}  // namespace quillora::workspace
