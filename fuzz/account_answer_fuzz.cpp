// What the account flows read from the service's answers, on arbitrary text:
// a profile signs someone in only with a name and a token, its login type is
// one the session knows, and its avatar file stays inside the temporary folder.
#include <string>
#include <string_view>

#include "account/account_error_text.h"
#include "account/user_profile.h"
#include "fuzz/fuzz_check.h"
#include "service/transport/json_answer.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  const auto answer = quillora::ParseJsonAnswer(text);
  if (!answer) return 0;
  if (const auto code = quillora::AnswerCode(*answer)) {
    (void)quillora::AccountErrorText(static_cast<std::int32_t>(size % 16), *code);
  }
  const auto profile = quillora::ReadUserProfile(*answer);
  if (!profile) return 0;
  FUZZ_CHECK(!profile->username.empty() && !profile->usertoken.empty());

  const quillora::SessionData session = quillora::SessionFromProfile(*profile, quillora::LoginType::WeChat);
  const auto type = static_cast<int32_t>(session.loginType);
  FUZZ_CHECK(type >= 1 && type <= 4);

  const std::string folder = "/tmp/quillora-avatars/";
  const std::string avatar = quillora::AvatarFilePath(folder, profile->usertoken);
  FUZZ_CHECK(avatar.compare(0, folder.size(), folder) == 0);
  const std::string name = avatar.substr(folder.size());
  FUZZ_CHECK(name.find('/') == std::string::npos);
  FUZZ_CHECK(name != ".png" && name.size() > 4);
  return 0;
}
