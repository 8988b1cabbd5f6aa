#include "account/account_error_text.h"

#include <initializer_list>

namespace quillora {
namespace {

bool OneOf(std::int64_t code, std::initializer_list<std::int64_t> codes) {
  for (std::int64_t c : codes) {
    if (c == code) return true;
  }
  return false;
}

// 10060 to 10062 mean something different for each operation.
const char* OperationText(std::int32_t kind, std::int64_t code) {
  if (code == 10060) {
    if (kind == 30) return "发送失败";
    if (kind == 31) return "注册失败";
    if (kind == 32 || kind == 33) return "登录失败";
    if (kind == 34 || kind == 35) return "找回密码失败";
  } else if (code == 10061) {
    if (kind == 30) return "发送过于频繁";
    if (kind == 31) return "此帐号已注册";
    if (kind == 32) return "帐号不存在";
    if (kind == 34 || kind == 35) return "找回密码失败";
  } else if (code == 10062) {
    if (kind == 32) return "帐号密码不一致";
  }
  return kMissingParameterText;
}

}  // namespace

std::string AccountErrorText(std::int32_t kind, std::int64_t code) {
  if (OneOf(code, {10060, 10061, 10062})) return OperationText(kind, code);
  if (OneOf(code, {18005, 18010, 18014, 18017, 18021, 18025, 19002})) return "无效的帐号";
  if (OneOf(code, {18011, 18015, 18022})) return "无效的密码";
  if (OneOf(code, {18006, 18012, 18018, 18023, 19001})) return "无效的图形验证码";
  if (OneOf(code, {18013, 18019, 18024})) return "无效的短信验证码";
  if (code == 18026) return "无效的旧密码";
  if (code == 18027) return "无效的新密码";
  if (code == 19003) return "帐号已注册";
  if (code == 19004) return "错误的图形验证码或短信校验码";
  return kMissingParameterText;
}

}  // namespace quillora
