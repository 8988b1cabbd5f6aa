#include "ui/ui_attr.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>

namespace DirectUI {

namespace {

// strtol at `p`, clamped; `end` as strtol sets it.
int ClampedLong(const char* p, char** end) {
  const long v = std::strtol(p, end, 10);
  return static_cast<int>(std::clamp<long>(v, -kMaxSkinNumber, kMaxSkinNumber));
}

}  // namespace

int ParseInt(const std::string& value) {
  char* end = nullptr;
  return ClampedLong(value.c_str(), &end);
}

RECT ParseRect(const std::string& value) {
  int v[4] = {0, 0, 0, 0};
  const char* p = value.c_str();
  for (int i = 0; i < 4 && *p; ++i) {
    char* end = nullptr;
    v[i] = ClampedLong(p, &end);
    if (end == p) break;
    p = end;
    while (*p == ',' || *p == ' ') ++p;
  }
  return {v[0], v[1], v[2], v[3]};
}

DWORD ParseColor(const std::string& value) {
  std::string s = value;
  while (!s.empty() && std::isspace(static_cast<unsigned char>(s.front()))) s.erase(0, 1);
  bool hex = false;
  if (!s.empty() && s[0] == '#') {
    s.erase(0, 1);
    hex = true;
  } else if (s.size() > 2 && s[0] == '0' && (s[1] == 'x' || s[1] == 'X')) {
    s.erase(0, 2);
    hex = true;
  }
  char* end = nullptr;
  unsigned long v = std::strtoul(s.c_str(), &end, hex ? 16 : 10);
  if (end == s.c_str()) return 0;
  // Six hex digits carry no alpha: the colour is opaque.
  if (hex && (end - s.c_str()) == 6) v |= 0xFF000000ul;
  return static_cast<DWORD>(v);
}

bool ParseBool(const std::string& value) { return value == "true" || value == "1" || value == "yes"; }

std::vector<std::pair<std::string, std::string>> ParseAttributeList(const std::string& list, char) {
  std::vector<std::pair<std::string, std::string>> out;
  size_t i = 0, n = list.size();
  while (i < n) {
    while (i < n && (std::isspace(static_cast<unsigned char>(list[i])) || list[i] == ',')) ++i;
    size_t nameStart = i;
    while (i < n && list[i] != '=' && !std::isspace(static_cast<unsigned char>(list[i]))) ++i;
    std::string name = list.substr(nameStart, i - nameStart);
    while (i < n && std::isspace(static_cast<unsigned char>(list[i]))) ++i;
    if (i >= n || list[i] != '=') break;
    ++i;
    while (i < n && std::isspace(static_cast<unsigned char>(list[i]))) ++i;
    if (i >= n) break;
    char q = list[i];
    if (q != '\'' && q != '"') break;  // malformed: stop rather than guess
    size_t valueStart = ++i;
    while (i < n && list[i] != q) ++i;
    out.emplace_back(name, list.substr(valueStart, i - valueStart));
    if (i < n) ++i;
  }
  return out;
}

bool EqualsNoCase(const std::string& a, const std::string& b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i)
    if (std::tolower(static_cast<unsigned char>(a[i])) != std::tolower(static_cast<unsigned char>(b[i])))
      return false;
  return true;
}

}  // namespace DirectUI
