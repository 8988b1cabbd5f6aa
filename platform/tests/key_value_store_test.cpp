#include "platform/key_value_store.h"

#include <sys/stat.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "common/ini.h"
#include "platform/paths.h"
#include "platform/tests/test_support.h"

namespace quillora::platform {
namespace {

using testing_support::ScopedEnv;
using testing_support::TempFolder;

std::vector<std::string> FilesIn(const std::string& folder) {
  std::vector<std::string> names;
  for (const auto& e : std::filesystem::directory_iterator(folder)) names.push_back(e.path().filename().string());
  std::sort(names.begin(), names.end());
  return names;
}

TEST(KeyValueStore, ValuesRoundTripAcrossInstancesCaseInsensitively) {
  TempFolder dir;
  const std::string folder = dir / "quillora";
  {
    KeyValueStore store(folder);
    EXPECT_FALSE(store.ReadString("Software\\Quillora", "UID"));
    ASSERT_TRUE(store.WriteString("Software\\Quillora", "UID", "0123ABCD"));
    ASSERT_TRUE(store.WriteString("Software\\Quillora\\0123ABCD\\LogonRegister", "User", "bGluZQ=="));
    ASSERT_TRUE(store.WriteString("Software\\Quillora", "Odd", "line\nbreak=[x]\\ \x01 \xE4\xB8\xAD"));
    ASSERT_TRUE(store.WriteString("SOFTWARE\\quillora", "uid", "FEDC"));
  }
  KeyValueStore again(folder);
  EXPECT_EQ(again.ReadString("software\\QUILLORA", "Uid"), "FEDC");
  EXPECT_EQ(again.ReadString("Software\\Quillora\\0123ABCD\\LogonRegister", "User"), "bGluZQ==");
  EXPECT_EQ(again.ReadString("Software\\Quillora", "Odd"), "line\nbreak=[x]\\ \x01 \xE4\xB8\xAD");
  EXPECT_FALSE(again.ReadString("Software\\Quillora\\0123ABCD", "User")) << "keys are not prefixes";

  ASSERT_TRUE(again.DeleteValue("Software\\Quillora", "UID"));
  EXPECT_FALSE(again.ReadString("Software\\Quillora", "UID"));
  EXPECT_TRUE(again.ReadString("Software\\Quillora", "Odd")) << "other values stay";
  EXPECT_TRUE(again.DeleteValue("Software\\Quillora", "UID")) << "deleting a missing value succeeds";
}

TEST(KeyValueStore, FileIsPrivateToTheUserAndNoTemporaryFileStays) {
  TempFolder dir;
  const std::string folder = dir / "deep/quillora";
  KeyValueStore store(folder);
  ASSERT_TRUE(store.WriteString("Software\\Quillora", "UID", "X"));
  struct stat st{};
  ASSERT_EQ(::stat(folder.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0700u);
  ASSERT_EQ(::stat((folder + "/values").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);
  EXPECT_EQ(FilesIn(folder), (std::vector<std::string>{"values", "values.lock"}));
}

TEST(KeyValueStore, ValuesLongerThanTheReadLimitReadAsMissing) {
  TempFolder dir;
  KeyValueStore store(dir.Path());
  ASSERT_TRUE(store.WriteString("K", "fits", std::string(kMaxStoredValueUnits, 'a')));
  ASSERT_TRUE(store.WriteString("K", "long", std::string(kMaxStoredValueUnits + 1, 'a')));
  // 1,300 three-byte characters are 1,300 UTF-16 units: counted in units, not bytes.
  std::string wide;
  for (int i = 0; i < 1300; ++i) wide += "\xE4\xB8\xAD";
  ASSERT_TRUE(store.WriteString("K", "wide", wide));
  EXPECT_EQ(store.ReadString("K", "fits")->size(), kMaxStoredValueUnits);
  EXPECT_FALSE(store.ReadString("K", "long"));
  EXPECT_EQ(store.ReadString("K", "wide"), wide);
}

TEST(KeyValueStore, DamagedOrForeignFilesReadAsMissingAndAreKeptAside) {
  const std::vector<std::string> damaged = {
      "",                                                       // empty file
      "[Software\\\\Quillora]\nUID=AB\n",                        // no header: someone else's file
      "# Quillora per-user values 1\n[Software\\\\Quillora]\nUID=AB",  // truncated (no final line end)
      "# Quillora per-user values 1\nUID=AB\n",                 // value outside a key
      "# Quillora per-user values 1\n[K]\nbad\\qescape=1\n",    // unknown escape
      "# Quillora per-user values 1\n[K]\nv=\xFF\xFE\n",        // not UTF-8
      std::string("\x00\x01\x02garbage", 10),
  };
  for (const std::string& content : damaged) {
    TempFolder dir;
    { std::ofstream(dir / "values", std::ios::binary) << content; }
    KeyValueStore store(dir.Path());
    EXPECT_FALSE(store.ReadString("Software\\Quillora", "UID")) << content;
    EXPECT_TRUE(store.DeleteValue("Software\\Quillora", "UID"));
    EXPECT_EQ(ReadTextFile(dir / "values"), content) << "reading and deleting leave it alone";

    ASSERT_TRUE(store.WriteString("Software\\Quillora", "UID", "NEW"));
    EXPECT_EQ(store.ReadString("Software\\Quillora", "UID"), "NEW");
    std::string aside;
    for (const auto& name : FilesIn(dir.Path()))
      if (name.rfind("values.damaged-", 0) == 0) aside = name;
    ASSERT_FALSE(aside.empty()) << "the damaged file is kept";
    EXPECT_EQ(ReadTextFile(dir / aside), content);
  }
}

TEST(KeyValueStore, AnUnwritableFolderFailsTheWriteAndKeepsTheValue) {
  if (::geteuid() == 0) GTEST_SKIP() << "permissions do not bind root";
  TempFolder dir;
  KeyValueStore store(dir.Path());
  ASSERT_TRUE(store.WriteString("K", "v", "old"));
  ::chmod(dir.Path().c_str(), 0500);
  EXPECT_FALSE(store.WriteString("K", "v", "new"));
  EXPECT_EQ(store.ReadString("K", "v"), "old");
}

TEST(KeyValueStore, AStoreThatCannotBeCreatedReadsAndWritesNothing) {
  TempFolder dir;
  { std::ofstream(dir / "plain-file") << "x"; }
  KeyValueStore store(dir / "plain-file/quillora");
  EXPECT_FALSE(store.WriteString("K", "v", "new"));
  EXPECT_FALSE(store.ReadString("K", "v"));
  EXPECT_EQ(ReadTextFile(dir / "plain-file"), "x");
}

TEST(KeyValueStore, ConcurrentWritersFromSeveralStoresLoseNothing) {
  TempFolder dir;
  constexpr int kThreads = 4;
  constexpr int kWrites = 25;
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      // Separate objects: only the file lock keeps them apart, as between
      // two processes.
      KeyValueStore store(dir.Path());
      for (int i = 0; i < kWrites; ++i)
        EXPECT_TRUE(store.WriteString("K" + std::to_string(t), "v" + std::to_string(i), std::to_string(i)));
    });
  }
  for (auto& th : threads) th.join();
  KeyValueStore store(dir.Path());
  for (int t = 0; t < kThreads; ++t)
    for (int i = 0; i < kWrites; ++i)
      EXPECT_EQ(store.ReadString("K" + std::to_string(t), "v" + std::to_string(i)), std::to_string(i));
}

TEST(KeyValueStore, CurrentUserStoreLivesInTheXdgConfigFolder) {
  TempFolder config;
  ScopedEnv x("XDG_CONFIG_HOME", config.Path());
  // The current user's store is created once per process; compare against
  // the folder rule rather than relying on this test creating it.
  EXPECT_EQ(GetUserStateFolder(), config / "Quillora");
}

}  // namespace
}  // namespace quillora::platform
