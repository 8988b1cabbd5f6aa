#include "update/updater.h"

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <system_error>

#include "common/codec.h"
#include "common/ini.h"
#include "platform/layout.h"
#include "platform/paths.h"
#include "platform/process.h"
#include "service/transport/http.h"
#include "service/transport/remote_services.h"

namespace quillora::updater {

namespace fs = std::filesystem;

namespace {

// set.ini's text: the layout's file; an installed program that has not
// started yet for this user reads the packaged one (Update creates nothing).
std::string SettingsText(const platform::ProgramLayout& layout) {
  if (auto text = ReadTextFile(layout.SettingsFile())) return *text;
  if (layout.IsInstalled()) return ReadTextFile(layout.PackagedSettingsFile()).value_or(std::string());
  return {};
}

// The installed layout's whole job: say whether a newer version exists.
int ReportOnly(const UpdateAnswer& answer) {
  if (!answer.parsed) {
    std::fprintf(stderr, "Update: the update service gave no usable answer\n");
    return kExitCheckFailed;
  }
  if (answer.code != kUpdateAvailable) return kExitUpToDate;
  // The version comes from outside and goes to a terminal: plain text only.
  if (!IsSafeFileNamePiece(answer.newVersion)) {
    std::fprintf(stderr, "Update: the update service named no readable version\n");
    return kExitCheckFailed;
  }
  std::printf("Quillora %s is available: update it with the system's package manager\n", answer.newVersion.c_str());
  return kExitUpdateAvailable;
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

int Run(const std::vector<std::string>& arguments) {
  const std::vector<std::string> pieces = SplitArguments(arguments);
  if (pieces.size() != 3) return kExitUpToDate;
  const std::string& mode = pieces[0];
  const std::string& identifier = pieces[1];
  const std::string& version = pieces[2];

  const platform::ProgramLayout layout = platform::GetProgramLayout();
  const std::string& programFolder = layout.programFolder;
  if (programFolder.empty()) return kExitUpToDate;
  ConfigureRemoteServices(ServiceSettingsFromIni(SettingsText(layout)));

  const std::string package = InstallerFileName(identifier, version);
  const UpdateAnswer answer = ParseUpdateAnswer(CheckUpdateRequest(identifier, version, package));
  if (layout.IsInstalled()) return ReportOnly(answer);
  if (answer.code != kUpdateAvailable) return kExitUpToDate;

  // Both pieces of the installer's name come from outside (the command line
  // and the service); neither may lead the path out of the program's folder.
  if (!IsSafeFileNamePiece(identifier) || !IsSafeFileNamePiece(answer.newVersion)) return kExitUpToDate;
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
  return kExitUpToDate;  // the portable layout's exit code is always 0
}

}  // namespace quillora::updater
