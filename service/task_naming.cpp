#include "service/task_naming.h"

#include <cstdio>

#include "common/text.h"

namespace quillora {

uint64_t ChunkCount(uint64_t size) {
  return size / kUploadChunkSize + (size % kUploadChunkSize != 0 ? 1 : 0);
}

std::string_view FileNameOf(std::string_view path) {
  const size_t cut = path.find_last_of("/\\");
  return cut == std::string_view::npos ? path : path.substr(cut + 1);
}

std::string_view ExtensionOf(std::string_view path) {
  const std::string_view name = FileNameOf(path);
  const size_t dot = name.rfind('.');
  return dot == std::string_view::npos ? std::string_view() : name.substr(dot);
}

std::string UploadName(int counter, std::string_view sourcePath) {
  return "QuilloraFileSize" + std::to_string(counter) + std::string(ExtensionOf(sourcePath));
}

namespace {

std::string WithoutSeparators(std::string_view text) {
  std::string out(text);
  for (char& c : out) {
    if (c == '/' || c == '\\' || c == '\0') c = '_';
  }
  // A component made only of dots could still name a parent folder.
  if (out.find_first_not_of('.') == std::string::npos && !out.empty()) out.assign(out.size(), '_');
  return out;
}

}  // namespace

std::string ResultPathFor(std::string_view outputFolder, std::string_view sourcePath,
                          std::string_view targetLang, std::string_view outputExt) {
  std::string_view base = FileNameOf(sourcePath);
  const size_t dot = base.rfind('.');
  if (dot != std::string_view::npos) base = base.substr(0, dot);
  std::string path(outputFolder);
  if (!path.empty() && path.back() != '/') path.push_back('/');
  path += base;
  path += '_';
  path += WithoutSeparators(targetLang);
  path += '.';
  path += WithoutSeparators(outputExt);
  return path;
}

std::string EscapeUtf16Units(std::string_view utf8) {
  const std::u16string units = Utf8ToUtf16(utf8);
  std::string out;
  out.reserve(units.size() * 6);
  char buf[8];
  for (const char16_t unit : units) {
    std::snprintf(buf, sizeof buf, "\\u%02x%02x", static_cast<unsigned>(unit >> 8),
                  static_cast<unsigned>(unit & 0xFF));
    out += buf;
  }
  return out;
}

namespace {

bool IsUnreserved(unsigned char c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' ||
         c == '.' || c == '_' || c == '~';
}

bool IsPathCharacter(unsigned char c) {
  return IsUnreserved(c) || std::string_view("!$&'()*+,;=:@/").find(static_cast<char>(c)) != std::string_view::npos;
}

std::string PercentEncode(std::string_view text, bool (*keep)(unsigned char)) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string out;
  out.reserve(text.size());
  for (const char ch : text) {
    const auto c = static_cast<unsigned char>(ch);
    if (keep(c)) {
      out.push_back(ch);
    } else {
      out.push_back('%');
      out.push_back(kHex[c >> 4]);
      out.push_back(kHex[c & 0xF]);
    }
  }
  return out;
}

}  // namespace

std::string UrlEncode(std::string_view text) { return PercentEncode(text, &IsUnreserved); }

std::string UrlEncodePath(std::string_view text) { return PercentEncode(text, &IsPathCharacter); }

std::string PreviewNameFromConvertInfo(std::string_view fileConvertInfos) {
  const std::u16string units = Utf8ToUtf16(fileConvertInfos);
  if (units.size() < 15) return {};
  return Utf16ToUtf8(std::u16string_view(units).substr(13, units.size() - 15));
}

std::string CrLfToLf(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') continue;
    out.push_back(text[i]);
  }
  return out;
}

}  // namespace quillora
