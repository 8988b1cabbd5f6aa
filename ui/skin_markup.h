#pragma once
// The element tree of a skin file: elements and their attributes, with the
// place of each in its file. Text, comments and processing instructions carry
// nothing a skin uses and are skipped.
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace DirectUI::skin_markup {

struct Node {
  std::string name;
  std::vector<std::pair<std::string, std::string>> attrs;
  std::vector<std::unique_ptr<Node>> children;
  long long line = 0, column = 0;  // of the element's "<", from 1
  // An Include's document, read and parsed together with the file that
  // includes it, so that building reads no file.
  std::unique_ptr<Node> included;

  const std::string* Find(std::string_view n) const {
    for (auto& [k, v] : attrs)
      if (k == n) return &v;
    return nullptr;
  }
  std::string Attr(std::string_view n) const {
    const std::string* v = Find(n);
    return v ? *v : std::string();
  }
  bool Has(std::string_view n) const { return Find(n) != nullptr; }
};

// Limits that keep a damaged or hostile skin from exhausting the stack or
// memory: real skins nest a few dozen levels and hold a few hundred elements.
inline constexpr size_t kMaxNesting = 256;
inline constexpr int kMaxElements = 100000;

// Parses well-formed UTF-8 XML (no document type declaration). Null, with
// `error` as "origin:line:column: message", for anything else.
std::unique_ptr<Node> Parse(std::string_view text, const std::string& origin, std::string& error);

}  // namespace DirectUI::skin_markup
