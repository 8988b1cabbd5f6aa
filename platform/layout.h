#pragma once
// Where the program's files live. Two layouts:
// - installed: the program's folder (the running executable's, links
//   resolved) holds the marker file "quillora.layout" reading "installed" and
//   QUILLORA_HOME is not set. That folder belongs to the system: set.ini is
//   the user's own, in the user's settings folder, created on first start
//   from the packaged set.ini's "Service" section, and nothing is ever
//   written beside the program (updates come from the package manager).
// - portable: everything else (a build folder, an unpacked archive, or
//   QUILLORA_HOME set). set.ini lives in QUILLORA_HOME when it is set and not
//   empty, else beside the program, and the Update program downloads there.
#include <string>

namespace quillora::platform {

inline constexpr char kLayoutMarkerFileName[] = "quillora.layout";
inline constexpr char kInstalledLayoutMarkerText[] = "installed";
inline constexpr char kHomeVariable[] = "QUILLORA_HOME";
inline constexpr char kSettingsFileName[] = "set.ini";

enum class LayoutKind { kPortable, kInstalled };

struct ProgramLayout {
  LayoutKind kind = LayoutKind::kPortable;
  std::string programFolder;   // with a trailing separator
  std::string settingsFolder;  // the folder of set.ini, with a trailing separator

  bool IsInstalled() const { return kind == LayoutKind::kInstalled; }
  std::string SettingsFile() const { return settingsFolder + kSettingsFileName; }
  // The set.ini the package ships (beside the program; installed layout).
  std::string PackagedSettingsFile() const { return programFolder + kSettingsFileName; }
};

// The decision for given inputs: `home` is QUILLORA_HOME's value (empty when
// unset), `userSettingsFolder` the user's own settings folder.
ProgramLayout DecideProgramLayout(const std::string& programFolder, const std::string& home,
                                  const std::string& userSettingsFolder);

// This process's layout, from its environment and its program folder as they
// are now (each call looks again; the programs look once, at start).
ProgramLayout GetProgramLayout();

// In the installed layout, makes sure the user's set.ini exists: on first
// start it is created whole, with the "Service" section of the packaged
// set.ini, and one that exists is never replaced. An unreadable or damaged
// packaged file gives the built-in service settings and a line on standard
// error. False (with a line on standard error) when the user's file could
// not be created; true otherwise, and always in the portable layout.
bool PrepareUserSettings(const ProgramLayout& layout);

}  // namespace quillora::platform
