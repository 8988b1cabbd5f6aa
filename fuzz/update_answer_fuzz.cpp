// The update answer on arbitrary text: only an answer with code 1 describes an
// update, and what it names for the installer file stays a plain file name.
#include <string>
#include <string_view>

#include "fuzz/fuzz_check.h"
#include "update/update_request.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  const quillora::UpdateAnswer answer = quillora::ParseUpdateAnswer(text);
  if (!answer.parsed) FUZZ_CHECK(answer.code == 0);
  if (answer.code != quillora::kUpdateAvailable) {
    FUZZ_CHECK(answer.newVersion.empty());
    FUZZ_CHECK(answer.downloadUrl.empty());
    FUZZ_CHECK(answer.installerMd5.empty());
  }
  if (quillora::IsSafeFileNamePiece(answer.newVersion)) {
    const std::string installer = quillora::InstallerFileName("Quillora", answer.newVersion);
    FUZZ_CHECK(installer.find('/') == std::string::npos);
    FUZZ_CHECK(installer.find('\\') == std::string::npos);
  }
  return 0;
}
