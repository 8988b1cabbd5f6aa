#include "service/identity/identity.h"

#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <set>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "platform/key_value_store.h"
#include "platform/tests/test_support.h"

namespace quillora {
namespace {

using testing_support::ScopedEnv;
using testing_support::TempFolder;

TEST(DeviceUid, CreatedOnceStoredAndReusedAcrossStores) {
  TempFolder dir;
  std::string uid;
  {
    platform::KeyValueStore store(dir.Path());
    uid = GetDeviceUid(store);
    ASSERT_EQ(uid.size(), 32u);
    EXPECT_EQ(uid.find_first_not_of("0123456789ABCDEF"), std::string::npos);
    EXPECT_EQ(store.ReadString("Software\\Quillora", "UID"), uid);
    EXPECT_EQ(GetDeviceUid(store), uid);
  }
  platform::KeyValueStore restarted(dir.Path());
  EXPECT_EQ(GetDeviceUid(restarted), uid) << "a new process reads the stored UID";
}

TEST(DeviceUid, AnyStoredNonEmptyTextIsUsedUnchangedAndAnEmptyOneIsReplaced) {
  TempFolder dir;
  platform::KeyValueStore store(dir.Path());
  ASSERT_TRUE(store.WriteString("Software\\Quillora", "UID", "not-a-guid {x}"));
  EXPECT_EQ(GetDeviceUid(store), "not-a-guid {x}");
  ASSERT_TRUE(store.WriteString("Software\\Quillora", "UID", ""));
  const std::string fresh = GetDeviceUid(store);
  EXPECT_EQ(fresh.size(), 32u);
  EXPECT_EQ(store.ReadString("Software\\Quillora", "UID"), fresh);
}

TEST(DeviceUid, ConcurrentFirstCallsAgreeOnOneUid) {
  TempFolder dir;
  platform::KeyValueStore store(dir.Path());
  std::vector<std::string> seen(4);
  std::vector<std::thread> threads;
  for (size_t i = 0; i < seen.size(); ++i) threads.emplace_back([&, i] { seen[i] = GetDeviceUid(store); });
  for (auto& t : threads) t.join();
  EXPECT_EQ(std::set<std::string>(seen.begin(), seen.end()).size(), 1u);
  EXPECT_EQ(seen[0].size(), 32u);
}

// Runs GetDeviceUid in `count` child processes that start together on one
// store, and returns what each of them got.
std::vector<std::string> UidsFromProcesses(const std::string& folder, int count) {
  int gate[2];
  if (::pipe(gate) != 0) return {};
  std::vector<std::pair<pid_t, int>> children;
  for (int i = 0; i < count; ++i) {
    int out[2];
    if (::pipe(out) != 0) break;
    const pid_t pid = ::fork();
    if (pid == 0) {
      ::close(gate[1]);
      char c;
      while (::read(gate[0], &c, 1) < 0 && errno == EINTR) {
      }
      platform::KeyValueStore store(folder);
      const std::string uid = GetDeviceUid(store);
      const bool written = ::write(out[1], uid.data(), uid.size()) == static_cast<ssize_t>(uid.size());
      ::_exit(written ? 0 : 1);
    }
    ::close(out[1]);
    if (pid < 0) {
      ::close(out[0]);
      break;
    }
    children.emplace_back(pid, out[0]);
  }
  ::close(gate[0]);
  ::close(gate[1]);  // opens the gate: every child reads end-of-file at once
  std::vector<std::string> uids;
  for (auto [pid, fd] : children) {
    std::string uid;
    char buffer[64];
    for (ssize_t n; (n = ::read(fd, buffer, sizeof buffer)) != 0;) {
      if (n > 0) uid.append(buffer, static_cast<size_t>(n));
      else if (errno != EINTR) break;
    }
    ::close(fd);
    int status = 0;
    ::waitpid(pid, &status, 0);
    uids.push_back(WIFEXITED(status) && WEXITSTATUS(status) == 0 ? uid : "<child failed>");
  }
  return uids;
}

TEST(DeviceUid, ProcessesStartingTogetherOnAFreshStoreAgreeOnOneUid) {
  for (int round = 0; round < 5; ++round) {
    TempFolder dir;
    const std::vector<std::string> uids = UidsFromProcesses(dir.Path(), 6);
    ASSERT_EQ(uids.size(), 6u);
    EXPECT_EQ(std::set<std::string>(uids.begin(), uids.end()).size(), 1u) << "round " << round;
    EXPECT_EQ(uids[0].size(), 32u);
    platform::KeyValueStore store(dir.Path());
    EXPECT_EQ(store.ReadString("Software\\Quillora", "UID"), uids[0]) << "the UID every process sends is stored";
  }
}

TEST(SoftwareIdentity, CarriesTheFixedNamesTheVersionAndTheCurrentUsersUid) {
  TempFolder config;
  ScopedEnv x("XDG_CONFIG_HOME", config.Path());
  const SoftwareIdentity id = MakeSoftwareIdentity("2.3.4");
  EXPECT_EQ(id.softwareName, "Quillora");
  EXPECT_EQ(id.productId, "342");
  EXPECT_EQ(id.softwareVersion, "2.3.4");
  EXPECT_EQ(id.productInfo, "");
  EXPECT_EQ(id.machineId, GetDeviceUid());
  EXPECT_EQ(id.machineId.size(), 32u);
  EXPECT_FALSE(GetOsName().empty());
}

}  // namespace
}  // namespace quillora
