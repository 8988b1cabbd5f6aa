#include "common/codec.h"

#include <gtest/gtest.h>

namespace quillora {
namespace {

std::string Unhex(std::string_view hex) {
  std::string out;
  for (size_t i = 0; i + 1 < hex.size(); i += 2)
    out.push_back(static_cast<char>(std::stoi(std::string(hex.substr(i, 2)), nullptr, 16)));
  return out;
}

TEST(Md5, Rfc1321Vectors) {
  EXPECT_EQ(Md5Hex(""), "d41d8cd98f00b204e9800998ecf8427e");
  EXPECT_EQ(Md5Hex("a"), "0cc175b9c0f1b6a831c399e269772661");
  EXPECT_EQ(Md5Hex("abc"), "900150983cd24fb0d6963f7d28e17f72");
  EXPECT_EQ(Md5Hex("message digest"), "f96b697d7cb7938d525a2f31aaf161d0");
  EXPECT_EQ(Md5Hex("abcdefghijklmnopqrstuvwxyz"), "c3fcd3d76192e4007dfb496cca67e13b");
  EXPECT_EQ(Md5Hex("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789"),
            "d174ab98d277d9f5a5611c2c9f419d9f");
  EXPECT_EQ(Md5Hex("1234567890123456789012345678901234567890"
                   "1234567890123456789012345678901234567890"),
            "57edf4a22be3c955ac49da2e2107b67a");
}

TEST(Md5, IncrementalUpdatesAcrossBlockBoundariesMatchOneShot) {
  std::string data;
  for (int i = 0; i < 1000; ++i) data.push_back(static_cast<char>(i * 7));
  for (size_t step : {1u, 3u, 63u, 64u, 65u, 200u}) {
    Md5 md5;
    for (size_t i = 0; i < data.size(); i += step) md5.Update(std::string_view(data).substr(i, step));
    const auto digest = md5.Final();
    EXPECT_EQ(HexLower(std::string_view(reinterpret_cast<const char*>(digest.data()), 16)), Md5Hex(data))
        << "step " << step;
  }
}

TEST(Rc4, Rfc6229KeystreamForFortyBitKey) {
  // Key 0x0102030405; keystream at offsets 0 and 16 from RFC 6229.
  const std::string key = Unhex("0102030405");
  const std::string zeros(32, '\0');
  const std::string stream = Rc4(key, zeros);
  EXPECT_EQ(HexLower(stream), "b2396305f03dc027ccc3524a0a1118a8"
                              "6982944f18fc82d589c403a47a0d0919");
}

TEST(Rc4, Rfc6229KeystreamFor128BitKeyAndRoundTrip) {
  const std::string key = Unhex("0102030405060708090a0b0c0d0e0f10");
  const std::string stream = Rc4(key, std::string(16, '\0'));
  EXPECT_EQ(HexLower(stream), "9ac7cc9a609d1ef7b2932899cde41b97");
  const std::string plain = "sign-in record \xe4\xb8\xad";
  EXPECT_EQ(Rc4(key, Rc4(key, plain)), plain);
  EXPECT_NE(Rc4(key, plain), plain);
}

TEST(Base64, Rfc4648Vectors) {
  const std::pair<const char*, const char*> vectors[] = {
      {"", ""},         {"f", "Zg=="},         {"fo", "Zm8="},        {"foo", "Zm9v"},
      {"foob", "Zm9vYg=="}, {"fooba", "Zm9vYmE="}, {"foobar", "Zm9vYmFy"}};
  for (const auto& [plain, encoded] : vectors) {
    EXPECT_EQ(Base64Encode(plain), encoded);
    EXPECT_EQ(Base64Decode(encoded), std::optional<std::string>(plain));
  }
}

TEST(Base64, DecodingSkipsForeignCharactersAndRejectsBrokenInput) {
  EXPECT_EQ(Base64Decode("Zm9v\r\nYmFy"), std::optional<std::string>("foobar"));
  EXPECT_EQ(Base64Decode(" Zm 9v*Yg== "), std::optional<std::string>("foob"));
  EXPECT_EQ(Base64Decode("Zm9vY"), std::nullopt);       // one dangling character
  EXPECT_EQ(Base64Decode("Zg==Zm9v"), std::nullopt);    // data after padding
  std::string all;
  for (int i = 0; i < 256; ++i) all.push_back(static_cast<char>(i));
  EXPECT_EQ(Base64Decode(Base64Encode(all)), std::optional<std::string>(all));
  EXPECT_EQ(Base64Encode(all).find('\n'), std::string::npos);
}

}  // namespace
}  // namespace quillora
