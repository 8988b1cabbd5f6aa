#pragma once
// Reading the services' JSON answers. Never throws: malformed, truncated or
// oddly typed answers give "nothing" rather than an exception.
#include <json/value.h>

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace quillora {

// Parses a UTF-8 answer. Nothing when it does not parse or its root is not an
// object. Comments are allowed.
std::optional<Json::Value> ParseJsonAnswer(std::string_view utf8);

// The member "code" as an integer; nothing when missing or not an integral
// number (a whole-valued real counts).
std::optional<std::int64_t> AnswerCode(const Json::Value& answer);

// Shorthand: parses a UTF-8 answer and reads its "code" in one go.
std::optional<std::int64_t> ParseAnswerCode(std::string_view utf8);

// Member `key` of an object when it is a string; nothing otherwise
// (missing member, other type, or `object` not an object).
std::optional<std::string> JsonString(const Json::Value& object, const char* key);

// Member `key` of an object as an integer (integral number only).
std::optional<std::int64_t> JsonInt(const Json::Value& object, const char* key);

// Member `key` of an object when it is itself an object.
std::optional<Json::Value> JsonObject(const Json::Value& object, const char* key);

}  // namespace quillora
