#pragma once
// Request bodies and their signatures.
#include <cstdint>
#include <map>
#include <string>
#include <string_view>
#include <utility>

#include "common/codec.h"  // Md5Hex

namespace quillora {

// Key appended to the signature text of signed API bodies.
inline constexpr char kSigningKey[] = "kQwEr20190311ZaXcV";
// Prefix of the statistics signature text; the time text follows it.
inline constexpr char kStatisticsSalt[] = "zorvik_counts_k7_##**?";

// Request parameters ordered by ascending byte-wise comparison of their keys
// ("account" before "accounttype"). Setting a key twice keeps the last value.
class ParamMap {
 public:
  struct Entry {
    std::string value;
    // True when `value` is already the body of a JSON string (escaped by the
    // caller) and goes into the body unchanged.
    bool preEscaped = false;
  };

  void Set(std::string key, std::string value);
  void Set(std::string key, const char* value) { Set(std::move(key), std::string(value)); }
  // Integers are stored as decimal text.
  void SetInt(std::string key, std::int64_t value);
  // For a value the caller has escaped itself (for example the "\\uXXXX" form
  // of a text task). If it is not a valid JSON string body after all, it is
  // escaped like any other value.
  void SetPreEscaped(std::string key, std::string jsonStringBody);

  const std::map<std::string, Entry>& Entries() const { return entries_; }
  // Value of `key`, empty when not set.
  std::string Get(const std::string& key) const;
  bool Empty() const { return entries_.empty(); }
  std::size_t Size() const { return entries_.size(); }

 private:
  std::map<std::string, Entry> entries_;
};

// {"k1":"v1",...,"datasign":"<md5>"}: every value a JSON string, in key order,
// then the MD5 (lowercase hex) of "k1=v1&k2=v2...&kn=vn" followed by
// kSigningKey. Keys and values are JSON-escaped, so a value can never add or
// change members, and the signature is taken over the escaped text: the
// signing text holds exactly what stands between the quotes of the body.
std::string BuildSignedBody(const ParamMap& params);

// The same body without "datasign"; "{}" for an empty map.
std::string BuildPlainBody(const ParamMap& params);

// "sign:" + Md5Hex(kStatisticsSalt + time) + time.
std::string StatisticsSignLine(std::string_view time);

// JSON string escaping of UTF-8 text (quote, backslash and control
// characters); other bytes pass unchanged.
std::string JsonEscape(std::string_view text);

// True when `text` can stand between the quotes of a JSON string as it is.
bool IsJsonStringBody(std::string_view text);

}  // namespace quillora
