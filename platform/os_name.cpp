#include "platform/os_name.h"

#include <map>

namespace quillora::platform {

std::string WindowsVersionName(const WindowsVersionInfo& info) {
  // The kernel's own numbers are the truth: the version query reports 6.2 to
  // programs without a compatibility manifest on 8.1 and 10.
  if (info.ntMajor && info.ntMinor) {
    if (*info.ntMajor == 6 && *info.ntMinor == 3) return "8.1";
    if (*info.ntMajor == 10 && *info.ntMinor == 0) return "10";
  }
  const unsigned v = info.major * 100 + info.minor;
  switch (v) {
    case 400: return info.platformNt ? "NT 4.0" : "95";
    case 410: return "98";
    case 490: return "Me";
    case 500: return "2000";
    case 501: return "XP";
    case 502: return info.workstation && info.amd64Processor ? "XP" : "2003";
    case 600: return info.workstation ? "Vista" : "Server 2008";
    case 601: return info.workstation ? "7" : "Server 2008 R2";
    case 602: return info.workstation ? "8" : "Server 2012";
    default: return {};
  }
}

namespace {

// An os-release value: unquoted, or in single or double quotes; inside double
// quotes a backslash escapes the next character.
std::string OsReleaseValue(std::string_view v) {
  while (!v.empty() && (v.back() == ' ' || v.back() == '\t' || v.back() == '\r')) v.remove_suffix(1);
  if (v.size() >= 2 && (v.front() == '"' || v.front() == '\'') && v.back() == v.front()) {
    const bool escapes = v.front() == '"';
    v = v.substr(1, v.size() - 2);
    std::string out;
    for (size_t i = 0; i < v.size(); ++i) {
      if (escapes && v[i] == '\\' && i + 1 < v.size()) ++i;
      out += v[i];
    }
    return out;
  }
  return std::string(v);
}

}  // namespace

std::string OsNameFromOsRelease(std::string_view text) {
  std::map<std::string, std::string, std::less<>> values;
  size_t pos = 0;
  while (pos < text.size()) {
    size_t end = text.find('\n', pos);
    if (end == std::string_view::npos) end = text.size();
    std::string_view line = text.substr(pos, end - pos);
    pos = end + 1;
    while (!line.empty() && (line.front() == ' ' || line.front() == '\t')) line.remove_prefix(1);
    if (line.empty() || line.front() == '#') continue;
    const size_t eq = line.find('=');
    if (eq == std::string_view::npos) continue;
    values.try_emplace(std::string(line.substr(0, eq)), OsReleaseValue(line.substr(eq + 1)));
  }
  auto get = [&](std::string_view key) {
    auto it = values.find(key);
    return it == values.end() ? std::string() : it->second;
  };
  const std::string name = get("NAME");
  const std::string version = get("VERSION_ID");
  if (!name.empty() && !version.empty()) return name + " " + version;
  if (const std::string pretty = get("PRETTY_NAME"); !pretty.empty()) return pretty;
  return name;
}

}  // namespace quillora::platform
