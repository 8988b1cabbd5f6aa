// What the task road reads from the service's answers (memparm, uploadpar,
// chunk, taskstate, taskdown and the time service), on arbitrary text.
#include <string>
#include <string_view>

#include "common/text.h"
#include "fuzz/fuzz_check.h"
#include "service/task_naming.h"
#include "service/task_protocol.h"
#include "service/transport/async_http_request.h"
#include "service/transport/json_answer.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  const auto answer = quillora::ParseJsonAnswer(text);
  const auto code = quillora::ParseAnswerCode(text);
  FUZZ_CHECK(code == (answer ? quillora::AnswerCode(*answer) : std::nullopt));

  const std::string time = quillora::AsyncHttpRequest::TimeTextFromAnswer(text);
  FUZZ_CHECK(time.empty() || time.size() == 10);
  FUZZ_CHECK(time.find_first_of("\r\n") == std::string::npos);
  if (!answer) return 0;

  for (const char* key : {"productinfo", "tasktag", "tasktoken", "timestamp", "downurl"})
    (void)quillora::JsonString(*answer, key);
  if (const auto responseData = quillora::JsonObject(*answer, "responseData"))
    (void)quillora::JsonInt(*responseData, "time");
  if (const auto info = quillora::JsonString(*answer, "fileconvertinfos")) {
    const std::string name = quillora::PreviewNameFromConvertInfo(*info);
    if (quillora::IsValidUtf8(*info)) FUZZ_CHECK(quillora::IsValidUtf8(name));
  }
  // A finished audio or picture task takes its text straight from the answer;
  // the preview download is never asked for.
  quillora::TransTask task;
  task.isDocument = false;
  quillora::FetchResultText(task, *answer, [] {
    FUZZ_CHECK(!"no preview for a task that is not a document");
    return std::string();
  });
  FUZZ_CHECK(task.resultText == quillora::JsonString(*answer, "txtcontent").value_or(""));
  return 0;
}
