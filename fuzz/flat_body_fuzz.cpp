// The emulator's reading of request bodies and the referee's rules, on
// arbitrary text: a body it accepts can be laid out again and signed, and the
// signature it then computes is the one it checks.
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "emulator/client_rules.h"
#include "emulator/emulator.h"
#include "emulator/flat_body.h"
#include "fuzz/fuzz_check.h"

namespace em = quillora::emulator;

namespace {

bool PlainKey(const std::string& key) {
  for (char c : key) {
    if (c == '"' || c == '\\' || static_cast<unsigned char>(c) < 0x20) return false;
  }
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  (void)em::ChunkQueryInClientOrder(text);
  (void)em::CheckUpdateBody(text);
  (void)em::IsUnitEscapedText(text);
  (void)em::IsUploadName(text);
  if (const auto decoded = em::DecodeJsonString(text)) {
    // Quoting the decoded text gives a literal that decodes to it again.
    const std::string quoted = em::JsonQuote(*decoded);
    FUZZ_CHECK(em::DecodeJsonString(std::string_view(quoted).substr(1, quoted.size() - 2)) == decoded);
  }

  std::string error;
  const auto body = em::ParseFlatBody(text, &error);
  if (!body) {
    FUZZ_CHECK(!error.empty());
    return 0;
  }
  (void)em::CheckSignature(*body);
  (void)em::MembersInOrder(*body);
  (void)em::UndefinedMember(*body, {"tasktag", "timestamp"}, {"account"}, true);
  (void)em::WrongConstant(*body);

  // Lay the members out again as a client would and sign them. Keys go in
  // unescaped, so only keys that need no escaping can be laid out again.
  std::vector<std::pair<std::string, std::string>> members;
  for (const auto& m : body->members) {
    if (m.key == "datasign" || !PlainKey(m.key)) return 0;
    members.emplace_back(m.key, m.raw);
  }
  const auto signedBody = em::ParseFlatBody(em::BodyFor(members, true), &error);
  FUZZ_CHECK(signedBody.has_value());
  FUZZ_CHECK(em::CheckSignature(*signedBody) == em::SignatureCheck::kValid);
  FUZZ_CHECK(em::MembersInOrder(*signedBody));
  return 0;
}
