// Start-up options, the set.ini writer and concurrent task life cycles.
#include <filesystem>
#include <fstream>
#include <thread>

#include <unistd.h>

#include "emulator/tests/emulator_fixture.h"

namespace quillora::emulator::testing {
namespace {

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

int PortOf(const std::string& base) { return std::stoi(base.substr(base.rfind(':') + 1)); }

TEST_F(EmulatorTest, ServiceIniKeepsTheUsersOwnSections) {
  std::string path = emu.StateDir() + "/set.ini";
  {
    std::ofstream out(path, std::ios::binary);
    out << "[Install]\r\nOutput=C:\\out\r\n[service]\r\nApi=https://old.example\r\n[Other]\nx=1";
  }
  ASSERT_TRUE(emu.WriteServiceIni(path));
  std::string text = ReadFile(path);
  EXPECT_EQ(text.rfind("[Install]\r\nOutput=C:\\out\r\n", 0), 0u);
  EXPECT_NE(text.find("[Other]\nx=1\n"), std::string::npos);
  EXPECT_EQ(text.find("old.example"), std::string::npos);
  EXPECT_NE(text.find(emu.ServiceIniSection()), std::string::npos);
  // Writing twice leaves one section.
  ASSERT_TRUE(emu.WriteServiceIni(path));
  std::string again = ReadFile(path);
  EXPECT_EQ(again.find("[Service]"), again.rfind("[Service]"));
}

TEST_F(EmulatorTest, ServiceIniThatCannotBeReadIsLeftAlone) {
  if (::geteuid() == 0) GTEST_SKIP() << "permissions do not bind root";
  std::string path = emu.StateDir() + "/set.ini";
  {
    std::ofstream out(path, std::ios::binary);
    out << "[Install]\nOutput=/home/me/out\n";
  }
  std::filesystem::permissions(path, std::filesystem::perms::none);
  EXPECT_FALSE(emu.WriteServiceIni(path));
  std::filesystem::permissions(path, std::filesystem::perms::owner_read | std::filesystem::perms::owner_write);
  EXPECT_EQ(ReadFile(path), "[Install]\nOutput=/home/me/out\n");
}

TEST_F(EmulatorTest, RefusesABusyPortAndServesAGivenCertificate) {
  Options busy;
  busy.apiPort = PortOf(emu.ApiBase());
  Emulator second(busy);
  EXPECT_FALSE(second.Start());
  EXPECT_NE(second.LastError().find("api"), std::string::npos);
  EXPECT_FALSE(second.Running());

  Options given;
  given.certFile = emu.StateDir() + "/server.pem";
  given.keyFile = emu.StateDir() + "/server.key";
  given.caFile = emu.CaFile();
  Emulator third(given);
  ASSERT_TRUE(third.Start()) << third.LastError();
  EXPECT_EQ(third.CaFile(), emu.CaFile());
  EXPECT_TRUE(Get(third.StatsBase() + "/ver1/getUnixTime", third.CaFile()).Ok());

  Options broken;
  broken.certFile = emu.StateDir() + "/missing.pem";
  broken.keyFile = emu.StateDir() + "/missing.key";
  Emulator fourth(broken);
  EXPECT_FALSE(fourth.Start());
  EXPECT_FALSE(fourth.LastError().empty());
}

// A client started from another folder reads the CA file named in set.ini.
TEST_F(EmulatorTest, RelativeFoldersAreWrittenAsAbsolutePaths) {
  const std::filesystem::path before = std::filesystem::current_path();
  std::filesystem::current_path(emu.StateDir());
  Options relative;
  relative.stateDir = "relative-state";
  Emulator own(relative);
  const bool started = own.Start();
  Options given;
  given.certFile = "relative-state/server.pem";
  given.keyFile = "relative-state/server.key";
  Emulator second(given);
  const bool secondStarted = started && second.Start();
  std::filesystem::current_path(before);
  ASSERT_TRUE(started) << own.LastError();
  ASSERT_TRUE(secondStarted) << second.LastError();
  for (const Emulator* e : {&own, &second}) {
    const std::string ca = e->Settings().caFile;
    EXPECT_TRUE(std::filesystem::path(ca).is_absolute()) << ca;
    EXPECT_TRUE(std::filesystem::exists(ca)) << ca;
    EXPECT_NE(e->ServiceIniSection().find("CAFile=" + ca), std::string::npos) << e->ServiceIniSection();
    EXPECT_TRUE(Get(e->StatsBase() + "/ver1/getUnixTime", ca).Ok());
  }
  EXPECT_TRUE(std::filesystem::path(own.StateDir()).is_absolute()) << own.StateDir();
}

TEST_F(EmulatorTest, ConcurrentTasksKeepTheirOwnUploads) {
  std::string info = Memparm();
  constexpr int kClients = 8;
  std::vector<std::string> results(kClients), expected(kClients);
  std::vector<std::thread> threads;
  for (int i = 0; i < kClients; ++i) {
    threads.emplace_back([&, i] {
      CreatedTask t = UploadPar("fanyi", "QuilloraFileSize" + std::to_string(i + 1) + ".txt", "txt");
      std::string body = "hello " + std::to_string(i) + "\n";
      body = body + body + body;
      expected[i] = Emulator::Translate(body, "zh", "en");
      if (ChunkCode(t, 1, 0, body) != 10000) return;
      if (WaitDone(t, info)["code"].asInt() != 10000) return;
      results[i] = Download(t, info);
    });
  }
  for (auto& t : threads) t.join();
  for (int i = 0; i < kClients; ++i) EXPECT_EQ(results[i], expected[i]) << "client " << i;
  EXPECT_EQ(emu.TaskCount(), static_cast<size_t>(kClients));
}

}  // namespace
}  // namespace quillora::emulator::testing
