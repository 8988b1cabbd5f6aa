#include "workspace/file_info.h"

#include <cstdio>
#include <filesystem>

#include "common/text.h"

namespace quillora::workspace {

std::string FileNameOf(std::string_view path) {
  const size_t slash = path.find_last_of("/\\");
  return std::string(slash == std::string_view::npos ? path : path.substr(slash + 1));
}

std::string ExtensionOf(std::string_view path) {
  const std::string name = FileNameOf(path);
  const size_t dot = name.find_last_of('.');
  if (dot == std::string::npos) return {};
  return name.substr(dot);
}

int MatchExtension(std::string_view path, std::span<const std::string_view> extensions) {
  const std::string ext = ExtensionOf(path);
  if (ext.empty()) return -1;
  for (size_t i = 0; i < extensions.size(); ++i) {
    if (EqualsIgnoringAsciiCase(ext, extensions[i])) return static_cast<int>(i);
  }
  return -1;
}

std::string FormatFileSize(uint64_t bytes) {
  struct Unit {
    uint64_t size;
    const char* name;
  };
  static constexpr Unit kUnits[] = {{1ull << 30, "GB"}, {1ull << 20, "MB"}, {1ull << 10, "KB"}};
  char text[64];
  for (const Unit& unit : kUnits) {
    if (bytes < unit.size) continue;
    // Rounded through single precision first, as the sizes have always been
    // shown, so 1048575 bytes read 1024.00KB rather than 1023.99KB.
    const float value = static_cast<float>(static_cast<double>(bytes) / static_cast<double>(unit.size));
    std::snprintf(text, sizeof text, "%.2f%s", static_cast<double>(value), unit.name);
    return text;
  }
  std::snprintf(text, sizeof text, "%lluB", static_cast<unsigned long long>(bytes));
  return text;
}

std::optional<uint64_t> RegularFileSize(const std::string& path) {
  std::error_code ec;
  const auto status = std::filesystem::status(path, ec);
  if (ec || !std::filesystem::is_regular_file(status)) return std::nullopt;
  const uint64_t size = std::filesystem::file_size(path, ec);
  if (ec) return std::nullopt;
  return size;
}

}  // namespace quillora::workspace
