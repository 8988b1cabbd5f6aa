#include "emulator/flat_body.h"

#include <algorithm>
#include <cstdio>

#include "common/codec.h"
#include "common/text.h"
#include "emulator/emulator.h"

namespace quillora::emulator {
namespace {

bool IsSpace(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// Reads a string literal starting at text[pos] == '"'; on success sets raw to
// the text between the quotes and pos past the closing quote.
bool ReadStringLiteral(std::string_view text, size_t& pos, std::string_view& raw) {
  if (pos >= text.size() || text[pos] != '"') return false;
  size_t start = ++pos;
  while (pos < text.size()) {
    char c = text[pos];
    if (c == '\\') {
      pos += 2;
      continue;
    }
    if (c == '"') {
      raw = text.substr(start, pos - start);
      ++pos;
      return true;
    }
    ++pos;
  }
  return false;
}

void SkipSpace(std::string_view text, size_t& pos) {
  while (pos < text.size() && IsSpace(text[pos])) ++pos;
}

}  // namespace

const FlatMember* FlatBody::Find(std::string_view key) const {
  for (const auto& m : members) {
    if (m.key == key) return &m;
  }
  return nullptr;
}

std::string FlatBody::Value(std::string_view key) const {
  const FlatMember* m = Find(key);
  return m ? m->value : std::string();
}

std::optional<std::string> DecodeJsonString(std::string_view raw) {
  std::u16string units;  // pending UTF-16 units from \u escapes
  std::string out;
  auto flushUnits = [&] {
    if (!units.empty()) {
      out += Utf16ToUtf8(units);
      units.clear();
    }
  };
  for (size_t i = 0; i < raw.size(); ++i) {
    char c = raw[i];
    if (static_cast<unsigned char>(c) < 0x20) return std::nullopt;
    if (c != '\\') {
      flushUnits();
      out += c;
      continue;
    }
    if (++i >= raw.size()) return std::nullopt;
    char e = raw[i];
    if (e == 'u') {
      if (i + 4 >= raw.size()) return std::nullopt;
      int v = 0;
      for (int k = 1; k <= 4; ++k) {
        int h = HexValue(raw[i + k]);
        if (h < 0) return std::nullopt;
        v = v * 16 + h;
      }
      units.push_back(static_cast<char16_t>(v));
      i += 4;
      continue;
    }
    flushUnits();
    switch (e) {
      case '"': out += '"'; break;
      case '\\': out += '\\'; break;
      case '/': out += '/'; break;
      case 'b': out += '\b'; break;
      case 'f': out += '\f'; break;
      case 'n': out += '\n'; break;
      case 'r': out += '\r'; break;
      case 't': out += '\t'; break;
      default: return std::nullopt;
    }
  }
  flushUnits();
  return out;
}

std::string JsonQuote(std::string_view utf8) {
  std::string out = "\"";
  for (char c : utf8) {
    switch (c) {
      case '"': out += "\\\""; break;
      case '\\': out += "\\\\"; break;
      case '\n': out += "\\n"; break;
      case '\r': out += "\\r"; break;
      case '\t': out += "\\t"; break;
      default:
        if (static_cast<unsigned char>(c) < 0x20) {
          char buf[8];
          std::snprintf(buf, sizeof buf, "\\u%04x", static_cast<unsigned>(c));
          out += buf;
        } else {
          out += c;
        }
    }
  }
  out += '"';
  return out;
}

std::optional<FlatBody> ParseFlatBody(std::string_view text, std::string* error) {
  auto fail = [&](const char* why) -> std::optional<FlatBody> {
    if (error) *error = why;
    return std::nullopt;
  };
  FlatBody body;
  size_t pos = 0;
  SkipSpace(text, pos);
  if (pos >= text.size() || text[pos] != '{') return fail("body is not a JSON object");
  ++pos;
  SkipSpace(text, pos);
  if (pos < text.size() && text[pos] == '}') {
    ++pos;
  } else {
    while (true) {
      SkipSpace(text, pos);
      std::string_view rawKey;
      if (!ReadStringLiteral(text, pos, rawKey)) return fail("expected a member name");
      auto key = DecodeJsonString(rawKey);
      if (!key) return fail("bad escape in a member name");
      SkipSpace(text, pos);
      if (pos >= text.size() || text[pos] != ':') return fail("expected ':'");
      ++pos;
      SkipSpace(text, pos);
      std::string_view rawValue;
      if (pos >= text.size() || text[pos] != '"') return fail("every value must be a JSON string");
      if (!ReadStringLiteral(text, pos, rawValue)) return fail("unterminated string");
      auto value = DecodeJsonString(rawValue);
      if (!value) return fail("bad escape in a value");
      if (body.Find(*key)) return fail("duplicate member");
      body.members.push_back({*key, std::string(rawValue), *value});
      SkipSpace(text, pos);
      if (pos < text.size() && text[pos] == ',') {
        ++pos;
        continue;
      }
      if (pos < text.size() && text[pos] == '}') {
        ++pos;
        break;
      }
      return fail("expected ',' or '}'");
    }
  }
  SkipSpace(text, pos);
  if (pos != text.size()) return fail("text after the object");
  return body;
}

bool MembersInOrder(const FlatBody& body) {
  const std::string* previous = nullptr;
  for (const auto& m : body.members) {
    if (m.key == "datasign") continue;
    if (previous && !(*previous < m.key)) return false;
    previous = &m.key;
  }
  return true;
}

std::string SigningText(std::vector<std::pair<std::string, std::string>> members) {
  std::stable_sort(members.begin(), members.end(),
                   [](const auto& a, const auto& b) { return a.first < b.first; });
  std::string s;
  for (const auto& [k, v] : members) {
    if (!s.empty()) s += '&';
    s += k;
    s += '=';
    s += v;
  }
  s += kSigningKey;
  return s;
}

std::string SigningDigest(std::vector<std::pair<std::string, std::string>> members) {
  return Md5Hex(SigningText(std::move(members)));
}

SignatureCheck CheckSignature(const FlatBody& body) {
  if (body.members.empty() || !body.Has("datasign")) return SignatureCheck::kMissing;
  if (body.members.back().key != "datasign") return SignatureCheck::kMisplaced;
  std::vector<std::pair<std::string, std::string>> members;
  for (size_t i = 0; i + 1 < body.members.size(); ++i) {
    members.emplace_back(body.members[i].key, body.members[i].raw);
  }
  return SigningDigest(std::move(members)) == body.members.back().raw ? SignatureCheck::kValid
                                                                      : SignatureCheck::kWrong;
}

}  // namespace quillora::emulator
