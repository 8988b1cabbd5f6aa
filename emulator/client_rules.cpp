#include "emulator/client_rules.h"

#include <algorithm>
#include <array>
#include <utility>

#include "emulator/emulator.h"

namespace quillora::emulator {
namespace {

bool Contains(const std::vector<std::string>& keys, const std::string& key) {
  return std::find(keys.begin(), keys.end(), key) != keys.end();
}

bool IsLowerHex(char c) { return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'); }

// The update request's members, in the order the client writes them.
constexpr std::array<const char*, 7> kUpdateMembers = {
    "software_name", "software_version", "software_package", "machine_code", "guid", "time", "token"};

}  // namespace

std::optional<std::string> UndefinedMember(const FlatBody& body, const std::vector<std::string>& required,
                                           const std::vector<std::string>& optional, bool allowDatasign) {
  for (const auto& m : body.members) {
    if (allowDatasign && m.key == "datasign") continue;
    if (!Contains(required, m.key) && !Contains(optional, m.key)) return m.key;
  }
  return std::nullopt;
}

std::optional<std::string> WrongConstant(const FlatBody& body) {
  static const std::array<std::pair<const char*, const char*>, 7> kConstants = {{
      {"productid", kClientProductId},
      {"softname", kClientSoftName},
      {"filecount", "1"},
      {"isshare", "0"},
      {"ifshowtxt", "1"},
      {"limitsize", kClientLimitSize},
      {"parainfo", kClientParaInfo},
  }};
  for (const auto& [key, expected] : kConstants) {
    const FlatMember* m = body.Find(key);
    if (m && m->raw != expected) return std::string(key);
  }
  return std::nullopt;
}

bool IsDecimal(std::string_view text) {
  return !text.empty() && text.size() <= 18 &&
         std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; });
}

bool IsUploadName(std::string_view name) {
  constexpr std::string_view kPrefix = "QuilloraFileSize";
  if (name.substr(0, kPrefix.size()) != kPrefix) return false;
  name.remove_prefix(kPrefix.size());
  const size_t dot = name.find('.');
  const std::string_view counter = name.substr(0, dot);
  if (!IsDecimal(counter) || counter.front() == '0') return false;
  // The extension runs from the source name's last dot, so it holds no other
  // dot and no folder separator.
  if (dot == std::string_view::npos) return true;
  const std::string_view ext = name.substr(dot + 1);
  return ext.find_first_of("./\\") == std::string_view::npos;
}

bool IsUnitEscapedText(std::string_view raw) {
  if (raw.size() % 6 != 0) return false;
  for (size_t i = 0; i < raw.size(); i += 6) {
    if (raw[i] != '\\' || raw[i + 1] != 'u') return false;
    for (size_t k = 2; k < 6; ++k) {
      if (!IsLowerHex(raw[i + k])) return false;
    }
  }
  return true;
}

bool ChunkQueryInClientOrder(std::string_view query) {
  static const std::array<std::string_view, 6> kNames = {"tasktag",   "timestamp", "tasktoken",
                                                          "fileindex", "chunks",    "chunk"};
  size_t index = 0;
  while (true) {
    const size_t amp = query.find('&');
    const std::string_view pair = query.substr(0, amp);
    if (index >= kNames.size() || pair.substr(0, pair.find('=')) != kNames[index]) return false;
    if (pair.find('=') == std::string_view::npos) return false;
    ++index;
    if (amp == std::string_view::npos) break;
    query.remove_prefix(amp + 1);
  }
  return index == kNames.size();
}

UpdateBodyProblem CheckUpdateBody(std::string_view text) {
  std::string error;
  const std::optional<FlatBody> body = ParseFlatBody(text, &error);
  if (!body) return {kCodeMalformed, error};
  for (size_t i = 0; i < body->members.size(); ++i) {
    const std::string& key = body->members[i].key;
    const bool known = std::find_if(kUpdateMembers.begin(), kUpdateMembers.end(),
                                    [&](const char* k) { return key == k; }) != kUpdateMembers.end();
    if (!known) return {kCodeUpdateLayout, "member " + key + " is not part of the request"};
    if (i >= kUpdateMembers.size() || key != kUpdateMembers[i])
      return {kCodeUpdateLayout, "member " + key + " out of the client's order"};
  }
  if (body->members.size() != kUpdateMembers.size())
    return {kCodeUpdateLayout, std::string("missing member ") + kUpdateMembers[body->members.size()]};
  const std::string& machineCode = body->members[3].raw;
  if (!IsDecimal(machineCode) || machineCode != body->members[4].raw)
    return {kCodeUpdateTime, "machine_code must be the decimal time and equal to guid"};
  return {};
}

}  // namespace quillora::emulator
