#include "common/ini.h"

#include <atomic>
#include <climits>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <system_error>
#include <vector>

#include "common/text.h"

namespace quillora {
namespace {

constexpr std::string_view kUtf8Bom = "\xEF\xBB\xBF";

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\v' || c == '\f'; }

std::string_view Trim(std::string_view s) {
  while (!s.empty() && IsBlank(s.front())) s.remove_prefix(1);
  while (!s.empty() && (IsBlank(s.back()) || s.back() == '\r')) s.remove_suffix(1);
  return s;
}

// One physical line: its content without the line ending, and the ending.
struct Line {
  std::string_view content;
  std::string_view ending;
};

std::vector<Line> SplitLines(std::string_view text) {
  std::vector<Line> lines;
  size_t pos = 0;
  while (pos < text.size()) {
    const size_t nl = text.find('\n', pos);
    if (nl == std::string_view::npos) {
      lines.push_back({text.substr(pos), {}});
      break;
    }
    size_t end = nl;
    if (end > pos && text[end - 1] == '\r') --end;
    lines.push_back({text.substr(pos, end - pos), text.substr(end, nl + 1 - end)});
    pos = nl + 1;
  }
  return lines;
}

enum class LineKind { Other, Section, Entry };

struct Parsed {
  LineKind kind = LineKind::Other;
  std::string_view name;   // section or key name, trimmed
  std::string_view value;  // entry value, trimmed, quotes kept
};

Parsed ParseLine(std::string_view content) {
  Parsed p;
  const std::string_view s = Trim(content);
  if (s.empty() || s.front() == ';') return p;
  if (s.front() == '[') {
    std::string_view inner = s.substr(1);
    const size_t close = inner.find(']');
    if (close != std::string_view::npos) inner = inner.substr(0, close);
    p.kind = LineKind::Section;
    p.name = Trim(inner);
    return p;
  }
  const size_t eq = s.find('=');
  if (eq == std::string_view::npos) return p;
  p.kind = LineKind::Entry;
  p.name = Trim(s.substr(0, eq));
  p.value = Trim(s.substr(eq + 1));
  return p;
}

std::string_view StripQuotes(std::string_view v) {
  if (v.size() >= 2 && (v.front() == '"' || v.front() == '\'') && v.back() == v.front())
    return v.substr(1, v.size() - 2);
  return v;
}

std::string_view WithoutBom(std::string_view text) {
  if (text.substr(0, kUtf8Bom.size()) == kUtf8Bom) text.remove_prefix(kUtf8Bom.size());
  return text;
}

// The value as it must be written so that a read returns it unchanged.
std::string EncodeValue(std::string_view value) {
  std::string v(value);
  for (char& c : v)
    if (c == '\r' || c == '\n') c = ' ';
  const bool needsQuotes =
      !v.empty() && (IsBlank(v.front()) || IsBlank(v.back()) ||
                     (v.size() >= 2 && (v.front() == '"' || v.front() == '\'') && v.back() == v.front()));
  return needsQuotes ? "\"" + v + "\"" : v;
}

}  // namespace

std::optional<std::string> IniGetString(std::string_view text, std::string_view section, std::string_view key) {
  bool inSection = false;
  bool sectionSeen = false;
  for (const Line& line : SplitLines(WithoutBom(text))) {
    const Parsed p = ParseLine(line.content);
    if (p.kind == LineKind::Section) {
      // Only the first section of a name counts.
      if (inSection) return std::nullopt;
      inSection = !sectionSeen && EqualsIgnoringAsciiCase(p.name, section);
      sectionSeen = sectionSeen || inSection;
    } else if (inSection && p.kind == LineKind::Entry && EqualsIgnoringAsciiCase(p.name, key)) {
      return std::string(StripQuotes(p.value));
    }
  }
  return std::nullopt;
}

int IniGetInt(std::string_view text, std::string_view section, std::string_view key, int fallback) {
  const auto value = IniGetString(text, section, key);
  if (!value || value->empty()) return fallback;
  std::string_view s = *value;
  bool negative = false;
  if (!s.empty() && (s.front() == '-' || s.front() == '+')) {
    negative = s.front() == '-';
    s.remove_prefix(1);
  }
  long long n = 0;
  for (char c : s) {
    if (c < '0' || c > '9') break;
    n = n * 10 + (c - '0');
    if (n > static_cast<long long>(INT_MAX) + 1) break;
  }
  if (negative) n = -n;
  if (n > INT_MAX) return INT_MAX;
  if (n < INT_MIN) return INT_MIN;
  return static_cast<int>(n);
}

std::string IniSetString(std::string_view text, std::string_view section, std::string_view key,
                         std::string_view value) {
  const std::string_view body = WithoutBom(text);
  const std::string_view bom = text.substr(0, text.size() - body.size());
  const std::vector<Line> lines = SplitLines(body);

  std::string eol = "\n";
  for (const Line& l : lines)
    if (!l.ending.empty()) {
      eol = std::string(l.ending);
      break;
    }

  // Locate the first section of that name, the key inside it and the last
  // entry of the section.
  constexpr size_t kNone = static_cast<size_t>(-1);
  size_t header = kNone, keyLine = kNone, lastEntry = kNone;
  for (size_t i = 0; i < lines.size(); ++i) {
    const Parsed p = ParseLine(lines[i].content);
    if (p.kind == LineKind::Section) {
      if (header != kNone) break;
      if (EqualsIgnoringAsciiCase(p.name, section)) header = i;
    } else if (header != kNone && p.kind == LineKind::Entry) {
      lastEntry = i;
      if (keyLine == kNone && EqualsIgnoringAsciiCase(p.name, key)) keyLine = i;
    }
  }

  const std::string encoded = EncodeValue(value);
  std::string out(bom);
  auto emit = [&out](const Line& l) {
    out.append(l.content);
    out.append(l.ending);
  };

  if (header == kNone) {
    for (const Line& l : lines) emit(l);
    if (!out.empty() && out.back() != '\n') out += eol;
    out += "[" + std::string(section) + "]" + eol + std::string(key) + "=" + encoded + eol;
    return out;
  }

  const size_t insertAfter = lastEntry != kNone ? lastEntry : header;
  for (size_t i = 0; i < lines.size(); ++i) {
    if (i == keyLine) {
      const std::string_view content = lines[i].content;
      const size_t eq = content.find('=');
      // Keep the indentation and spelling of the name as they stand.
      out.append(content.substr(0, eq));
      out += "=" + encoded;
      out.append(lines[i].ending);
      continue;
    }
    emit(lines[i]);
    if (keyLine == kNone && i == insertAfter) {
      if (lines[i].ending.empty()) out += eol;
      out += std::string(key) + "=" + encoded + eol;
    }
  }
  return out;
}

std::optional<std::string> ReadTextFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return std::nullopt;
  std::ostringstream buffer;
  buffer << in.rdbuf();
  if (in.bad()) return std::nullopt;
  return std::move(buffer).str();
}

