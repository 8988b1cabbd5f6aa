#pragma once
// The main program's settings: set.ini section "Install" beside the
// executable, each setting written the moment it changes; the saved sign-in;
// the start-with-the-desktop entry; the first-run decision; starting the
// Update program. Also the "Service" section, read once, that says where the
// remote services live.
//
// The folder of set.ini follows the program's layout (platform/layout.h):
// the user's settings folder when installed; else the executable's folder,
// unless the environment variable QUILLORA_HOME names another one (portable
// installs, tests and the command-line front end use it). The Update program
// is always taken from the executable's folder.
#include <mutex>
#include <string>

#include "common/service_settings.h"
#include "platform/layout.h"
#include "service/identity/identity.h"

namespace quillora {

class UserSession;

inline constexpr char kSettingsFileName[] = "set.ini";
// The command that an installed package puts on the PATH.
inline constexpr char kInstalledCommand[] = "quillora";
inline constexpr char kInstallSection[] = "Install";
inline constexpr char kProductIdentifier[] = "Quillora";
inline constexpr char kUpdaterProgramName[] = "Update";
inline constexpr const char* kHomeEnvironmentVariable = platform::kHomeVariable;

class AppConfig {
 public:
  // The process's store over the default folder (see above), loading into
  // UserSession::Instance(). Created on first call, never destroyed;
  // thread-safe.
  static AppConfig& Instance();

  // For tools that share the main program's settings (the command-line front
  // end): the store that Instance() creates afterwards reads set.ini as usual
  // but leaves the first-run decision, and the "FirstRun" key, to the main
  // program. Call before the first Instance().
  static void LeaveFirstRunToTheProgram();

  // The folder of set.ini for this process (see above), with a trailing
  // separator.
  static std::string DefaultSettingsFolder();

  // A store over `settingsFolder` (ending in a separator), taking the Update
  // program from `programFolder` (empty: the settings folder) and loading the
  // saved sign-in into `session`. Runs the whole creation, including the
  // first-run decision unless `decideFirstRun` is off (then this is never a
  // first run and nothing is written). `layout` says whether the program is
  // installed (then it starts no Update program and its autostart entry names
  // the installed command). Tests use it; programs use Instance().
  AppConfig(std::string settingsFolder, std::string programFolder, UserSession& session,
            bool decideFirstRun = true, platform::LayoutKind layout = platform::LayoutKind::kPortable);
  AppConfig(const AppConfig&) = delete;
  AppConfig& operator=(const AppConfig&) = delete;

  std::string GetVersion() const;
  std::string GetProductName() const;
  std::string GetProductId() const { return kProductIdentifier; }
  std::string GetExportPath() const;
  // The export path with exactly one trailing separator; empty when the
  // export path is empty.
  std::string GetOutputFolder() const;
  // "setup_" + product identifier + "_" + version + ".exe".
  std::string GetInstallerFileName() const;

  bool IsFirstRun() const;
  bool IsAutoRun() const;
  bool IsAutoUpdate() const;
  bool IsCloseExit() const;

  // Each setter keeps the value in memory and writes it to set.ini at once.
  // Returns whether the write succeeded; after a failed one the value still
  // holds for the rest of the run, and the settings window tells the user.
  bool SetAutoRun(bool on);
  bool SetAutoUpdate(bool on);
  // Written inverted: "0" when the close button ends the program.
  bool SetCloseExit(bool on);
  bool SetExportPath(const std::string& path);

  // True in the installed layout: updates come from the package manager.
  bool IsInstalled() const { return layout_ == platform::LayoutKind::kInstalled; }

  // Adds or removes the start-with-the-desktop entry: for the installed
  // command in the installed layout, else for the running executable (with
  // QUILLORA_HOME when set). 0 on success, otherwise a platform error number.
  int EnableAutoRunEntry();
  int DisableAutoRunEntry();

  // Writes the saved sign-in from the session; returns whether it was stored.
  bool SaveLogin();
  // Reads the saved sign-in into the session (see UserSession::LoadSaved).
  void LoadSavedLogin();

  // Starts the Update program with the arguments mode, product identifier and
  // version, without waiting. Returns false when it could not be started
  // (callers ignore it), and always in the installed layout, where nothing
  // may be downloaded beside the program.
  bool StartUpdater(int mode);

  // Where the remote services live (set.ini section "Service"), read once at
  // creation.
  const ServiceSettings& GetServiceSettings() const { return serviceSettings_; }

  // The identity values with this store's version (product info empty).
  SoftwareIdentity GetSoftwareIdentity() const;

  const std::string& GetSettingsFolder() const { return settingsFolder_; }
  const std::string& GetProgramFolder() const { return programFolder_; }
  std::string GetSettingsFilePath() const { return settingsFolder_ + kSettingsFileName; }

 private:
  bool WriteSetting(const char* key, const std::string& value);

  const std::string settingsFolder_;
  const std::string programFolder_;
  const platform::LayoutKind layout_;
  UserSession& session_;
  ServiceSettings serviceSettings_;

  // Guards the fields below and serialises writes of set.ini: worker threads
  // read the version and output folder while the settings page writes.
  mutable std::mutex mutex_;
  bool firstRun_ = false;
  std::string version_;
  std::string productName_;
  bool autoRun_ = false;
  bool autoUpdate_ = true;
  bool closeExit_ = false;
  std::string exportPath_;
};

}  // namespace quillora
