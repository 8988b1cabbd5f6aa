#include "update/updater.h"

#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <system_error>

#include "common/codec.h"
#include "common/ini.h"
#include "platform/paths.h"
#include "platform/process.h"
#include "service/transport/http.h"
#include "service/transport/remote_services.h"

namespace quillora::updater {

namespace fs = std::filesystem;

namespace {

// Where set.ini lives: QUILLORA_HOME when set, otherwise beside the program.
std::string SettingsFolder(const std::string& programFolder) {
  const char* home = std::getenv("QUILLORA_HOME");
  if (home != nullptr && *home != '\0') return platform::WithTrailingSeparator(home);
  return programFolder;
}

// Empty when the file cannot be read completely.
std::string FileMd5Hex(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return {};
  Md5 md5;
  std::string buffer(64 * 1024, '\0');
  while (in) {
    in.read(buffer.data(), static_cast<std::streamsize>(buffer.size()));
    const std::streamsize got = in.gcount();
    if (got > 0) md5.Update(buffer.data(), static_cast<size_t>(got));
  }
  if (in.bad()) return {};
  const auto digest = md5.Final();
  return HexLower(std::string_view(reinterpret_cast<const char*>(digest.data()), digest.size()));
}

bool MakeExecutable(const std::string& path) {
  std::error_code ec;
  fs::permissions(path,
                  fs::perms::owner_exec | fs::perms::group_exec | fs::perms::others_exec,
                  fs::perm_options::add, ec);
  return !ec;
}

}  // namespace

std::vector<std::string> SplitArguments(const std::vector<std::string>& arguments) {
  std::string line;
  for (const std::string& a : arguments) {
    line += a;
    line += ' ';
  }
  std::vector<std::string> pieces;
  std::string piece;
  for (char c : line) {
    if (c == ' ') {
      if (!piece.empty()) pieces.push_back(std::move(piece));
      piece.clear();
    } else {
      piece += c;
    }
  }
  return pieces;
}

Action DecideAction(std::string_view mode, const UpdateAnswer& answer, bool installerPresent) {
  // 0 and 3 mean "no update"; other codes carry no description, and acting on
  // an empty version and address is never useful.
  if (answer.code != kUpdateAvailable) return Action::kNothing;
  if (mode == "1" && answer.updateType != 0) return Action::kNothing;
  if (mode == "0" || mode == "1") return installerPresent ? Action::kStart : Action::kDownload;
  if (mode == "2") return Action::kDownload;
  if (mode == "3") return Action::kDownloadThenStart;
  return Action::kNothing;
}

bool DownloadInstaller(const std::string& url, const std::string& installerPath,
                       const std::string& expectedMd5) {
  if (url.empty()) return false;
  // A name of this process's own, so that two runs at once (a start-up check
  // and the menu's) never write into the same file.
  const std::string staging = installerPath + "." + std::to_string(::getpid()) + ".download";
  std::error_code ec;
  bool ok = DownloadToFile(url, staging, {}, kMaxInstallerBytes);
  if (ok && !expectedMd5.empty()) ok = FileMd5Hex(staging) == expectedMd5;
  if (ok) ok = MakeExecutable(staging);
  if (ok) {
    fs::rename(staging, installerPath, ec);
    ok = !ec;
  }
  if (!ok) fs::remove(staging, ec);
  return ok;
}

bool StartInstaller(const std::string& installerPath) {
  // A file left by an earlier run may lack the execute bit; failing to add it
  // shows up as a failed start.
  MakeExecutable(installerPath);
  return platform::StartProcess(installerPath, {});
}

void Run(const std::vector<std::string>& arguments) {
  const std::vector<std::string> pieces = SplitArguments(arguments);
  if (pieces.size() != 3) return;
  const std::string& mode = pieces[0];
  const std::string& identifier = pieces[1];
  const std::string& version = pieces[2];

  const std::string programFolder = platform::GetExecutableFolder();
  if (programFolder.empty()) return;
  const std::string settingsText =
      ReadTextFile(SettingsFolder(programFolder) + "set.ini").value_or(std::string());
  ConfigureRemoteServices(ServiceSettingsFromIni(settingsText));

  const std::string package = InstallerFileName(identifier, version);
  const UpdateAnswer answer = ParseUpdateAnswer(CheckUpdateRequest(identifier, version, package));
  if (answer.code != kUpdateAvailable) return;

  // Both pieces of the installer's name come from outside (the command line
  // and the service); neither may lead the path out of the program's folder.
  if (!IsSafeFileNamePiece(identifier) || !IsSafeFileNamePiece(answer.newVersion)) return;
  const std::string installerPath =
      programFolder + InstallerFileName(identifier, answer.newVersion);

  std::error_code ec;
  const bool present = fs::is_regular_file(installerPath, ec);
  switch (DecideAction(mode, answer, present)) {
    case Action::kNothing:
      break;
    case Action::kStart:
      StartInstaller(installerPath);
      break;
    case Action::kDownload:
      DownloadInstaller(answer.downloadUrl, installerPath, answer.installerMd5);
      break;
    case Action::kDownloadThenStart:
      // Only a file this run has fetched and checked is started.
      if (DownloadInstaller(answer.downloadUrl, installerPath, answer.installerMd5)) {
        StartInstaller(installerPath);
      }
      break;
  }
}

}  // namespace quillora::updater
