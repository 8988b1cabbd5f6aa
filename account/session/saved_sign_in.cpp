#include "account/session/saved_sign_in.h"

#include <climits>

#include "common/codec.h"
#include "common/text.h"
#include "platform/key_value_store.h"

namespace quillora {
namespace {

constexpr std::string_view kSeparator = "&&&";
constexpr std::string_view kMarker = "{MAGICIAN_NAME}";

// The fixed RC4 key of the record, 16 bytes.
std::string CipherKey() {
  static constexpr unsigned char kKey[16] = {0x9b, 0x4e, 0x21, 0xd0, 0x7c, 0x5a, 0x38, 0xf6,
                                             0xe0, 0xa1, 0xb7, 0xc4, 0xd2, 0xf9, 0x6e, 0x83};
  return std::string(reinterpret_cast<const char*>(kKey), sizeof kKey);
}

// The leading integer of `s` as the C library reads it: leading white space,
// an optional sign, decimal digits; 0 without digits, clamped to 32 bits.
int32_t LeadingInteger(std::string_view s) {
  size_t i = 0;
  while (i < s.size() && (s[i] == ' ' || (s[i] >= '\t' && s[i] <= '\r'))) ++i;
  bool negative = false;
  if (i < s.size() && (s[i] == '+' || s[i] == '-')) negative = s[i++] == '-';
  long long n = 0;
  for (; i < s.size() && s[i] >= '0' && s[i] <= '9'; ++i) {
    n = n * 10 + (s[i] - '0');
    if (n > static_cast<long long>(INT32_MAX) + 1) break;
  }
  if (negative) n = -n;
  if (n > INT32_MAX) return INT32_MAX;
  if (n < INT32_MIN) return INT32_MIN;
  return static_cast<int32_t>(n);
}

}  // namespace

std::string SavedSignInKeyPath(std::string_view deviceUid) {
  std::string path = kSavedSignInKeyTemplate;
  path.replace(path.find(kMarker), kMarker.size(), deviceUid);
  return path;
}

std::string EncodeSavedSignIn(const SavedSignIn& record) {
  std::string plain = record.account + std::string(kSeparator) + record.usertoken + std::string(kSeparator);
  if (record.loginType >= 0 && record.loginType <= 4) plain += static_cast<char>('0' + record.loginType);
  const std::u16string wide = Utf8ToUtf16(plain);
  std::string bytes;
  bytes.reserve(wide.size() * 2 + 2);
  for (char16_t unit : wide) {
    bytes += static_cast<char>(unit & 0xFF);
    bytes += static_cast<char>(unit >> 8);
  }
  bytes.append(2, '\0');
  return Base64Encode(Rc4(CipherKey(), bytes));
}

SavedSignInDecoded DecodeSavedSignIn(const std::optional<std::string>& storedText) {
  SavedSignInDecoded result;
  if (!storedText || storedText->empty()) return result;
  const auto enciphered = Base64Decode(*storedText);
  if (!enciphered) return result;
  const std::string bytes = Rc4(CipherKey(), *enciphered);
  std::u16string wide;
  for (size_t i = 0; i + 1 < bytes.size(); i += 2) {
    const auto unit = static_cast<char16_t>(static_cast<unsigned char>(bytes[i]) |
                                            (static_cast<unsigned char>(bytes[i + 1]) << 8));
    if (unit == 0) break;
    wide += unit;
  }
  const std::string text = Utf16ToUtf8(wide);
  const size_t first = text.find(kSeparator);
  const size_t second = first == std::string::npos ? first : text.find(kSeparator, first + kSeparator.size());
  if (second == std::string::npos) {
    result.status = SavedSignInStatus::NoSeparators;
    return result;
  }
  result.status = SavedSignInStatus::Loaded;
  result.record.account = text.substr(0, first);
  result.record.usertoken = text.substr(first + kSeparator.size(), second - first - kSeparator.size());
  result.record.loginType = LeadingInteger(std::string_view(text).substr(second + kSeparator.size()));
  return result;
}

SavedSignInDecoded ReadSavedSignIn(const platform::KeyValueStore& store, std::string_view keyPath) {
  return DecodeSavedSignIn(store.ReadString(keyPath, kSavedSignInValueName));
}

bool WriteSavedSignIn(platform::KeyValueStore& store, std::string_view keyPath, const SavedSignIn& record) {
  return store.WriteString(keyPath, kSavedSignInValueName, EncodeSavedSignIn(record));
}

}  // namespace quillora
