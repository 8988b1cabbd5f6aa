#include "service/identity/identity.h"

#include "platform/guid.h"
#include "platform/key_value_store.h"
#include "platform/os_name.h"

namespace quillora {

std::string GetDeviceUid(platform::KeyValueStore& store) {
  // Threads and processes asking for the first time at once must agree on
  // one UID: the store creates it under its lock. An empty UID (no GUID could
  // be made) is stored as empty too; the next call tries again.
  return store.ReadOrCreateString(kDeviceUidKeyPath, kDeviceUidValueName, &platform::CreateGuidText);
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
