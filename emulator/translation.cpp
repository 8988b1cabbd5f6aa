#include "emulator/translation.h"

#include <algorithm>
#include <cctype>
#include <vector>

#include "common/text.h"

namespace quillora::emulator {
namespace {

struct Entry {
  std::string_view source;
  std::string_view target;
};

// Sorted at first use by descending source length so the longest phrase wins.
const Entry kToEnglish[] = {
    {"你好", "hello"},        {"世界", "world"},        {"翻译", "translation"},
    {"文件", "file"},         {"文档", "document"},     {"我们", "we"},
    {"谢谢", "thank you"},    {"今天", "today"},        {"天气", "weather"},
    {"很好", "very good"},    {"中国", "China"},        {"英语", "English"},
    {"中文", "Chinese"},      {"图片", "picture"},      {"音频", "audio"},
    {"测试", "test"},         {"报告", "report"},       {"会议", "meeting"},
    {"这是", "this is"},      {"一个", "a"},            {"你", "you"},
    {"我", "I"},              {"好", "good"},           {"和", "and"},
    {"，", ", "},             {"。", ". "},             {"！", "! "},
    {"こんにちは", "hello"},  {"ありがとう", "thank you"},
};

const Entry kToChinese[] = {
    {"hello", "你好"},       {"world", "世界"},     {"translation", "翻译"},
    {"translate", "翻译"},   {"file", "文件"},      {"document", "文档"},
    {"we", "我们"},          {"thank you", "谢谢"}, {"thanks", "谢谢"},
    {"today", "今天"},       {"weather", "天气"},   {"very good", "很好"},
    {"good", "好"},          {"China", "中国"},     {"English", "英语"},
    {"Chinese", "中文"},     {"picture", "图片"},   {"audio", "音频"},
    {"test", "测试"},        {"report", "报告"},    {"meeting", "会议"},
    {"this is", "这是"},     {"you", "你"},         {"I", "我"},
    {"and", "和"},           {"こんにちは", "你好"}, {"ありがとう", "谢谢"},
};

const Entry kToJapanese[] = {
    {"hello", "こんにちは"}, {"你好", "こんにちは"}, {"thank you", "ありがとう"},
    {"谢谢", "ありがとう"},  {"world", "世界"},       {"世界", "世界"},
    {"file", "ファイル"},    {"文件", "ファイル"},    {"document", "文書"},
    {"文档", "文書"},        {"translation", "翻訳"}, {"翻译", "翻訳"},
    {"test", "テスト"},      {"测试", "テスト"},
};

// Entries by the first byte of their source (lower-cased for Latin words),
// longest source first, so a position only tries the phrases that can match.
struct Index {
  std::vector<Entry> byFirstByte[256];
};

unsigned char FirstKey(char c) {
  return static_cast<unsigned char>(std::tolower(static_cast<unsigned char>(c)));
}

Index Build(const Entry* begin, const Entry* end) {
  std::vector<Entry> v(begin, end);
  std::stable_sort(v.begin(), v.end(),
                   [](const Entry& a, const Entry& b) { return a.source.size() > b.source.size(); });
  Index index;
  for (const Entry& e : v) index.byFirstByte[FirstKey(e.source.front())].push_back(e);
  return index;
}

const Index& Glossary(const std::string& lang) {
  static const Index en = Build(std::begin(kToEnglish), std::end(kToEnglish));
  static const Index zh = Build(std::begin(kToChinese), std::end(kToChinese));
  static const Index ja = Build(std::begin(kToJapanese), std::end(kToJapanese));
  static const Index none;
  if (lang == "en") return en;
  if (lang == "zh") return zh;
  if (lang == "ja") return ja;
  return none;
}

bool IsWordByte(char c) {
  return std::isalnum(static_cast<unsigned char>(c)) != 0 || c == '_';
}

bool IsAsciiText(std::string_view s) {
  return std::all_of(s.begin(), s.end(), [](char c) { return static_cast<unsigned char>(c) < 0x80; });
}

size_t Utf8Length(unsigned char lead) {
  if (lead < 0x80) return 1;
  if ((lead & 0xE0) == 0xC0) return 2;
  if ((lead & 0xF0) == 0xE0) return 3;
  if ((lead & 0xF8) == 0xF0) return 4;
  return 1;
}

}  // namespace

std::string GlossaryLanguage(std::string_view code) {
  std::string c;
  for (char ch : code) c += static_cast<char>(std::tolower(static_cast<unsigned char>(ch)));
  if (c == "zh" || c.rfind("zh-", 0) == 0 || c.rfind("zh_", 0) == 0 || c == "chs" || c == "cht" ||
      c == "cn" || c == "zho")
    return "zh";
  if (c == "en" || c.rfind("en-", 0) == 0 || c.rfind("en_", 0) == 0 || c == "eng") return "en";
  if (c == "ja" || c == "jp" || c == "jpn") return "ja";
  return "";
}

std::string TranslateLine(std::string_view line, std::string_view to) {
  if (line.empty()) return std::string();
  const auto& glossary = Glossary(GlossaryLanguage(to));
  std::string out = "[" + std::string(to) + "] ";
  size_t i = 0;
  while (i < line.size()) {
    bool replaced = false;
    bool atWordStart = i == 0 || !IsWordByte(line[i - 1]);
    for (const Entry& e : glossary.byFirstByte[FirstKey(line[i])]) {
      if (e.source.size() > line.size() - i) continue;
      std::string_view candidate = line.substr(i, e.source.size());
      if (IsAsciiText(e.source)) {
        size_t end = i + e.source.size();
        if (!atWordStart || (end < line.size() && IsWordByte(line[end]))) continue;
        if (!EqualsIgnoringAsciiCase(candidate, e.source)) continue;
      } else if (candidate != e.source) {
        continue;
      }
      if (!e.target.empty() && IsWordByte(e.target.front()) && IsWordByte(out.back())) out += ' ';
      out += e.target;
      i += e.source.size();
      replaced = true;
      break;
    }
    if (replaced) continue;
    size_t n = std::min(Utf8Length(static_cast<unsigned char>(line[i])), line.size() - i);
    if (IsWordByte(line[i])) {
      // Copy the rest of a Latin word at once so that a glossary word is
      // never matched in the middle of another word.
      n = 1;
      while (i + n < line.size() && IsWordByte(line[i + n])) ++n;
    }
    out.append(line.substr(i, n));
    i += n;
  }
  // CJK full stops and commas become ". " and ", "; drop the blank they
  // leave at the end of a line that did not end in one.
  if (line.back() != ' ') {
    while (out.size() > to.size() + 3 && out.back() == ' ') out.pop_back();
  }
  return out;
}

std::string TranslateText(std::string_view text, std::string_view /*from*/, std::string_view to) {
  std::string out;
  out.reserve(text.size() + text.size() / 4 + 16);
  size_t pos = 0;
  while (pos <= text.size()) {
    size_t nl = text.find('\n', pos);
    std::string_view line = text.substr(pos, nl == std::string_view::npos ? text.size() - pos : nl - pos);
    bool cr = !line.empty() && line.back() == '\r';
    if (cr) line.remove_suffix(1);
    out += TranslateLine(line, to);
    if (cr) out += '\r';
    if (nl == std::string_view::npos) break;
    out += '\n';
    pos = nl + 1;
  }
  return out;
}

}  // namespace quillora::emulator
