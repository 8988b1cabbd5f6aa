#include "ui/skin_markup.h"

#include <cstdint>
#include <cstring>

namespace DirectUI::skin_markup {

namespace {

bool IsSpace(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; }

bool IsNameStart(char c) {
  const auto u = static_cast<unsigned char>(c);
  return (u >= 'A' && u <= 'Z') || (u >= 'a' && u <= 'z') || u == '_' || u == ':' || u >= 0x80;
}

// A character an attribute value keeps as it stands.
bool IsPlainValueChar(char c, char quote) {
  return c != quote && c != '<' && c != '&' && c != '\t' && c != '\n' && c != '\r';
}

bool IsNameChar(char c) {
  return IsNameStart(c) || (c >= '0' && c <= '9') || c == '-' || c == '.';
}

void AppendUtf8(std::string& out, uint32_t cp) {
  if (cp < 0x80) {
    out += static_cast<char>(cp);
  } else if (cp < 0x800) {
    out += static_cast<char>(0xC0 | (cp >> 6));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else if (cp < 0x10000) {
    out += static_cast<char>(0xE0 | (cp >> 12));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (cp >> 18));
    out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  }
}

bool IsXmlChar(uint32_t cp) {
  return cp == 0x9 || cp == 0xA || cp == 0xD || (cp >= 0x20 && cp <= 0xD7FF) || (cp >= 0xE000 && cp <= 0xFFFD) ||
         (cp >= 0x10000 && cp <= 0x10FFFF);
}

// The offset of the first byte that is not well-formed UTF-8 or not an XML
// character, or npos.
size_t FirstBadByte(std::string_view s) {
  size_t i = 0;
  while (i < s.size()) {
    // Printable ASCII, eight bytes at a time: no byte has its top bit set or
    // lies below 0x20. Skins are mostly that.
    while (i + 8 <= s.size()) {
      uint64_t w;
      std::memcpy(&w, s.data() + i, 8);
      constexpr uint64_t kHigh = 0x8080808080808080ULL, kSpace = 0x2020202020202020ULL;
      if (((w | (w - kSpace)) & kHigh) != 0) break;
      i += 8;
    }
    if (i >= s.size()) break;
    const auto b = static_cast<unsigned char>(s[i]);
    if (b < 0x80) {
      if (!IsXmlChar(b)) return i;
      ++i;
      continue;
    }
    const int extra = b >= 0xF0 ? 3 : b >= 0xE0 ? 2 : b >= 0xC2 ? 1 : -1;
    if (extra < 0 || b > 0xF4 || i + static_cast<size_t>(extra) >= s.size()) return i;
    uint32_t cp = b & (0x3F >> extra);
    for (int k = 1; k <= extra; ++k) {
      const auto c = static_cast<unsigned char>(s[i + static_cast<size_t>(k)]);
      if ((c & 0xC0) != 0x80) return i;
      cp = (cp << 6) | (c & 0x3F);
    }
    const uint32_t least[] = {0, 0x80, 0x800, 0x10000};
    if (cp < least[extra] || !IsXmlChar(cp)) return i;
    i += static_cast<size_t>(extra) + 1;
  }
  return std::string_view::npos;
}

class Parser {
 public:
  Parser(std::string_view text, const std::string& origin, std::string& error)
      : s_(text), origin_(origin), error_(error) {}

  std::unique_ptr<Node> Run() {
    if (s_.substr(0, 3) == "\xEF\xBB\xBF") pos_ = 3;
    if (const size_t bad = FirstBadByte(s_); bad != std::string_view::npos) {
      pos_ = bad;
      return Fail("not well-formed UTF-8 text or a character XML does not allow");
    }
    std::unique_ptr<Node> root;
    std::vector<Node*> stack;
    int elements = 0;
    while (pos_ < s_.size()) {
      if (s_[pos_] != '<') {
        if (stack.empty() && !IsSpace(s_[pos_])) return Fail("text outside the root element");
        const size_t next = s_.find('<', pos_);
        pos_ = next == std::string_view::npos ? s_.size() : next;
        continue;
      }
      if (Skip("<?", "?>") || Skip("<!--", "-->") || (!stack.empty() && Skip("<![CDATA[", "]]>"))) {
        if (failed_) return nullptr;
        continue;
      }
      if (At("<!")) return Fail("markup declarations are not supported");
      if (At("</")) {
        if (!EndTag(stack)) return nullptr;
        continue;
      }
      if (root && stack.empty()) return Fail("more than one root element");
      if (stack.size() >= kMaxNesting) return Fail("elements nested deeper than " + std::to_string(kMaxNesting));
      if (++elements > kMaxElements) return Fail("more than " + std::to_string(kMaxElements) + " elements");
      auto node = std::make_unique<Node>();
      bool empty = false;
      if (!StartTag(*node, empty)) return nullptr;
      Node* raw = node.get();
      if (stack.empty()) root = std::move(node);
      else stack.back()->children.push_back(std::move(node));
      if (!empty) stack.push_back(raw);
    }
    if (!stack.empty()) return Fail("premature end of document");
    if (!root) {
      error_ = origin_ + ":1:1: no element";
      return nullptr;
    }
    return root;
  }

 private:
  bool At(std::string_view what) const { return s_.substr(pos_, what.size()) == what; }

  // Skips a construct from `open` to `close`; false when not at `open`.
  bool Skip(std::string_view open, std::string_view close) {
    if (!At(open)) return false;
    const size_t end = s_.find(close, pos_ + open.size());
    if (end == std::string_view::npos) {
      Fail("premature end of document");
      return true;
    }
    pos_ = end + close.size();
    return true;
  }

