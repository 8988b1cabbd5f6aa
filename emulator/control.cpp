// The control port: the switches of the C++ interface as JSON over HTTP, for
// the run command and for curl. Requests to it are not journaled.
#include "common/codec.h"
#include "common/text.h"
#include "emulator/emulator_impl.h"

namespace quillora::emulator {

namespace {

std::optional<Json::Value> ParseJson(const std::string& text) {
  if (text.empty()) return Json::Value(Json::objectValue);
  Json::CharReaderBuilder builder;
  std::unique_ptr<Json::CharReader> reader(builder.newCharReader());
  Json::Value v;
  std::string errors;
  if (!reader->parse(text.data(), text.data() + text.size(), &v, &errors) || !v.isObject()) return std::nullopt;
  return v;
}

void Reply(httplib::Response& res, const Json::Value& v, int status = 200) {
  res.status = status;
  res.set_content(JsonText(v), "application/json; charset=utf-8");
}

void Error(httplib::Response& res, const std::string& message, int status = 400) {
  Json::Value v(Json::objectValue);
  v["ok"] = false;
  v["error"] = message;
  Reply(res, v, status);
}

void Ok(httplib::Response& res) {
  Json::Value v(Json::objectValue);
  v["ok"] = true;
  Reply(res, v);
}

Json::Value EntryJson(const JournalEntry& e) {
  Json::Value v(Json::objectValue);
  v["seq"] = static_cast<Json::UInt64>(e.seq);
  v["service"] = e.service;
  v["method"] = e.method;
  v["path"] = IsValidUtf8(e.path) ? e.path : Base64Encode(e.path);
  v["query"] = e.query;
  Json::Value headers(Json::objectValue);
  for (const auto& [k, val] : e.headers) headers[k] = IsValidUtf8(val) ? val : Base64Encode(val);
  v["headers"] = headers;
  if (IsValidUtf8(e.body)) {
    v["body"] = e.body;
  } else {
    v["bodyBase64"] = Base64Encode(e.body);
  }
  v["bodySize"] = static_cast<Json::UInt64>(e.bodySize);
  v["status"] = e.httpStatus;
  v["code"] = e.code;
  return v;
}

std::optional<Fault::Kind> KindFromText(const std::string& s) {
  if (s == "none") return Fault::Kind::kNone;
  if (s == "code") return Fault::Kind::kCode;
  if (s == "malformed") return Fault::Kind::kMalformed;
  if (s == "truncated") return Fault::Kind::kTruncated;
  if (s == "drop") return Fault::Kind::kDrop;
  if (s == "hang") return Fault::Kind::kHang;
  return std::nullopt;
}

}  // namespace

void Emulator::Impl::RegisterControl(httplib::Server& s) {
  auto base = [](const char* scheme, int port) {
    return std::string(scheme) + "://127.0.0.1:" + std::to_string(port);
  };

  s.Get("/control/status", [this, base](const httplib::Request&, httplib::Response& res) {
    Json::Value v(Json::objectValue);
    v["api"] = base("https", apiPort);
    v["pages"] = base("http", pagesPort);
    v["preview"] = base("http", previewPort);
    v["statistics"] = base("https", statsPort);
    v["update"] = base("http", updatePort);
    v["control"] = base("http", controlPort);
    v["caFile"] = tls.caFile;
    v["stateDir"] = stateDir;
    std::lock_guard lock(mu);
    v["tasks"] = static_cast<Json::UInt64>(tasks.size());
    Reply(res, v);
  });

  s.Get("/control/journal", [this](const httplib::Request& req, httplib::Response& res) {
    std::string pattern = req.get_param_value("path");
    uint64_t since = 0;
    if (req.has_param("since")) since = std::strtoull(req.get_param_value("since").c_str(), nullptr, 10);
    Json::Value list(Json::arrayValue);
    std::lock_guard lock(journalMu);
    for (const auto& e : journal) {
      if (e.seq <= since) continue;
      if (!pattern.empty() && !PathMatches(pattern, e.path)) continue;
      list.append(EntryJson(e));
    }
    Reply(res, list);
  });

  s.Post("/control/journal/clear", [this](const httplib::Request&, httplib::Response& res) {
    {
      std::lock_guard lock(journalMu);
      journal.clear();
    }
    Ok(res);
  });

  s.Post("/control/fault", [this](const httplib::Request& req, httplib::Response& res) {
    auto v = ParseJson(req.body);
    if (!v || !(*v)["path"].isString()) return Error(res, "expected {\"path\":...,\"kind\":...}");
    auto kind = KindFromText((*v).get("kind", "code").asString());
    if (!kind) return Error(res, "kind is one of none, code, malformed, truncated, drop, hang");
    Fault f;
    f.path = (*v)["path"].asString();
    f.kind = *kind;
    f.code = (*v).get("code", 0).asInt();
    f.httpStatus = (*v).get("httpStatus", 200).asInt();
    f.delay = std::chrono::milliseconds((*v).get("delayMs", 0).asInt());
    f.count = (*v).get("count", -1).asInt();
    {
      std::lock_guard lock(mu);
      faults.erase(std::remove_if(faults.begin(), faults.end(),
                                  [&](const FaultSlot& slot) { return slot.fault.path == f.path; }),
                   faults.end());
      if (f.count != 0) faults.push_back({f, nextFaultId++});
    }
    faultCv.notify_all();
    Ok(res);
  });

  s.Post("/control/fault/clear", [this](const httplib::Request& req, httplib::Response& res) {
    auto v = ParseJson(req.body);
    if (!v) return Error(res, "expected {} or {\"path\":...}");
    {
      std::lock_guard lock(mu);
      if ((*v)["path"].isString()) {
        std::string path = (*v)["path"].asString();
        faults.erase(std::remove_if(faults.begin(), faults.end(),
                                    [&](const FaultSlot& slot) { return slot.fault.path == path; }),
                     faults.end());
      } else {
        faults.clear();
      }
    }
    faultCv.notify_all();
    Ok(res);
  });

  s.Post("/control/task", [this](const httplib::Request& req, httplib::Response& res) {
    auto v = ParseJson(req.body);
    if (!v) return Error(res, "expected a JSON object");
    std::lock_guard lock(mu);
    if (v->isMember("processingMs"))
      taskBehaviour.processingTime = std::chrono::milliseconds((*v)["processingMs"].asInt());
    if (v->isMember("processingCode")) taskBehaviour.processingCode = (*v)["processingCode"].asInt();
    if (v->isMember("finalCode")) taskBehaviour.finalCode = (*v)["finalCode"].asInt();
    Json::Value out(Json::objectValue);
    out["processingMs"] = static_cast<Json::Int64>(taskBehaviour.processingTime.count());
    out["processingCode"] = taskBehaviour.processingCode;
    out["finalCode"] = taskBehaviour.finalCode;
    Reply(res, out);
  });

  s.Post("/control/update", [this](const httplib::Request& req, httplib::Response& res) {
    auto v = ParseJson(req.body);
    if (!v) return Error(res, "expected a JSON object");
    std::lock_guard lock(mu);
    UpdateBehaviour& u = updateBehaviour;
    if (v->isMember("code")) u.code = (*v)["code"].asInt();
    if (v->isMember("version")) u.version = (*v)["version"].asString();
    if (v->isMember("downloadUrl")) u.downloadUrl = (*v)["downloadUrl"].asString();
    if (v->isMember("updateType")) u.updateType = (*v)["updateType"].asInt();
    if (v->isMember("installer")) u.installerBytes = (*v)["installer"].asString();
    if (v->isMember("checksum")) u.includeChecksum = (*v)["checksum"].asBool();
    Ok(res);
  });

  s.Post("/control/time", [this](const httplib::Request& req, httplib::Response& res) {
    auto v = ParseJson(req.body);
    if (!v || !(*v)["offset"].isIntegral()) return Error(res, "expected {\"offset\":seconds}");
    std::lock_guard lock(mu);
    timeOffset = (*v)["offset"].asInt64();
    Ok(res);
  });

  s.Get("/control/sms", [this](const httplib::Request& req, httplib::Response& res) {
    std::string mobile = req.get_param_value("mobile");
    std::lock_guard lock(mu);
    auto it = smsCodes.find(mobile);
    if (it == smsCodes.end()) return Error(res, "no SMS code sent to this number", 404);
    Json::Value v(Json::objectValue);
    v["mobile"] = mobile;
    v["code"] = it->second;
    Reply(res, v);
  });

  s.Get("/control/captcha", [this](const httplib::Request&, httplib::Response& res) {
    std::lock_guard lock(mu);
    if (lastCaptcha.empty()) return Error(res, "no captcha issued yet", 404);
    Json::Value v(Json::objectValue);
    v["answer"] = lastCaptcha;
    Reply(res, v);
  });

  s.Post("/control/captcha-required", [this](const httplib::Request& req, httplib::Response& res) {
    auto v = ParseJson(req.body);
    if (!v || !(*v)["required"].isBool()) return Error(res, "expected {\"required\":true|false}");
    std::lock_guard lock(mu);
    captchaRequired = (*v)["required"].asBool();
    Ok(res);
  });

  s.Get("/control/logintags", [this](const httplib::Request&, httplib::Response& res) {
    Json::Value list(Json::arrayValue);
    std::lock_guard lock(mu);
    for (const auto& tag : loginTagOrder) {
      Json::Value t(Json::objectValue);
      t["logintag"] = tag;
      t["confirmed"] = loginTags[tag].confirmed;
      list.append(t);
    }
    Reply(res, list);
  });

  s.Post("/control/scan", [this](const httplib::Request& req, httplib::Response& res) {
    auto v = ParseJson(req.body);
    if (!v || !(*v)["logintag"].isString()) return Error(res, "expected {\"logintag\":...}");
    std::lock_guard lock(mu);
    auto it = loginTags.find((*v)["logintag"].asString());
    if (it == loginTags.end()) return Error(res, "unknown logintag", 404);
    it->second.confirmed = true;
    it->second.username = (*v).get("username", "").asString();
    Ok(res);
  });

  s.Get("/control/users", [this](const httplib::Request&, httplib::Response& res) {
    Json::Value list(Json::arrayValue);
    std::lock_guard lock(mu);
    for (const auto& [key, u] : users) list.append(UserInfo(u));
    Reply(res, list);
  });

  s.Post("/control/users", [this](const httplib::Request& req, httplib::Response& res) {
    auto v = ParseJson(req.body);
    if (!v || !(*v)["username"].isString() || (*v)["username"].asString().empty())
      return Error(res, "expected {\"username\":...}");
    User u;
    u.username = (*v)["username"].asString();
    u.usertoken = (*v).get("usertoken", "").asString();
    u.nickname = (*v).get("nickname", "").asString();
    u.bindmobile = (*v).get("bindmobile", "").asString();
    u.accounttype = (*v).get("accounttype", 1).asInt();
    u.vip = (*v).get("vip", false).asBool();
    std::lock_guard lock(mu);
    u.uid = (*v).isMember("uid") ? (*v)["uid"].asInt64() : nextUid++;
    users[u.username] = u;
    Reply(res, UserInfo(u));
  });

  s.Get("/control/stats", [this](const httplib::Request&, httplib::Response& res) {
    Json::Value list(Json::arrayValue);
    std::lock_guard lock(mu);
    for (const auto& ev : statsEvents) {
      Json::Value e(Json::objectValue);
      e["name"] = ev.name;
      Json::Value values(Json::objectValue);
      for (const auto& [k, val] : ev.values) values[k] = IsValidUtf8(val) ? val : Base64Encode(val);
      e["values"] = values;
      e["time"] = ev.timeText;
      e["signValid"] = ev.signValid;
      list.append(e);
    }
    Reply(res, list);
  });

  s.Get("/control/settings", [this, base](const httplib::Request&, httplib::Response& res) {
    std::string ini = std::string("[") + kServiceSection + "]\n" + kServiceApiKey + "=" + base("https", apiPort) +
                      "\n" + kServicePagesKey + "=" + base("http", pagesPort) + "\n" + kServicePreviewKey + "=" +
                      base("http", previewPort) + "\n" + kServiceStatisticsKey + "=" + base("https", statsPort) +
                      "\n" + kServiceUpdateKey + "=" + base("http", updatePort) + "\n" + kServiceChatKey + "=" +
                      base("http", pagesPort) + "/chat\n" + kServiceCaFileKey + "=" + tls.caFile + "\n";
    res.set_content(ini, "text/plain; charset=utf-8");
  });

  s.set_error_handler([](const httplib::Request&, httplib::Response& res) {
    if (res.body.empty()) Error(res, "no such control endpoint", res.status);
  });
}

}  // namespace quillora::emulator
