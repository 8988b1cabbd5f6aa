#pragma once
// Which installation, device and edition of the client is asking: the values
// that travel with every request to the service.
#include <string>

namespace quillora {
namespace platform {
class KeyValueStore;
}

inline constexpr char kSoftwareName[] = "Quillora";
inline constexpr char kProductId[] = "342";

// Where the device UID lives in the per-user store.
inline constexpr char kDeviceUidKeyPath[] = "Software\\Quillora";
inline constexpr char kDeviceUidValueName[] = "UID";

// The device UID (32 uppercase hex digits), read from the current user's
// store or created and stored on first use. A stored non-empty value is used
// unchanged, whatever its form. Empty only when no GUID could be created; the
// next call tries again. Thread-safe.
std::string GetDeviceUid();

// The same against a given store (tests, tools).
std::string GetDeviceUid(platform::KeyValueStore& store);

// Short name of the running operating system, sent as the device type.
// Computed once per process.
std::string GetOsName();

// The identity values the request builders use. `productInfo` starts empty
// and is filled by the owner once the service's parameters are known.
struct SoftwareIdentity {
  std::string machineId;        // device UID
  std::string softwareName;     // "Quillora"
  std::string softwareVersion;  // the configuration store's version
  std::string productId;        // "342"
  std::string productInfo;
};

// Identity values for this device with the given program version (the
// caller passes the configuration store's version).
SoftwareIdentity MakeSoftwareIdentity(const std::string& softwareVersion);

}  // namespace quillora
