#pragma once
// The user-facing texts for the account service's error codes.
#include <cstdint>
#include <string>

namespace quillora {

// The text for `code` answered to a request of `kind` (UTF-8). Codes the
// table does not know read "缺少参数".
std::string AccountErrorText(std::int32_t kind, std::int64_t code);

// What the login window shows for "缺少参数".
inline constexpr char kMissingParameterText[] = "缺少参数";
inline constexpr char kCheckInputText[] = "输入有误,请检查";
// Shown for a wrong SMS code of the safe sign-in.
inline constexpr char kWrongVerifyCodeText[] = "验证码错误";

}  // namespace quillora
