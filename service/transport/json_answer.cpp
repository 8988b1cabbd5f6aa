#include "service/transport/json_answer.h"

#include <json/reader.h>

#include <exception>
#include <memory>

namespace quillora {
namespace {

// Integral numbers only; JsonCpp also counts a whole-valued real in range
// (10000.0) as one.
std::optional<std::int64_t> AsInteger(const Json::Value& v) {
  if (v.isInt64()) return v.asInt64();
  return std::nullopt;
}

}  // namespace

std::optional<Json::Value> ParseJsonAnswer(std::string_view utf8) {
  if (utf8.empty()) return std::nullopt;
  try {
    Json::CharReaderBuilder builder;
    builder["collectComments"] = true;
    const std::unique_ptr<Json::CharReader> reader(builder.newCharReader());
    Json::Value root;
    std::string errors;
    if (!reader->parse(utf8.data(), utf8.data() + utf8.size(), &root, &errors)) return std::nullopt;
    if (!root.isObject()) return std::nullopt;
    return root;
  } catch (const std::exception&) {
    // The reader throws on nesting beyond its depth limit.
    return std::nullopt;
  }
}

std::optional<std::int64_t> AnswerCode(const Json::Value& answer) { return JsonInt(answer, "code"); }

std::optional<std::int64_t> ParseAnswerCode(std::string_view utf8) {
  const auto root = ParseJsonAnswer(utf8);
  if (!root) return std::nullopt;
  return AnswerCode(*root);
}

std::optional<std::string> JsonString(const Json::Value& object, const char* key) {
  if (!object.isObject()) return std::nullopt;
  const Json::Value* member = object.find(key, key + std::char_traits<char>::length(key));
  if (member == nullptr || !member->isString()) return std::nullopt;
  return member->asString();
}

std::optional<std::int64_t> JsonInt(const Json::Value& object, const char* key) {
  if (!object.isObject()) return std::nullopt;
  const Json::Value* member = object.find(key, key + std::char_traits<char>::length(key));
  if (member == nullptr) return std::nullopt;
  return AsInteger(*member);
}

std::optional<Json::Value> JsonObject(const Json::Value& object, const char* key) {
  if (!object.isObject()) return std::nullopt;
  const Json::Value* member = object.find(key, key + std::char_traits<char>::length(key));
  if (member == nullptr || !member->isObject()) return std::nullopt;
  return *member;
}

}  // namespace quillora
