// The saved sign-in decoder on arbitrary stored text, and the record's round
// trip: whatever is saved for a user loads back as the same user.
#include <fuzzer/FuzzedDataProvider.h>

#include <string>

#include "account/session/saved_sign_in.h"
#include "common/text.h"
#include "fuzz/fuzz_check.h"

namespace {

// Text the record can carry: valid UTF-8 without a zero unit, and without the
// separator (a name holding "&&&" splits elsewhere by design).
bool Storable(const std::string& s) {
  return quillora::IsValidUtf8(s) && s.find('\0') == std::string::npos && s.find("&&&") == std::string::npos &&
         (s.empty() || s.back() != '&');
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzedDataProvider in(data, size);
  const bool asStoredText = in.ConsumeBool();
  if (asStoredText) {
    const auto decoded = quillora::DecodeSavedSignIn(in.ConsumeRemainingBytesAsString());
    if (decoded.status == quillora::SavedSignInStatus::Loaded) {
      FUZZ_CHECK(decoded.record.account.find("&&&") == std::string::npos);
    }
    return 0;
  }
  quillora::SavedSignIn record;
  record.loginType = in.ConsumeIntegralInRange<int32_t>(0, 4);
  record.account = in.ConsumeRandomLengthString(64);
  record.usertoken = in.ConsumeRemainingBytesAsString();
  if (!Storable(record.account) || !Storable(record.usertoken)) return 0;
  const auto decoded = quillora::DecodeSavedSignIn(quillora::EncodeSavedSignIn(record));
  FUZZ_CHECK(decoded.status == quillora::SavedSignInStatus::Loaded);
  FUZZ_CHECK(decoded.record.account == record.account);
  FUZZ_CHECK(decoded.record.usertoken == record.usertoken);
  FUZZ_CHECK(decoded.record.loginType == record.loginType);
  return 0;
}
