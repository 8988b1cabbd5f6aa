// The statistics host (server time and usage events) and the update host.
#include <algorithm>

#include "common/codec.h"
#include "emulator/client_rules.h"
#include "emulator/emulator_impl.h"

namespace quillora::emulator {

namespace {

// The header lines every usage event carries besides the sign line.
const char* const kEventHeaders[] = {"distinct_id", "os",           "os_version",       "device_id",
                                     "screen_height", "screen_width", "mac_address",      "install_filename",
                                     "software_name", "software_version"};

bool IsHex32(const std::string& s) {
  return s.size() == 32 && std::all_of(s.begin(), s.end(), [](char c) {
           return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f');
         });
}

std::string InstallerName(const std::string& version) { return "setup_Quillora_" + version + ".exe"; }

}  // namespace

std::string Emulator::InstallerUrl() const {
  std::lock_guard lock(impl_->mu);
  return UpdateBase() + "/download/" + InstallerName(impl_->updateBehaviour.version);
}

void Emulator::Impl::RegisterStats(httplib::Server& s) {
  auto time = [this](const httplib::Request&) {
    // Composed by hand: the client cuts the ten digits before the two
    // closing braces out of the raw text.
    Answer a;
    a.body = "{\"code\":1,\"responseData\":{\"time\":" + std::to_string(ServerTime()) + "}}";
    return a;
  };
  Route(s, "stats", "GET", "/ver1/getUnixTime", time);
  Route(s, "stats", "POST", "/ver1/getUnixTime", time);

  auto event = [this](const httplib::Request& req) {
    StatsEvent ev;
    std::vector<std::string> parts;
    size_t pos = std::string("/ver1/").size();
    while (pos <= req.path.size()) {
      size_t slash = req.path.find('/', pos);
      if (slash == std::string::npos) slash = req.path.size();
      parts.push_back(req.path.substr(pos, slash - pos));
      pos = slash + 1;
    }
    ev.name = parts.empty() ? std::string() : parts[0];
    for (size_t i = 1; i + 1 < parts.size(); i += 2) ev.values.emplace_back(parts[i], parts[i + 1]);
    bool shapeOk = (parts.size() % 2) == 1;
    if (ev.name == "AppLogin") {
      const char* keys[] = {"loginMethod", "isSuccess", "failReason", "isVip"};
      shapeOk = shapeOk && ev.values.size() == 4;
      for (size_t i = 0; shapeOk && i < 4; ++i) shapeOk = ev.values[i].first == keys[i];
    } else if (ev.name == "AppStart") {
      shapeOk = shapeOk && ev.values.size() == 2 && ev.values[0].first == "isLogin" && ev.values[1].first == "isVip";
    } else if (ev.name == "AppInstall") {
      shapeOk = shapeOk && ev.values.empty();
    } else {
      shapeOk = false;
    }
    std::string sign = req.get_header_value("sign");
    std::string digest = sign.substr(0, 32);
    ev.timeText = sign.size() > 32 ? sign.substr(32) : std::string();
    ev.signValid = IsHex32(digest) && Md5Hex(std::string(kStatisticsSalt) + ev.timeText) == digest;
    std::string missing;
    for (const char* h : kEventHeaders) {
      if (!req.has_header(h)) missing += std::string(missing.empty() ? "" : ", ") + h;
    }
    ev.request.method = req.method;
    ev.request.path = req.path;
    for (const auto& [k, v] : req.headers) ev.request.headers.emplace_back(k, v);
    {
      std::lock_guard lock(mu);
      statsEvents.push_back(ev);
    }
    if (!shapeOk) {
      Answer a = CodeAnswer(kCodeUnknownEndpoint, "unknown event");
      a.status = 404;
      return a;
    }
    if (!ev.signValid) return CodeAnswer(kCodeBadSignature, "sign line missing or wrong");
    if (!missing.empty()) return CodeAnswer(kCodeMalformed, "missing header lines: " + missing);
    return CodeAnswer(1);
  };
  Route(s, "stats", "GET", R"(/ver1/App(Install|Start|Login)(/.*)?)", event);
  RegisterFallback(s, "stats");
}

void Emulator::Impl::RegisterUpdate(httplib::Server& s) {
  Route(s, "update", "POST", "/ver1/checkUpdate", [this](const httplib::Request& req) {
    if (Answer wrongType = ContentTypeAnswer(req); wrongType.status != 200) return wrongType;
    UpdateBodyProblem problem = CheckUpdateBody(req.body);
    if (problem.code != 0) return CodeAnswer(problem.code, problem.reason);
    UpdateBehaviour u;
    {
      std::lock_guard lock(mu);
      u = updateBehaviour;
    }
    Json::Value answer(Json::objectValue);
    answer["code"] = u.code;
    if (u.code == 1) {
      Json::Value data(Json::objectValue);
      data["software_version"] = u.version;
      data["software_download"] = u.downloadUrl.empty() ? "http://127.0.0.1:" + std::to_string(updatePort) +
                                                              "/download/" + InstallerName(u.version)
                                                        : u.downloadUrl;
      data["software_update_type"] = u.updateType;
      if (u.includeChecksum) data["software_md5"] = Md5Hex(u.installerBytes);
      answer["responseData"] = data;
    }
    return JsonAnswer(answer);
  });

  Route(s, "update", "GET", R"(/download/([^/]+))", [this](const httplib::Request& req) {
    UpdateBehaviour u;
    {
      std::lock_guard lock(mu);
      u = updateBehaviour;
    }
    Answer a;
    if (req.matches[1].str() != InstallerName(u.version)) {
      a.status = 404;
      a.body = "no such installer";
      a.contentType = "text/plain";
      return a;
    }
    a.body = u.installerBytes;
    a.contentType = "application/octet-stream";
    return a;
  });
  RegisterFallback(s, "update");
}

}  // namespace quillora::emulator
