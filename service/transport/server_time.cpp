#include "service/transport/server_time.h"

#include <chrono>
#include <mutex>

#include "service/transport/http.h"
#include "service/transport/json_answer.h"
#include "service/transport/remote_services.h"

namespace quillora {

std::int64_t GetServerTime() {
  const std::int64_t local = std::chrono::duration_cast<std::chrono::seconds>(
                                 std::chrono::system_clock::now().time_since_epoch())
                                 .count();
  // One query at a time, as the task worker and the update check may both ask.
  static std::mutex lock;
  std::lock_guard guard(lock);
  const auto answer = ParseJsonAnswer(GetBlocking(ServerTimeUrl()));
  if (!answer || AnswerCode(*answer) != 1) return local;
  const auto data = JsonObject(*answer, "responseData");
  if (!data) return local;
  return JsonInt(*data, "time").value_or(local);
}

}  // namespace quillora
