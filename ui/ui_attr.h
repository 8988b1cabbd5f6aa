#pragma once
// Parsing of skin attribute values (internal to the toolkit).
#include <string>
#include <utility>
#include <vector>

#include "ui/ui_types.h"

namespace DirectUI {

// Skin numbers are pixel sizes, counts and ids: each is clamped to this
// magnitude, so that scaling a size for a high-DPI screen can never overflow.
inline constexpr int kMaxSkinNumber = 1000000;

// A decimal integer (leading blanks and a sign allowed, trailing text
// ignored, 0 when there is none), clamped to +-kMaxSkinNumber.
int ParseInt(const std::string& value);
// "l,t,r,b" (missing parts are 0), each part clamped like ParseInt.
RECT ParseRect(const std::string& value);
// "#AARRGGBB", "#RRGGBB" (opaque), "0xAARRGGBB" or decimal.
DWORD ParseColor(const std::string& value);
bool ParseBool(const std::string& value);
// name="value" name2="value2" (quote is ' for image attributes, " for lists).
std::vector<std::pair<std::string, std::string>> ParseAttributeList(const std::string& list, char quote);
// True for names that are equal ignoring ASCII case.
bool EqualsNoCase(const std::string& a, const std::string& b);

}  // namespace DirectUI
