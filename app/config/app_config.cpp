#include "app/config/app_config.h"

#include <atomic>
#include <cstdlib>
#include <filesystem>
#include <system_error>

#include "account/session/user_session.h"
#include "common/ini.h"
#include "common/text.h"
#include "platform/autorun.h"
#include "platform/paths.h"
#include "platform/process.h"

namespace quillora {
namespace {

constexpr char kVersionKey[] = "Version";
constexpr char kProductNameKey[] = "ProductName";
constexpr char kAutoRunKey[] = "AutoRun";
constexpr char kAutoUpdateKey[] = "AutoUpdate";
constexpr char kCloseExitKey[] = "CloseExit";
constexpr char kExportPathKey[] = "ExplortPath";  // sic: the key has always been spelled so
constexpr char kFirstRunKey[] = "FirstRun";

constexpr char kDefaultVersion[] = "1.0.0";
constexpr char kDefaultProductName[] = "Quillora";

// Version and product name are read into a 260-character buffer: at most
// 259 UTF-16 units survive, cut at a character boundary.
std::string LimitTo259Units(const std::string& text) {
  std::u16string wide = Utf8ToUtf16(text);
  if (wide.size() <= 259) return text;
  wide.resize(259);
  if (wide.back() >= 0xD800 && wide.back() <= 0xDBFF) wide.pop_back();
  return Utf16ToUtf8(wide);
}

}  // namespace

std::string AppConfig::DefaultSettingsFolder() { return platform::GetProgramLayout().settingsFolder; }

namespace {
std::atomic<bool> gDecideFirstRun{true};
}  // namespace

void AppConfig::LeaveFirstRunToTheProgram() { gDecideFirstRun = false; }

AppConfig& AppConfig::Instance() {
  // Function-local static: its initialisation is the creation lock, so
  // concurrent first calls create one store.
  static AppConfig* const config = [] {
    const platform::ProgramLayout layout = platform::GetProgramLayout();
    platform::PrepareUserSettings(layout);
    return new AppConfig(layout.settingsFolder, layout.programFolder, UserSession::Instance(), gDecideFirstRun.load(),
                         layout.kind);
  }();
  return *config;
}

AppConfig::AppConfig(std::string settingsFolder, std::string programFolder, UserSession& session,
                     bool decideFirstRun, platform::LayoutKind layout)
    : settingsFolder_(platform::WithTrailingSeparator(std::move(settingsFolder))),
      programFolder_(programFolder.empty() ? settingsFolder_ : platform::WithTrailingSeparator(std::move(programFolder))),
      layout_(layout),
      session_(session) {
  // A missing or unreadable set.ini reads as empty: every setting takes its
  // default.
  const std::string text = ReadTextFile(GetSettingsFilePath()).value_or(std::string());
  version_ = LimitTo259Units(IniGetString(text, kInstallSection, kVersionKey).value_or(kDefaultVersion));
  productName_ = LimitTo259Units(IniGetString(text, kInstallSection, kProductNameKey).value_or(kDefaultProductName));

  LoadSavedLogin();

  autoRun_ = IniGetInt(text, kInstallSection, kAutoRunKey, 0) != 0;
  autoUpdate_ = IniGetInt(text, kInstallSection, kAutoUpdateKey, 1) != 0;
  // Stored inverted: 0 means the close button ends the program.
  closeExit_ = IniGetInt(text, kInstallSection, kCloseExitKey, 0) == 0;
  exportPath_ = IniGetString(text, kInstallSection, kExportPathKey).value_or(std::string());
  if (exportPath_.empty()) exportPath_ = platform::GetDocumentsFolder();  // not written back

  serviceSettings_ = ServiceSettingsFromIni(text);

  // Recorded at once, so that only this process start is the first run.
  firstRun_ = decideFirstRun && IniGetInt(text, kInstallSection, kFirstRunKey, 0) == 0;
  if (firstRun_) WriteSetting(kFirstRunKey, "1");
}

bool AppConfig::WriteSetting(const char* key, const std::string& value) {
  return IniWriteFileString(GetSettingsFilePath(), kInstallSection, key, value);
}

std::string AppConfig::GetVersion() const {
  std::lock_guard lock(mutex_);
  return version_;
}

std::string AppConfig::GetProductName() const {
  std::lock_guard lock(mutex_);
  return productName_;
}

std::string AppConfig::GetExportPath() const {
  std::lock_guard lock(mutex_);
  return exportPath_;
}

std::string AppConfig::GetOutputFolder() const {
  std::lock_guard lock(mutex_);
  return platform::WithTrailingSeparator(exportPath_);
}

std::string AppConfig::GetInstallerFileName() const {
  std::lock_guard lock(mutex_);
  return std::string("setup_") + kProductIdentifier + "_" + version_ + ".exe";
}

bool AppConfig::IsFirstRun() const {
  std::lock_guard lock(mutex_);
  return firstRun_;
}

bool AppConfig::IsAutoRun() const {
  std::lock_guard lock(mutex_);
  return autoRun_;
}

bool AppConfig::IsAutoUpdate() const {
  std::lock_guard lock(mutex_);
  return autoUpdate_;
}

bool AppConfig::IsCloseExit() const {
  std::lock_guard lock(mutex_);
  return closeExit_;
}

bool AppConfig::SetAutoRun(bool on) {
  std::lock_guard lock(mutex_);
  autoRun_ = on;
  return WriteSetting(kAutoRunKey, on ? "1" : "0");
}

bool AppConfig::SetAutoUpdate(bool on) {
  std::lock_guard lock(mutex_);
  autoUpdate_ = on;
  return WriteSetting(kAutoUpdateKey, on ? "1" : "0");
}

bool AppConfig::SetCloseExit(bool on) {
  std::lock_guard lock(mutex_);
  closeExit_ = on;
  return WriteSetting(kCloseExitKey, on ? "0" : "1");
}

bool AppConfig::SetExportPath(const std::string& path) {
  std::lock_guard lock(mutex_);
  exportPath_ = path;
  return WriteSetting(kExportPathKey, path);
}

int AppConfig::EnableAutoRunEntry() {
  // The installed command survives package upgrades that move the program.
  if (IsInstalled()) return platform::EnableAutoRunEntry(kInstalledCommand);
  // A portable installation keeps its settings where QUILLORA_HOME points; the
  // program started at sign-in must read the same set.ini.
  platform::AutoRunEnvironment environment;
  if (const char* home = std::getenv(kHomeEnvironmentVariable); home && *home) {
    std::error_code ec;
    const std::filesystem::path absolute = std::filesystem::absolute(home, ec);
    environment.emplace_back(kHomeEnvironmentVariable, ec ? std::string(home) : absolute.string());
  }
  return platform::EnableAutoRunEntry(platform::GetExecutablePath(), environment);
}

int AppConfig::DisableAutoRunEntry() { return platform::DisableAutoRunEntry(); }

bool AppConfig::SaveLogin() { return session_.Save(); }

void AppConfig::LoadSavedLogin() { session_.LoadSaved(); }

bool AppConfig::StartUpdater(int mode) {
  if (IsInstalled()) return false;
  return platform::StartProcess(programFolder_ + kUpdaterProgramName,
                                {std::to_string(mode), kProductIdentifier, GetVersion()});
}

SoftwareIdentity AppConfig::GetSoftwareIdentity() const { return MakeSoftwareIdentity(GetVersion()); }

}  // namespace quillora
