// The set.ini the package ships must name every service key with exactly the
// hosts the programs fall back on: a key it leaves out would still read back
// as the default, so each key is looked up on its own.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include "common/ini.h"
#include "common/service_settings.h"

namespace quillora {
namespace {

TEST(PackagedIni, NamesEveryServiceKeyWithTheDefaults) {
  const auto out = std::filesystem::path(::testing::TempDir()) / "packaged-set.ini";
  std::filesystem::remove(out);
  const std::string command = std::string(QUILLORA_PACKAGED_INI_TOOL) + " '" + out.string() + "'";
  ASSERT_EQ(std::system(command.c_str()), 0);

  const auto text = ReadTextFile(out.string());
  ASSERT_TRUE(text.has_value());
  const ServiceSettings defaults = DefaultServiceSettings();
  for (const ServiceSettingsKey& key : kServiceSettingsKeys) {
    const auto value = IniGetString(*text, kServiceSection, key.name);
    ASSERT_TRUE(value.has_value()) << key.name;
    EXPECT_EQ(*value, defaults.*key.field) << key.name;
  }
  // The package trusts the system's certificates only, never an extra CA file.
  EXPECT_EQ(IniGetString(*text, kServiceSection, kServiceCaFileKey).value_or("missing"), "");
}

TEST(PackagedIni, FailsOnAnUnwritableTarget) {
  const auto dir = std::filesystem::path(::testing::TempDir()) / "packaged-ini-missing" / "no" / "set.ini";
  const std::string command = std::string(QUILLORA_PACKAGED_INI_TOOL) + " '" + dir.string() + "' 2>/dev/null";
  EXPECT_NE(std::system(command.c_str()), 0);
}

}  // namespace
}  // namespace quillora
