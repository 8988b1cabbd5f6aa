#include "update/update_request.h"

#include "common/text.h"
#include "service/transport/http.h"
#include "service/transport/json_answer.h"
#include "service/transport/remote_services.h"
#include "service/transport/server_time.h"
#include "service/transport/signing.h"

namespace quillora {

std::string BuildCheckUpdateBody(std::string_view name, std::string_view version,
                                 std::string_view package, int64_t serverTime) {
  const std::string t = std::to_string(serverTime);
  std::string body = "{\"software_name\":\"" + JsonEscape(name);
  body += "\",\"software_version\":\"" + JsonEscape(version);
  body += "\",\"software_package\":\"" + JsonEscape(package);
  body += "\",\"machine_code\":\"" + t + "\",\"guid\":\"" + t + "\",\"time\":\"\",\"token\":\"\"}";
  return body;
}

UpdateAnswer ParseUpdateAnswer(std::string_view answer) {
  UpdateAnswer out;
  const std::optional<Json::Value> root = ParseJsonAnswer(answer);
  if (!root) return out;
  out.parsed = true;
  const std::optional<int64_t> code = AnswerCode(*root);
  // Codes beyond the int range mean nothing to us; they count as "no answer".
  out.code = (code && *code >= INT32_MIN && *code <= INT32_MAX) ? static_cast<int>(*code) : 0;
  if (out.code != kUpdateAvailable) return out;
  const std::optional<Json::Value> data = JsonObject(*root, "responseData");
  if (!data) return out;
  out.newVersion = JsonString(*data, "software_version").value_or("");
  out.downloadUrl = JsonString(*data, "software_download").value_or("");
  if (data->isMember("software_update_type")) {
    out.updateType = JsonInt(*data, "software_update_type").value_or(kUnreadableUpdateType);
  }
  std::string md5 = JsonString(*data, "software_md5").value_or("");
  for (char& c : md5) {
    if (c >= 'A' && c <= 'F') c = static_cast<char>(c - 'A' + 'a');
  }
  // Kept even when malformed: such a value matches no digest, so the
  // download is refused rather than the check silently skipped.
  out.installerMd5 = std::move(md5);
  return out;
}

std::string CheckUpdateRequest(std::string_view name, std::string_view version,
                               std::string_view package) {
  const int64_t t = GetServerTime();
  PostStatus status;
  std::string answer = PostJsonBlocking(UpdateCheckUrl(), BuildCheckUpdateBody(name, version, package, t), &status);
  if (!status.answered || status.httpStatus < 200 || status.httpStatus > 299) return {};
  return answer;
}

std::string InstallerFileName(std::string_view name, std::string_view version) {
  std::string s = "setup_";
  s += name;
  s += '_';
  s += version;
  s += ".exe";
  return s;
}

bool IsSafeFileNamePiece(std::string_view piece) {
  // Leaves room for "setup_", the other piece, "_" and ".exe" within the
  // 255-byte file name limit.
  if (piece.empty() || piece.size() > 100) return false;
  if (!IsValidUtf8(piece)) return false;
  if (piece.find("..") != std::string_view::npos) return false;
  for (char c : piece) {
    const auto u = static_cast<unsigned char>(c);
    if (c == '/' || c == '\\' || u < 0x20 || u == 0x7f) return false;
  }
  return true;
}

}  // namespace quillora
