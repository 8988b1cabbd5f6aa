#pragma once
// Conversion between UTF-8 (every narrow string in the program) and UTF-16
// (what the service protocol counts and escapes in code units).
#include <string>
#include <string_view>

namespace quillora {

// Malformed input (bad lead or continuation bytes, overlong forms, surrogate
// code points, values above U+10FFFF, truncated sequences) never throws: each
// maximal bad subsequence becomes one U+FFFD.
std::u16string Utf8ToUtf16(std::string_view utf8);

// Lone surrogates become U+FFFD.
std::string Utf16ToUtf8(std::u16string_view utf16);

// True when the bytes are well-formed UTF-8.
bool IsValidUtf8(std::string_view bytes);

// True when the two are equal with ASCII letters compared without regard to
// case; every other byte (UTF-8 included) must match exactly. Independent of
// the C locale.
bool EqualsIgnoringAsciiCase(std::string_view a, std::string_view b);

}  // namespace quillora
