#pragma once
// Request bodies as the client lays them out: one flat JSON object whose
// values are all strings, members in ascending byte order of their keys, and
// for signed requests a final "datasign" member. The client signs each value
// as it stands in the body, JSON escapes included, so the signature is
// computed over the raw text between the quotes, not over the decoded value.
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace quillora::emulator {

struct FlatMember {
  std::string key;    // decoded key
  std::string raw;    // value text exactly as it stood between the quotes
  std::string value;  // value with JSON escapes decoded (UTF-8)
};

struct FlatBody {
  std::vector<FlatMember> members;  // in body order

  const FlatMember* Find(std::string_view key) const;
  // Decoded value, or empty when the member is absent.
  std::string Value(std::string_view key) const;
  bool Has(std::string_view key) const { return Find(key) != nullptr; }
};

// Parses a flat object of string members. On failure returns nothing and
// puts a short reason into *error: not an object, a non-string value, a bad
// escape, a duplicate key, trailing text.
std::optional<FlatBody> ParseFlatBody(std::string_view text, std::string* error);

enum class SignatureCheck { kValid, kMissing, kWrong, kMisplaced };

// Checks "datasign" against the other members taken in ascending byte order
// of their keys. "datasign" must be the last member.
SignatureCheck CheckSignature(const FlatBody& body);

// True when the members other than "datasign" stand in strictly ascending
// byte order of their keys.
bool MembersInOrder(const FlatBody& body);

// Key=raw pairs joined by "&", followed by the signing key, over members
// sorted by key; and its MD5 in lowercase hex.
std::string SigningText(std::vector<std::pair<std::string, std::string>> members);
std::string SigningDigest(std::vector<std::pair<std::string, std::string>> members);

// Decodes a JSON string body (without the quotes). Nothing on a bad escape.
std::optional<std::string> DecodeJsonString(std::string_view raw);

// Encodes text as a JSON string literal, quotes included.
std::string JsonQuote(std::string_view utf8);

}  // namespace quillora::emulator
