#pragma once
// The program's own digest, cipher and text encoding: MD5 (RFC 1321) for
// request signatures, RC4 for the saved sign-in, Base64 (RFC 4648) for the
// saved sign-in and captcha pictures.
#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace quillora {

class Md5 {
 public:
  Md5();
  void Update(const void* data, size_t size);
  void Update(std::string_view bytes) { Update(bytes.data(), bytes.size()); }
  std::array<uint8_t, 16> Final();

 private:
  void Transform(const uint8_t block[64]);

  std::array<uint32_t, 4> state_;
  uint64_t bitCount_ = 0;
  std::array<uint8_t, 64> buffer_{};
  bool finished_ = false;
};

// 32 lowercase hexadecimal digits of the MD5 digest of `bytes`.
std::string Md5Hex(std::string_view bytes);

// RC4 with the key schedule run afresh for each call; no keystream bytes are
// discarded. Enciphering and deciphering are the same operation.
std::string Rc4(std::string_view key, std::string_view data);

// Standard alphabet, "=" padding, no line breaks.
std::string Base64Encode(std::string_view bytes);

// Characters outside the alphabet (line breaks, spaces, anything else) are
// skipped. Returns nothing when the remaining characters cannot form Base64:
// a single dangling character, or data after the padding.
std::optional<std::string> Base64Decode(std::string_view text);

// Lowercase hexadecimal form of raw bytes.
std::string HexLower(std::string_view bytes);

}  // namespace quillora
