#pragma once
// INI text with the semantics of the private-profile functions: sections and
// keys are found case-insensitively (ASCII), the first of duplicate sections
// or keys wins, whitespace around names and values is ignored, a value wrapped
// in matching single or double quotes loses them, and lines that are neither
// a section header nor a key=value pair (comments, garbage) are ignored on
// reading and kept unchanged on writing.
//
// The text functions are pure so that a program without the configuration
// store (the Update program) can read set.ini's "Service" section.
#include <optional>
#include <string>
#include <string_view>

#include "common/service_settings.h"

namespace quillora {

// The value of `key` in `section`, or nothing when either is absent.
std::optional<std::string> IniGetString(std::string_view text, std::string_view section,
                                        std::string_view key);

// The value as an integer: an optional sign and the leading decimal digits
// (0 when there are none, clamped to the int range). `fallback` when the key
// is absent or its value is empty.
int IniGetInt(std::string_view text, std::string_view section, std::string_view key, int fallback);

// `text` with `key` in `section` set to `value`. An existing key keeps its
// line position (and the spelling of its name); a new key goes after the last
// key of the section; a missing section is appended at the end. Every other
// line is kept byte for byte, including its line ending. `value` must not
// contain a line break (line breaks are replaced by spaces).
std::string IniSetString(std::string_view text, std::string_view section, std::string_view key,
                         std::string_view value);

// The whole file, or nothing when it cannot be read.
std::optional<std::string> ReadTextFile(const std::string& path);

// Replaces the file's content atomically (a temporary file in the same folder,
// then a rename); an existing file keeps its permissions. False on any failure,
// in which case the file is unchanged.
bool WriteTextFileAtomically(const std::string& path, std::string_view content);

// Reads `key` in `section` of the file at `path` (absent when the file cannot
// be read).
std::optional<std::string> IniReadFileString(const std::string& path, std::string_view section,
                                             std::string_view key);

// Sets `key` in `section` of the file at `path`, creating the file when it is
// missing and keeping every other section, key and comment. False when the
// file could not be written.
bool IniWriteFileString(const std::string& path, std::string_view section, std::string_view key,
                        std::string_view value);

// The "Service" section of set.ini text; every key left out (or empty) takes
// the value of DefaultServiceSettings().
ServiceSettings ServiceSettingsFromIni(std::string_view iniText);

// The "Service" section for `settings` as INI text: the section line, then one
// line per key of kServiceSettingsKeys, each ended by "\n". Values are written
// so that ServiceSettingsFromIni reads them back unchanged.
std::string ServiceSettingsIniSection(const ServiceSettings& settings);

}  // namespace quillora
