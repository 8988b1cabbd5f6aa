// The per-user store on an arbitrary file: reading never fails hard, a write
// always lands (a damaged file is moved aside, never overwritten), and values
// that were readable before a write stay readable after it.
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "fuzz/fuzz_check.h"
#include "platform/key_value_store.h"

namespace {

std::string g_folder;

constexpr char kKey[] = "Software\\Quillora";
const std::string kProbe = "v=[1]\\\n\x01 \xe4\xb8\xad";

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  // Memory-backed when possible: every write syncs the file and its folder.
  std::string pattern = std::filesystem::is_directory("/dev/shm") ? "/dev/shm" : "/tmp";
  pattern += "/quillora-store-fuzz-XXXXXX";
  if (!mkdtemp(pattern.data())) std::abort();
  g_folder = pattern;
  std::atexit([] {
    std::error_code ec;
    std::filesystem::remove_all(g_folder, ec);
  });
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::error_code ec;
  for (const auto& entry : std::filesystem::directory_iterator(g_folder, ec))
    std::filesystem::remove_all(entry.path(), ec);
  {
    std::ofstream out(g_folder + "/values", std::ios::binary);
    out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
  }
  quillora::platform::KeyValueStore store(g_folder);
  const auto uidBefore = store.ReadString(kKey, "UID");
  const auto otherKeyBefore = store.ReadString("Software\\Quillora\\X\\LogonRegister", "User");

  FUZZ_CHECK(store.WriteString(kKey, "Probe", kProbe));
  FUZZ_CHECK(store.ReadString(kKey, "probe") == kProbe);
  FUZZ_CHECK(store.ReadString(kKey, "UID") == uidBefore);
  FUZZ_CHECK(store.ReadString("Software\\Quillora\\X\\LogonRegister", "User") == otherKeyBefore);
  FUZZ_CHECK(store.DeleteValue(kKey, "Probe"));
  FUZZ_CHECK(!store.ReadString(kKey, "Probe").has_value());
  return 0;
}
