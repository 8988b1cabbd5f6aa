#pragma once
#include <string>

namespace quillora::platform {

// A new random GUID as 32 uppercase hexadecimal digits without separators
// (Data1, Data2, Data3 and the eight bytes of Data4). Empty when no random
// source is available.
std::string CreateGuidText();

}  // namespace quillora::platform
