#include "platform/layout.h"

#include <cstdio>
#include <cstdlib>

#include "common/ini.h"
#include "platform/files.h"
#include "platform/paths.h"

namespace quillora::platform {

namespace {

std::string Trimmed(const std::string& text) {
  const size_t first = text.find_first_not_of(" \t\r\n");
  if (first == std::string::npos) return {};
  return text.substr(first, text.find_last_not_of(" \t\r\n") - first + 1);
}

bool HasInstalledMarker(const std::string& programFolder) {
  const auto text = ReadTextFile(programFolder + kLayoutMarkerFileName);
  return text && Trimmed(*text) == kInstalledLayoutMarkerText;
}

bool HasServiceSection(const std::string& iniText) {
  for (const ServiceSettingsKey& key : kServiceSettingsKeys)
    if (IniGetString(iniText, kServiceSection, key.name)) return true;
  return false;
}

// The "Service" section to seed the user's set.ini with.
std::string SeedServiceSection(const std::string& packagedFile) {
  const auto text = ReadTextFile(packagedFile);
  const char* problem = !text                      ? "cannot be read"
                        : !HasServiceSection(*text) ? "has no \"Service\" section"
                                                    : nullptr;
  if (problem) {
    std::fprintf(stderr, "quillora: the packaged settings %s %s; using the built-in service settings\n",
                 packagedFile.c_str(), problem);
    return ServiceSettingsIniSection(DefaultServiceSettings());
  }
  return ServiceSettingsIniSection(ServiceSettingsFromIni(*text));
}

}  // namespace

ProgramLayout DecideProgramLayout(const std::string& programFolder, const std::string& home,
                                  const std::string& userSettingsFolder) {
  ProgramLayout layout;
  layout.programFolder = WithTrailingSeparator(programFolder);
  if (home.empty() && HasInstalledMarker(layout.programFolder)) {
    layout.kind = LayoutKind::kInstalled;
    // Without a known home the settings cannot be kept; a folder that cannot
    // exist makes every write fail visibly instead of landing elsewhere.
    layout.settingsFolder =
        WithTrailingSeparator(userSettingsFolder.empty() ? "/nonexistent/Quillora" : userSettingsFolder);
    return layout;
  }
  layout.settingsFolder = home.empty() ? layout.programFolder : WithTrailingSeparator(home);
  return layout;
}

ProgramLayout GetProgramLayout() {
  const char* home = std::getenv(kHomeVariable);
  return DecideProgramLayout(GetExecutableFolder(), home ? home : "", GetUserStateFolder());
}

bool PrepareUserSettings(const ProgramLayout& layout) {
  if (!layout.IsInstalled()) return true;
  if (ReadTextFile(layout.SettingsFile())) return true;  // the usual case: nothing to read twice
  const std::string content =
      "; Quillora's settings for this user, first taken from " + layout.PackagedSettingsFile() + "\n" +
      SeedServiceSection(layout.PackagedSettingsFile());
  const int error = CreatePrivateFolders(layout.settingsFolder)
                        ? CreateFilePrivatelyIfAbsent(layout.SettingsFile(), content)
                        : -1;
  if (error == 0 || IsAlreadyExistsError(error)) return true;
  std::fprintf(stderr, "quillora: cannot create %s; the settings of this run are not kept\n",
               layout.SettingsFile().c_str());
  return false;
}

}  // namespace quillora::platform