bool WriteTextFileAtomically(const std::string& path, std::string_view content) {
  namespace fs = std::filesystem;
  std::error_code ec;
  fs::path target(path);
  // Write through a symbolic link to the file it names, not over the link.
  if (fs::is_symlink(fs::symlink_status(target, ec))) {
    const fs::path resolved = fs::weakly_canonical(target, ec);
    if (ec) return false;
    target = resolved;
  }
  const bool existed = fs::exists(target, ec);
  fs::perms perms = fs::perms::none;
  if (existed) {
    perms = fs::status(target, ec).permissions();
    if (ec) return false;
  }

  static std::atomic<unsigned> counter{0};
  std::random_device rd;
  FILE* file = nullptr;
  fs::path temp;
  for (int attempt = 0; attempt < 16 && !file; ++attempt) {
    temp = target;
    temp += ".tmp" + std::to_string(rd()) + "-" + std::to_string(counter.fetch_add(1));
    file = std::fopen(temp.string().c_str(), "wbx");  // exclusive: never reuse a stranger's file
  }
  if (!file) return false;
  bool ok = content.empty() || std::fwrite(content.data(), 1, content.size(), file) == content.size();
  ok = (std::fflush(file) == 0) && ok;
  ok = (std::fclose(file) == 0) && ok;
  if (ok && existed) {
    fs::permissions(temp, perms, fs::perm_options::replace, ec);
    ok = !ec;
  }
  if (ok) {
    fs::rename(temp, target, ec);
    ok = !ec;
  }
  if (!ok) fs::remove(temp, ec);
  return ok;
}

std::optional<std::string> IniReadFileString(const std::string& path, std::string_view section,
                                             std::string_view key) {
  const auto text = ReadTextFile(path);
  if (!text) return std::nullopt;
  return IniGetString(*text, section, key);
}

bool IniWriteFileString(const std::string& path, std::string_view section, std::string_view key,
                        std::string_view value) {
  std::string text;
  std::error_code ec;
  if (std::filesystem::exists(path, ec)) {
    // An existing file that cannot be read is not replaced by one holding
    // only the new key.
    auto existing = ReadTextFile(path);
    if (!existing) return false;
    text = std::move(*existing);
  } else if (ec) {
    return false;
  }
  return WriteTextFileAtomically(path, IniSetString(text, section, key, value));
}

ServiceSettings ServiceSettingsFromIni(std::string_view iniText) {
  ServiceSettings s = DefaultServiceSettings();
  for (const ServiceSettingsKey& key : kServiceSettingsKeys) {
    auto v = IniGetString(iniText, kServiceSection, key.name);
    if (v && !v->empty()) s.*key.field = std::move(*v);
  }
  return s;
}

std::string ServiceSettingsIniSection(const ServiceSettings& settings) {
  std::string out = std::string("[") + kServiceSection + "]\n";
  for (const ServiceSettingsKey& key : kServiceSettingsKeys)
    out += std::string(key.name) + "=" + EncodeValue(settings.*key.field) + "\n";
  return out;
}

}  // namespace quillora
