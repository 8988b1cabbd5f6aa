#include <cstdlib>
#include <vector>

#include <unistd.h>

#include "common/ini.h"
#include "platform/linux/xdg.h"
#include "platform/paths.h"

namespace quillora::platform {

std::string GetExecutablePath() {
  std::vector<char> buffer(4096);
  while (true) {
    const ssize_t n = ::readlink("/proc/self/exe", buffer.data(), buffer.size());
    if (n < 0) return {};
    if (static_cast<size_t>(n) < buffer.size()) return std::string(buffer.data(), static_cast<size_t>(n));
    buffer.resize(buffer.size() * 2);
  }
}

std::string GetExecutableFolder() {
  static const std::string folder = [] {
    const std::string path = GetExecutablePath();
    const size_t slash = path.find_last_of('/');
    return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
  }();
  return folder;
}

std::string GetTempFolder() {
  const char* tmp = std::getenv("TMPDIR");
  return WithTrailingSeparator(tmp && *tmp ? tmp : "/tmp");
}

namespace {

// The value of XDG_DOCUMENTS_DIR in a user-dirs.dirs text: "$HOME/..." or an
// absolute path, in double quotes. Empty when unset, unusable, or set to the
// home folder itself (which is how a disabled folder is written).
std::string DocumentsFromUserDirs(const std::string& text, const std::string& home) {
  size_t pos = 0;
  while (pos < text.size()) {
    size_t end = text.find('\n', pos);
    if (end == std::string::npos) end = text.size();
    std::string_view line(text.data() + pos, end - pos);
    pos = end + 1;
    while (!line.empty() && (line.front() == ' ' || line.front() == '\t')) line.remove_prefix(1);
    constexpr std::string_view kKey = "XDG_DOCUMENTS_DIR=";
    if (line.substr(0, kKey.size()) != kKey) continue;
    line.remove_prefix(kKey.size());
    if (line.size() < 2 || line.front() != '"') return {};
    const size_t close = line.find('"', 1);
    if (close == std::string_view::npos) return {};
    std::string value;
    for (size_t i = 1; i < close; ++i) {
      if (line[i] == '\\' && i + 1 < close) ++i;
      value += line[i];
    }
    if (value.rfind("$HOME", 0) == 0) value = home + value.substr(5);
    while (value.size() > 1 && value.back() == '/') value.pop_back();
    if (value.empty() || value.front() != '/' || value == home) return {};
    return value;
  }
  return {};
}

}  // namespace

std::string GetDocumentsFolder() {
  const std::string home = linux_impl::HomeFolder();
  if (home.empty()) return {};
  const std::string configHome = linux_impl::ConfigHome();
  if (!configHome.empty()) {
    if (auto text = ReadTextFile(configHome + "/user-dirs.dirs")) {
      std::string docs = DocumentsFromUserDirs(*text, home);
      if (!docs.empty()) return docs;
    }
  }
  return home + "/Documents";
}

std::string GetUserStateFolder() {
  const std::string config = linux_impl::ConfigHome();
  return config.empty() ? std::string() : config + "/Quillora";
}

}  // namespace quillora::platform
