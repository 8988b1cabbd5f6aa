#pragma once
// The service's clock.
#include <cstdint>

namespace quillora {

// Current Unix time in seconds, asked of the statistics host
// ("/ver1/getUnixTime", answer code 1 with "responseData"."time") with 3 s
// time-outs; the local clock when the host is unreachable, slow, or answers
// anything else. Calls are serialised; each asks the host afresh.
std::int64_t GetServerTime();

}  // namespace quillora
