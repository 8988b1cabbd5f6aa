#include "service/identity/identity.h"

#include <mutex>

#include "platform/guid.h"
#include "platform/key_value_store.h"
#include "platform/os_name.h"

namespace quillora {

std::string GetDeviceUid(platform::KeyValueStore& store) {
  // Two threads asking for the first time must not create two UIDs.
  static std::mutex creation;
  std::lock_guard lock(creation);
  if (auto uid = store.ReadString(kDeviceUidKeyPath, kDeviceUidValueName); uid && !uid->empty()) return *uid;
  const std::string uid = platform::CreateGuidText();
  // An empty UID is stored as empty too; the next call tries again.
  store.WriteString(kDeviceUidKeyPath, kDeviceUidValueName, uid);
  return uid;
}

std::string GetDeviceUid() { return GetDeviceUid(platform::KeyValueStore::CurrentUser()); }

std::string GetOsName() {
  static const std::string name = platform::QueryOsName();
  return name;
}

SoftwareIdentity MakeSoftwareIdentity(const std::string& softwareVersion) {
  SoftwareIdentity id;
  id.machineId = GetDeviceUid();
  id.softwareName = kSoftwareName;
  id.softwareVersion = softwareVersion;
  id.productId = kProductId;
  return id;
}

}  // namespace quillora
