#include "account/session/user_session.h"

#include <atomic>
#include <filesystem>
#include <fstream>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "common/codec.h"
#include "common/ini.h"
#include "platform/key_value_store.h"
#include "platform/tests/test_support.h"
#include "service/identity/identity.h"

namespace quillora {
namespace {

using testing_support::ScopedEnv;
using testing_support::TempFolder;

class UserSessionTest : public ::testing::Test {
 protected:
  TempFolder dir_;
  platform::KeyValueStore store_{dir_.Path()};
  const std::string key_ = SavedSignInKeyPath("0123456789ABCDEF0123456789ABCDEF");
  UserSession session_{store_, key_};
};

TEST(LoginTypes, AccountTypeTable) {
  EXPECT_EQ(LoginTypeFromAccountType(1, LoginType::WeChat), LoginType::Mobile);
  EXPECT_EQ(LoginTypeFromAccountType(2, LoginType::WeChat), LoginType::WeChat);
  EXPECT_EQ(LoginTypeFromAccountType(3, LoginType::QQ), LoginType::WeChat);
  EXPECT_EQ(LoginTypeFromAccountType(4, LoginType::Mobile), LoginType::QQ);
  EXPECT_EQ(LoginTypeFromAccountType(5, LoginType::Mobile), LoginType::Other);
  EXPECT_EQ(LoginTypeFromAccountType(0, LoginType::QQ), LoginType::QQ);
  EXPECT_EQ(LoginTypeFromAccountType(-7, LoginType::Mobile), LoginType::Mobile);
}

TEST_F(UserSessionTest, DisplayNamePrefersTheBoundMobileForOtherAccountsThenNicknameThenAccount) {
  session_.SetSignIn("acc", "tok", LoginType::Mobile);
  EXPECT_EQ(session_.GetDisplayName(), "acc");
  session_.SetNickname("Nick");
  EXPECT_EQ(session_.GetDisplayName(), "Nick");
  session_.SetBindMobile("13800000000");
  EXPECT_EQ(session_.GetDisplayName(), "Nick") << "the mobile counts only for login type 4";
  session_.SetSignIn("acc", "tok", LoginType::Other);
  EXPECT_EQ(session_.GetDisplayName(), "13800000000");
  session_.SetBindMobile("");
  EXPECT_EQ(session_.GetDisplayName(), "Nick");
}

TEST_F(UserSessionTest, ClearEmptiesEverythingButTheBoundMobile) {
  session_.Replace({"acc", "tok", "nick", "138", "42", 1700000000, LoginType::QQ, "http://a/p.png"});
  EXPECT_TRUE(session_.IsSignedIn());
  session_.Clear();
  const SessionData d = session_.Snapshot();
  EXPECT_EQ(d.account, "");
  EXPECT_EQ(d.usertoken, "");
  EXPECT_EQ(d.nickname, "");
  EXPECT_EQ(d.uid, "");
  EXPECT_EQ(d.avatar, "");
  EXPECT_EQ(d.nowtime, 0);
  EXPECT_EQ(d.loginType, LoginType::SignedOut);
  EXPECT_EQ(d.bindmobile, "138");
  EXPECT_FALSE(session_.IsSignedIn());
}

TEST_F(UserSessionTest, SavedSignInSurvivesARestart) {
  session_.SetSignIn("acc", "tok", LoginType::WeChat);
  session_.SetNickname("nick");
  ASSERT_TRUE(session_.Save());

  UserSession restarted(store_, key_);
  restarted.SetNickname("stale");
  restarted.SetBindMobile("138");
  restarted.LoadSaved();
  const SessionData d = restarted.Snapshot();
  EXPECT_EQ(d.account, "acc");
  EXPECT_EQ(d.usertoken, "tok");
  EXPECT_EQ(d.loginType, LoginType::WeChat);
  EXPECT_EQ(d.nickname, "") << "a load clears before it sets the sign-in";
  EXPECT_EQ(d.bindmobile, "138");
}

TEST_F(UserSessionTest, SignOutStoresTheEmptyRecordAndTheNextStartStaysSignedOut) {
  session_.SetSignIn("acc", "tok", LoginType::Mobile);
  ASSERT_TRUE(session_.Save());
  ASSERT_TRUE(session_.SignOut());
  EXPECT_FALSE(session_.IsSignedIn());

  const auto stored = store_.ReadString(key_, "User");
  ASSERT_TRUE(stored);
  const auto bytes = Base64Decode(*stored);
  ASSERT_TRUE(bytes);
  EXPECT_EQ(Rc4(std::string("\x9b\x4e\x21\xd0\x7c\x5a\x38\xf6\xe0\xa1\xb7\xc4\xd2\xf9\x6e\x83", 16), *bytes),
            std::string("&\0&\0&\0&\0&\0&\0" "0\0\0\0", 16));

  UserSession restarted(store_, key_);
  restarted.SetSignIn("someone", "else", LoginType::QQ);
  restarted.LoadSaved();
  EXPECT_EQ(restarted.GetLoginType(), LoginType::SignedOut);
  EXPECT_EQ(restarted.GetAccount(), "");
}

TEST_F(UserSessionTest, TypeFourRecordLoadsAndShowsTheBoundMobileAfterAProfile) {
  ASSERT_TRUE(WriteSavedSignIn(store_, key_, {"acc", "tok", 4}));
  session_.LoadSaved();
  EXPECT_EQ(session_.GetLoginType(), LoginType::Other);
  EXPECT_EQ(session_.GetDisplayName(), "acc");
  session_.SetBindMobile("13900000000");
  EXPECT_EQ(session_.GetDisplayName(), "13900000000");
}

TEST_F(UserSessionTest, UnreadableValuesSignOutAndSeparatorlessOnesLeaveTheSessionAlone) {
  const auto signedIn = [this] {
    session_.Replace({"acc", "tok", "nick", "", "1", 5, LoginType::Mobile, ""});
  };
  signedIn();
  session_.LoadSaved();  // nothing stored
  EXPECT_FALSE(session_.IsSignedIn());

  signedIn();
  ASSERT_TRUE(store_.WriteString(key_, "User", "A"));  // not Base64
  session_.LoadSaved();
  EXPECT_FALSE(session_.IsSignedIn());

  signedIn();
  ASSERT_TRUE(store_.WriteString(key_, "User", std::string(3000, 'Q')));  // longer than a read takes
  session_.LoadSaved();
  EXPECT_FALSE(session_.IsSignedIn());

  signedIn();
  ASSERT_TRUE(store_.WriteString(key_, "User", "aGVsbG8gd29ybGQ="));  // deciphers to noise
  session_.LoadSaved();
  EXPECT_EQ(session_.Snapshot().nickname, "nick");
  EXPECT_EQ(session_.GetLoginType(), LoginType::Mobile);

  // A damaged store file reads as missing: signed out, and the file is kept.
  signedIn();
  { std::ofstream(dir_ / "values", std::ios::trunc) << "\x01garbage"; }
  session_.LoadSaved();
  EXPECT_FALSE(session_.IsSignedIn());
  EXPECT_EQ(ReadTextFile(dir_ / "values"), "\x01garbage");
}

TEST(UserSessionDefault, SavesUnderTheDeviceKeyOfTheCurrentUser) {
  TempFolder config;
  ScopedEnv x("XDG_CONFIG_HOME", config.Path());
  UserSession session;
  session.SetSignIn("acc", "tok", LoginType::QQ);
  ASSERT_TRUE(session.Save());
  platform::KeyValueStore store(config / "Quillora");
  const std::string uid = GetDeviceUid(store);
  ASSERT_EQ(uid.size(), 32u);
  const SavedSignInDecoded d = ReadSavedSignIn(store, SavedSignInKeyPath(uid));
  ASSERT_EQ(d.status, SavedSignInStatus::Loaded);
  EXPECT_EQ(d.record.account, "acc");
  EXPECT_EQ(d.record.loginType, 2);
}

// Writers replace whole users, sign in, save and sign out while readers check
// that every snapshot is one user, never a mixture. Run under ThreadSanitizer
// this also proves the fields are guarded.
TEST_F(UserSessionTest, ConcurrentReadersNeverSeeAMixedUserAndTheLastSaveWins) {
  constexpr int kWriters = 3;
  constexpr int kReaders = 3;
  constexpr int kRounds = 60;
  std::atomic<bool> writersDone{false};
  std::atomic<int> mixed{0};
  std::atomic<long> reads{0};

  std::vector<std::thread> threads;
  for (int w = 0; w < kWriters; ++w) {
    threads.emplace_back([&, w] {
      for (int i = 0; i < kRounds; ++i) {
        const std::string n = std::to_string(w) + "-" + std::to_string(i);
        session_.Replace({"user" + n, "token" + n, "nick" + n, "", "uid" + n, i, LoginType::WeChat, "a" + n});
        if (i % 3 == 0) session_.Save();
        if (i % 7 == 0) session_.SignOut();
        if (i % 11 == 0) session_.SetNickname("x");
      }
      session_.Save();
    });
  }
  for (int r = 0; r < kReaders; ++r) {
    threads.emplace_back([&] {
      do {
        const SessionData d = session_.Snapshot();
        if (d.loginType == LoginType::SignedOut) {
          if (!d.account.empty() || !d.usertoken.empty()) ++mixed;
        } else if (d.usertoken != "token" + d.account.substr(4) || d.uid != "uid" + d.account.substr(4)) {
          ++mixed;
        }
        (void)session_.GetDisplayName();
        (void)session_.IsSignedIn();
        ++reads;
      } while (!writersDone.load());
    });
  }
  for (int w = 0; w < kWriters; ++w) threads[static_cast<size_t>(w)].join();
  writersDone = true;
  for (size_t t = kWriters; t < threads.size(); ++t) threads[t].join();

  EXPECT_EQ(mixed.load(), 0);
  EXPECT_GT(reads.load(), 0);
  const SavedSignInDecoded saved = ReadSavedSignIn(store_, key_);
  ASSERT_EQ(saved.status, SavedSignInStatus::Loaded);
  EXPECT_EQ(saved.record.account, session_.GetAccount());
  EXPECT_EQ(saved.record.usertoken, session_.GetUserToken());
}

TEST(SaveVerifyImage, JpgAndPngPicturesAreWrittenAsJpgFilesAndReplaced) {
  TempFolder dir;
  const std::string folder = dir.Path() + "/";
  const std::string jpg = std::string("\xFF\xD8\xFF\xE0", 4) + std::string(100, 'j');
  const std::string path = SaveVerifyImage("data:image/jpg;base64," + Base64Encode(jpg), 1, folder);
  EXPECT_EQ(path, folder + "Brenvoke_VerifyCode_1.jpg");
  EXPECT_EQ(ReadTextFile(path), jpg);

  const std::string png = std::string("\x89PNG\r\n\x1A\n", 8) + std::string(50, '\0');
  // Line breaks inside the Base64 text are skipped.
  std::string encoded = Base64Encode(png);
  encoded.insert(10, "\r\n");
  EXPECT_EQ(SaveVerifyImage("data:image/png;base64," + encoded, 1, folder), path);
  EXPECT_EQ(ReadTextFile(path), png) << "the refreshed captcha replaces the old one";

  EXPECT_EQ(SaveVerifyImage("data:image/png;base64," + Base64Encode(jpg), 4, folder),
            folder + "Brenvoke_VerifyCode_4.jpg");
}

TEST(SaveVerifyImage, OtherDataTypesAndBrokenPayloadsWriteNothing) {
  TempFolder dir;
  const std::string folder = dir.Path() + "/";
  for (const std::string url : {"data:image/gif;base64,R0lGODlh", "data:text/plain;base64,aGk=",
                                "data:image/jpeg;base64,aGk=", "DATA:IMAGE/JPG;BASE64,aGk=", "aGk=",
                                "data:image/jpg;base64,A", "data:image/jpg;base64,", ""}) {
    EXPECT_EQ(SaveVerifyImage(url, 1, folder), "") << url;
  }
  EXPECT_TRUE(std::filesystem::is_empty(dir.Path()));
}

TEST(SaveVerifyImage, ALinkPlantedAtTheFileNameIsReplacedNotFollowed) {
  TempFolder dir;
  const std::string folder = dir.Path() + "/";
  { std::ofstream(dir / "victim") << "precious"; }
  std::filesystem::create_symlink(dir / "victim", dir / "Brenvoke_VerifyCode_1.jpg");
  const std::string path = SaveVerifyImage("data:image/jpg;base64," + Base64Encode("pic"), 1, folder);
  ASSERT_FALSE(path.empty());
  EXPECT_EQ(ReadTextFile(dir / "victim"), "precious");
  EXPECT_FALSE(std::filesystem::is_symlink(path));
  EXPECT_EQ(ReadTextFile(path), "pic");
}

TEST(SaveVerifyImage, DefaultsToTheTemporaryFolder) {
  TempFolder dir;
  ScopedEnv tmp("TMPDIR", dir.Path());
  EXPECT_EQ(SaveVerifyImage("data:image/jpg;base64," + Base64Encode("pic"), 7), dir.Path() + "/Brenvoke_VerifyCode_7.jpg");
}

}  // namespace
}  // namespace quillora
