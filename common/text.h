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

}  // namespace quillora
