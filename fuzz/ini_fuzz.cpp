// INI reading and writing on arbitrary text: no crash, and a value that was
// set reads back unchanged while every other section's values stay as they
// were.
#include <fuzzer/FuzzedDataProvider.h>

#include <string>

#include "common/ini.h"
#include "common/text.h"
#include "fuzz/fuzz_check.h"

namespace {

// A name or value made of characters that survive trimming and quoting.
std::string Token(FuzzedDataProvider& in, size_t maxLength) {
  std::string raw = in.ConsumeRandomLengthString(maxLength);
  std::string out;
  for (char c : raw) {
    if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_' || c == '.')
      out += c;
  }
  return out.empty() ? std::string("k") : out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzedDataProvider in(data, size);
  const std::string section = Token(in, 12);
  const std::string key = Token(in, 12);
  const std::string value = Token(in, 40);
  const std::string text = in.ConsumeRemainingBytesAsString();

  const auto otherBefore = quillora::IniGetString(text, "Service", "Api");
  (void)quillora::IniGetInt(text, section, key, -7);
  (void)quillora::ServiceSettingsFromIni(text);

  const std::string written = quillora::IniSetString(text, section, key, value);
  const auto readBack = quillora::IniGetString(written, section, key);
  FUZZ_CHECK(readBack.has_value());
  FUZZ_CHECK(*readBack == value);
  if (!quillora::EqualsIgnoringAsciiCase(section, "Service")) {
    FUZZ_CHECK(quillora::IniGetString(written, "Service", "Api") == otherBefore);
  }
  // Writing the same value again changes nothing.
  FUZZ_CHECK(quillora::IniSetString(written, section, key, value) == written);
  return 0;
}
