#pragma once
// The emulator's translation engine: deterministic and visibly a translation.
// Each non-empty line becomes "[<target>] " followed by the line, in which the
// phrases of a small built-in glossary for the target language are replaced
// (longest phrase first; Latin words only at word boundaries, case-insensitive).
// Everything the glossary does not know is carried over unchanged: the
// bracketed target code is the mark of the fallback.
#include <string>
#include <string_view>

namespace quillora::emulator {

// Maps a language code to the glossary it selects: "zh", "en", "ja", or
// empty when the emulator has no glossary for it.
std::string GlossaryLanguage(std::string_view code);

// One line, without its line break.
std::string TranslateLine(std::string_view line, std::string_view to);

// A whole text; "\n" and "\r\n" line breaks are kept as they are.
std::string TranslateText(std::string_view text, std::string_view from, std::string_view to);

}  // namespace quillora::emulator