  // Line and column of pos_, counting characters; moves forward only, so the
  // whole file is counted once.
  void Locate(long long& line, long long& column) {
    for (; counted_ < pos_; ++counted_) {
      if (s_[counted_] == '\n') {
        ++line_;
        column_ = 1;
      } else if ((static_cast<unsigned char>(s_[counted_]) & 0xC0) != 0x80) {
        ++column_;
      }
    }
    line = line_;
    column = column_;
  }

  std::nullptr_t Fail(const std::string& what) {
    if (!failed_) {
      long long line = 0, column = 0;
      Locate(line, column);
      error_ = origin_ + ":" + std::to_string(line) + ":" + std::to_string(column) + ": " + what;
    }
    failed_ = true;
    return nullptr;
  }

  bool Error(const std::string& what) {
    Fail(what);
    return false;
  }

  void SkipSpace() {
    while (pos_ < s_.size() && IsSpace(s_[pos_])) ++pos_;
  }

  bool Name(std::string_view& name) {
    const size_t start = pos_;
    if (pos_ >= s_.size() || !IsNameStart(s_[pos_])) return false;
    while (pos_ < s_.size() && IsNameChar(s_[pos_])) ++pos_;
    name = s_.substr(start, pos_ - start);
    return true;
  }

  bool StartTag(Node& node, bool& empty) {
    Locate(node.line, node.column);
    ++pos_;
    std::string_view name;
    if (!Name(name)) return Error("expected an element name");
    node.name.assign(name);
    node.attrs.reserve(8);
    for (;;) {
      const size_t before = pos_;
      SkipSpace();
      if (pos_ >= s_.size()) return Error("premature end of document");
      if (At("/>")) {
        pos_ += 2;
        empty = true;
        return true;
      }
      if (s_[pos_] == '>') {
        ++pos_;
        return true;
      }
      if (pos_ == before) return Error("expected a space, '>' or '/>'");
      if (!Attribute(node)) return false;
    }
  }

  bool Attribute(Node& node) {
    std::string_view name;
    if (!Name(name)) return Error("expected an attribute name");
    if (node.Has(name)) return Error("attribute '" + std::string(name) + "' given twice");
    SkipSpace();
    if (pos_ >= s_.size() || s_[pos_] != '=') return Error("expected '=' after an attribute name");
    ++pos_;
    SkipSpace();
    if (pos_ >= s_.size() || (s_[pos_] != '"' && s_[pos_] != '\'')) return Error("expected a quoted value");
    const char quote = s_[pos_++];
    std::string value;
    while (pos_ < s_.size() && s_[pos_] != quote) {
      // A run of ordinary characters is taken whole.
      size_t run = pos_;
      while (run < s_.size() && IsPlainValueChar(s_[run], quote)) ++run;
      if (run > pos_) {
        value.append(s_.data() + pos_, run - pos_);
        pos_ = run;
        continue;
      }
      const char c = s_[pos_];
      if (c == '<') return Error("'<' in an attribute value");
      if (c == '&') {
        if (!Reference(value)) return false;
        continue;
      }
      // Line ends and white space in a value read as single spaces.
      if (c == '\r' && pos_ + 1 < s_.size() && s_[pos_ + 1] == '\n') ++pos_;
      value += IsSpace(c) ? ' ' : c;
      ++pos_;
    }
    if (pos_ >= s_.size()) return Error("premature end of document");
    ++pos_;
    node.attrs.emplace_back(std::string(name), std::move(value));
    return true;
  }

  bool Reference(std::string& out) {
    const size_t end = s_.find(';', pos_);
    if (end == std::string_view::npos || end - pos_ > 12) return Error("unterminated entity reference");
    const std::string_view ref = s_.substr(pos_ + 1, end - pos_ - 1);
    static constexpr std::pair<std::string_view, char> kNamed[] = {
        {"lt", '<'}, {"gt", '>'}, {"amp", '&'}, {"quot", '"'}, {"apos", '\''}};
    for (const auto& [entity, c] : kNamed) {
      if (ref == entity) {
        out += c;
        pos_ = end + 1;
        return true;
      }
    }
    if (ref.size() < 2 || ref[0] != '#') return Error("unknown entity reference");
    uint32_t cp = 0;
    const bool hex = ref[1] == 'x';
    const std::string_view digits = ref.substr(hex ? 2 : 1);
    if (digits.empty()) return Error("unknown entity reference");
    for (const char d : digits) {
      const int v = d >= '0' && d <= '9' ? d - '0'
                    : hex && d >= 'a' && d <= 'f' ? d - 'a' + 10
                    : hex && d >= 'A' && d <= 'F' ? d - 'A' + 10
                                                  : -1;
      if (v < 0) return Error("bad character reference");
      cp = cp * (hex ? 16 : 10) + static_cast<uint32_t>(v);
      if (cp > 0x10FFFF) return Error("bad character reference");
    }
    if (!IsXmlChar(cp)) return Error("bad character reference");
    AppendUtf8(out, cp);
    pos_ = end + 1;
    return true;
  }

  bool EndTag(std::vector<Node*>& stack) {
    pos_ += 2;
    std::string_view name;
    if (!Name(name)) return Error("expected an element name");
    SkipSpace();
    if (pos_ >= s_.size() || s_[pos_] != '>') return Error("expected '>'");
    if (stack.empty() || stack.back()->name != name) return Error("closing tag does not match the open element");
    ++pos_;
    stack.pop_back();
    return true;
  }

  std::string_view s_;
  const std::string& origin_;
  std::string& error_;
  size_t pos_ = 0;
  bool failed_ = false;
  size_t counted_ = 0;
  long long line_ = 1, column_ = 1;
};

}  // namespace

std::unique_ptr<Node> Parse(std::string_view text, const std::string& origin, std::string& error) {
  return Parser(text, origin, error).Run();
}

}  // namespace DirectUI::skin_markup
