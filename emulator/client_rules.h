#pragma once
// What a well-behaved client sends besides a well-formed body: only the
// members an endpoint defines, the constants of its identity, decimal times,
// the chunk query in its fixed order, and the update request in its fixed
// layout. Pure functions, so they are tested and fuzzed without a server.
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "emulator/flat_body.h"

namespace quillora::emulator {

// The client's identity as every task request carries it.
inline constexpr char kClientProductId[] = "342";
inline constexpr char kClientSoftName[] = "Quillora";
inline constexpr char kClientLimitSize[] = "30720";
inline constexpr char kClientParaInfo[] = "tempfile:txt;maxlimit:char0page0;";

// The first member of `body` (other than "datasign" when `allowDatasign`)
// that is neither required nor optional; nothing when there is none.
std::optional<std::string> UndefinedMember(const FlatBody& body, const std::vector<std::string>& required,
                                           const std::vector<std::string>& optional, bool allowDatasign);

// The first member whose value differs from the client's constant for that
// key (productid, softname, filecount, isshare, ifshowtxt, limitsize,
// parainfo); nothing when every constant present is right.
std::optional<std::string> WrongConstant(const FlatBody& body);

// One or more ASCII digits and nothing else, at most 18 (fits int64).
bool IsDecimal(std::string_view text);

// "QuilloraFileSize" + a counter from 1 + the source extension (from its last
// dot, dot included; empty for a file without one).
bool IsUploadName(std::string_view name);

// Every UTF-16 unit as a backslash, "u" and four lowercase hex digits.
bool IsUnitEscapedText(std::string_view raw);

// The uploadfile query names, in order, are exactly tasktag, timestamp,
// tasktoken, fileindex, chunks, chunk.
bool ChunkQueryInClientOrder(std::string_view query);

// Why a checkUpdate body is not the client's, and the code to answer; the
// code is 0 when the body is the client's.
struct UpdateBodyProblem {
  int code = 0;
  std::string reason;
};
UpdateBodyProblem CheckUpdateBody(std::string_view body);

}  // namespace quillora::emulator
