#include "service/identity/identity.h"

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
