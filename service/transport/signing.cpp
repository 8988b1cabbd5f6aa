#include "service/transport/signing.h"

#include <cstdio>

namespace quillora {

void ParamMap::Set(std::string key, std::string value) {
  entries_[std::move(key)] = Entry{std::move(value), false};
}

void ParamMap::SetInt(std::string key, std::int64_t value) { Set(std::move(key), std::to_string(value)); }

void ParamMap::SetPreEscaped(std::string key, std::string jsonStringBody) {
  // Text that could close the string early is escaped after all, so the
  // caller's mistake cannot change the shape of the body.
  const bool ok = IsJsonStringBody(jsonStringBody);
  entries_[std::move(key)] = Entry{std::move(jsonStringBody), ok};
}

std::string ParamMap::Get(const std::string& key) const {
  auto it = entries_.find(key);
  return it == entries_.end() ? std::string() : it->second.value;
}

std::string JsonEscape(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (char c : text) {
    const auto u = static_cast<unsigned char>(c);
    switch (c) {
      case '"': out += "\\\""; break;
      case '\\': out += "\\\\"; break;
      case '\b': out += "\\b"; break;
      case '\f': out += "\\f"; break;
      case '\n': out += "\\n"; break;
      case '\r': out += "\\r"; break;
      case '\t': out += "\\t"; break;
      default:
        if (u < 0x20) {
          char buf[8];
          std::snprintf(buf, sizeof buf, "\\u%04x", u);
          out += buf;
        } else {
          out += c;
        }
    }
  }
  return out;
}

bool IsJsonStringBody(std::string_view text) {
  auto isHex = [](char c) {
    return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
  };
  for (std::size_t i = 0; i < text.size(); ++i) {
    const auto u = static_cast<unsigned char>(text[i]);
    if (u < 0x20 || text[i] == '"') return false;
    if (text[i] != '\\') continue;
    if (++i >= text.size()) return false;
    switch (text[i]) {
      case '"': case '\\': case '/': case 'b': case 'f': case 'n': case 'r': case 't':
        break;
      case 'u':
        if (text.size() - i < 5) return false;  // 'u' and four digits
        for (int k = 1; k <= 4; ++k) {
          if (!isHex(text[i + static_cast<std::size_t>(k)])) return false;
        }
        i += 4;
        break;
      default:
        return false;
    }
  }
  return true;
}

namespace {

// Key and value as they stand between the quotes of the body. The signature
// is taken over this same text, so the service can check it against the body
// it receives without undoing any escaping first.
struct MemberText {
  std::string key;
  std::string value;
};

MemberText BodyText(const std::string& key, const ParamMap::Entry& entry) {
  return {JsonEscape(key), entry.preEscaped ? entry.value : JsonEscape(entry.value)};
}

void AppendMember(std::string& body, const MemberText& member) {
  body += '"';
  body += member.key;
  body += "\":\"";
  body += member.value;
  body += "\",";
}

}  // namespace

std::string BuildSignedBody(const ParamMap& params) {
  std::string body = "{";
  std::string signText;
  for (const auto& [key, entry] : params.Entries()) {
    const MemberText member = BodyText(key, entry);
    AppendMember(body, member);
    signText += member.key;
    signText += '=';
    signText += member.value;
    signText += '&';
  }
  if (!signText.empty()) signText.pop_back();
  signText += kSigningKey;
  body += "\"datasign\":\"";
  body += Md5Hex(signText);
  body += "\"}";
  return body;
}

std::string BuildPlainBody(const ParamMap& params) {
  std::string body = "{";
  for (const auto& [key, entry] : params.Entries()) AppendMember(body, BodyText(key, entry));
  if (body.size() > 1) body.pop_back();
  body += '}';
  return body;
}

std::string StatisticsSignLine(std::string_view time) {
  std::string salted = kStatisticsSalt;
  salted.append(time);
  std::string line = "sign:";
  line += Md5Hex(salted);
  line.append(time);
  return line;
}

}  // namespace quillora
