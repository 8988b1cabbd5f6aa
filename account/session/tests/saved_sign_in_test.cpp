#include "account/session/saved_sign_in.h"

#include <gtest/gtest.h>

#include "platform/key_value_store.h"
#include "platform/tests/test_support.h"

namespace quillora {
namespace {

// Known answers computed with an independent RC4 and Base64 over the UTF-16LE
// text and its terminator.
TEST(SavedSignIn, EncodesToTheKnownCipherText) {
  EXPECT_EQ(EncodeSavedSignIn({"13800000000", "tok", 1}), "JuGrLUnTHuJHvRrFz9GlsLnDXn/LCzWK5Wt0XGx/YFZUjfwn/vg0kk0Rr9I=");
  EXPECT_EQ(EncodeSavedSignIn({"", "", 0}), "MeG+LVfTCOJRvQzFz9GVsA==") << "the signed-out record";
  EXPECT_EQ(EncodeSavedSignIn({"\xE5\xBC\xA0\xE4\xB8\x89", "t", 3}), "N76RY1fTCOJRvV7F2dGzsK/DXX/7Cw==");
}

TEST(SavedSignIn, RoundTripsEveryLoginType) {
  for (int32_t type = 0; type <= 4; ++type) {
    const SavedSignIn record{"user\xE5\xBC\xA0", "token-" + std::to_string(type), type};
    const SavedSignInDecoded d = DecodeSavedSignIn(EncodeSavedSignIn(record));
    ASSERT_EQ(d.status, SavedSignInStatus::Loaded);
    EXPECT_EQ(d.record.account, record.account);
    EXPECT_EQ(d.record.usertoken, record.usertoken);
    EXPECT_EQ(d.record.loginType, type);
  }
  const SavedSignInDecoded outOfRange = DecodeSavedSignIn(EncodeSavedSignIn({"a", "t", 7}));
  ASSERT_EQ(outOfRange.status, SavedSignInStatus::Loaded);
  EXPECT_EQ(outOfRange.record.loginType, 0) << "a type outside 0..4 is stored without its digit";
}

TEST(SavedSignIn, SeparatorInsideTheAccountSplitsAtTheFirstTwo) {
  const SavedSignInDecoded d = DecodeSavedSignIn(EncodeSavedSignIn({"a&&&b", "tok", 3}));
  ASSERT_EQ(d.status, SavedSignInStatus::Loaded);
  EXPECT_EQ(d.record.account, "a");
  EXPECT_EQ(d.record.usertoken, "b");
  EXPECT_EQ(d.record.loginType, 0) << "the rest \"tok&&&3\" starts without digits";

  const SavedSignInDecoded digits = DecodeSavedSignIn(EncodeSavedSignIn({"a", "t&&&42x", 1}));
  ASSERT_EQ(digits.status, SavedSignInStatus::Loaded);
  EXPECT_EQ(digits.record.usertoken, "t");
  EXPECT_EQ(digits.record.loginType, 42) << "leading digits of the rest";

  const SavedSignInDecoded adjacent = DecodeSavedSignIn(EncodeSavedSignIn({"a&&&", "", 2}));
  ASSERT_EQ(adjacent.status, SavedSignInStatus::Loaded);
  EXPECT_EQ(adjacent.record.account, "a");
  EXPECT_EQ(adjacent.record.usertoken, "");
  EXPECT_EQ(adjacent.record.loginType, 0) << "the second search starts past the first separator";
}

TEST(SavedSignIn, MissingGarbageAndTruncatedValuesNeverLoadAUser) {
  EXPECT_EQ(DecodeSavedSignIn(std::nullopt).status, SavedSignInStatus::Unreadable);
  EXPECT_EQ(DecodeSavedSignIn("").status, SavedSignInStatus::Unreadable);
  EXPECT_EQ(DecodeSavedSignIn("A").status, SavedSignInStatus::Unreadable) << "not Base64";
  EXPECT_EQ(DecodeSavedSignIn("QUJD=QUJD").status, SavedSignInStatus::Unreadable) << "data after padding";
  EXPECT_EQ(DecodeSavedSignIn("aGVsbG8gd29ybGQ=").status, SavedSignInStatus::NoSeparators)
      << "decodes, but deciphers to noise";

  const std::string full = EncodeSavedSignIn({"13800000000", "secret-token", 1});
  for (size_t cut = 1; cut < full.size(); ++cut) {
    const SavedSignInDecoded d = DecodeSavedSignIn(full.substr(0, cut));
    if (d.status == SavedSignInStatus::Loaded) {
      // Only a cut inside the type digit's terminator can still carry both
      // separators, and then the account and token are whole.
      EXPECT_EQ(d.record.account, "13800000000") << cut;
      EXPECT_EQ(d.record.usertoken, "secret-token") << cut;
    }
  }
  EXPECT_NE(DecodeSavedSignIn(full.substr(0, full.size() / 2)).status, SavedSignInStatus::Loaded);
}

TEST(SavedSignIn, KeyPathAndStoreRoundTrip) {
  EXPECT_EQ(SavedSignInKeyPath("0123456789ABCDEF0123456789ABCDEF"),
            "Software\\Quillora\\0123456789ABCDEF0123456789ABCDEF\\LogonRegister");
  testing_support::TempFolder dir;
  platform::KeyValueStore store(dir.Path());
  const std::string key = SavedSignInKeyPath("UID1");
  EXPECT_EQ(ReadSavedSignIn(store, key).status, SavedSignInStatus::Unreadable);
  ASSERT_TRUE(WriteSavedSignIn(store, key, {"acc", "tok", 2}));
  EXPECT_EQ(store.ReadString(key, "User"), EncodeSavedSignIn({"acc", "tok", 2}));
  const SavedSignInDecoded d = ReadSavedSignIn(store, key);
  ASSERT_EQ(d.status, SavedSignInStatus::Loaded);
  EXPECT_EQ(d.record.loginType, 2);
}

}  // namespace
}  // namespace quillora
