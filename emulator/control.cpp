// The control port: the switches of the C++ interface as JSON over HTTP, for
// the run command and for curl. Requests to it are not journaled.
#include "common/codec.h"
#include "common/ini.h"
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
  v["remotePort"] = e.remotePort;
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

// Reads typed members of a control request; a member of the wrong type
// spoils the request instead of throwing.
class Fields {
 public:
  explicit Fields(const Json::Value& v) : v_(v) {}
  bool Has(const char* key) const { return v_.isMember(key); }
  int Int(const char* key, int dflt) { return Check(key, v_.get(key, dflt).isInt()) ? v_.get(key, dflt).asInt() : dflt; }
  int64_t Int64(const char* key, int64_t dflt) {
    return Check(key, v_.get(key, static_cast<Json::Int64>(dflt)).isInt64())
               ? v_.get(key, static_cast<Json::Int64>(dflt)).asInt64()
               : dflt;
  }
  std::string Str(const char* key, const std::string& dflt) {
    return Check(key, v_.get(key, dflt).isString()) ? v_.get(key, dflt).asString() : dflt;
  }
  bool Bool(const char* key, bool dflt) {
    return Check(key, v_.get(key, dflt).isBool()) ? v_.get(key, dflt).asBool() : dflt;
  }
  bool ok = true;
  std::string error;

 private:
  bool Check(const char* key, bool typeOk) {
    if (!typeOk && ok) {
      ok = false;
      error = std::string("member ") + key + " has the wrong type";
    }
    return typeOk;
  }
  const Json::Value& v_;
};

std::optional<Fault::Kind> KindFromText(const std::string& s) {
  if (s == "none") return Fault::Kind::kNone;
  if (s == "code") return Fault::Kind::kCode;
  if (s == "malformed") return Fault::Kind::kMalformed;
  if (s == "truncated") return Fault::Kind::kTruncated;
  if (s == "drop") return Fault::Kind::kDrop;
  if (s == "hang") return Fault::Kind::kHang;
  if (s == "closeafter") return Fault::Kind::kCloseAfter;
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
    Fields in(*v);
    auto kind = KindFromText(in.Str("kind", "code"));
    if (!kind) return Error(res, "kind is one of none, code, malformed, truncated, drop, hang, closeafter");
    Fault f;
    f.path = in.Str("path", "");
    f.kind = *kind;
    f.code = in.Int("code", 0);
    f.httpStatus = in.Int("httpStatus", 200);
    f.delay = std::chrono::milliseconds(std::max(0, in.Int("delayMs", 0)));
    f.count = in.Int("count", -1);
    if (!in.ok) return Error(res, in.error);
    if (f.httpStatus < 100 || f.httpStatus > 599) return Error(res, "httpStatus must lie in 100..599");
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
    Fields in(*v);
    std::lock_guard lock(mu);
    TaskBehaviour b = taskBehaviour;
    b.processingTime = std::chrono::milliseconds(std::max(0, in.Int("processingMs", static_cast<int>(b.processingTime.count()))));
    b.processingCode = in.Int("processingCode", b.processingCode);
    b.finalCode = in.Int("finalCode", b.finalCode);
    if (!in.ok) return Error(res, in.error);
    taskBehaviour = b;
    Json::Value out(Json::objectValue);
    out["processingMs"] = static_cast<Json::Int64>(taskBehaviour.processingTime.count());
    out["processingCode"] = taskBehaviour.processingCode;
    out["finalCode"] = taskBehaviour.finalCode;
    Reply(res, out);
  });

  s.Post("/control/update", [this](const httplib::Request& req, httplib::Response& res) {
    auto v = ParseJson(req.body);
    if (!v) return Error(res, "expected a JSON object");
    Fields in(*v);
    std::lock_guard lock(mu);
    UpdateBehaviour u = updateBehaviour;
    u.code = in.Int("code", u.code);
    u.version = in.Str("version", u.version);
    u.downloadUrl = in.Str("downloadUrl", u.downloadUrl);
    u.updateType = in.Int("updateType", u.updateType);
    u.installerBytes = in.Str("installer", u.installerBytes);
    u.includeChecksum = in.Bool("checksum", u.includeChecksum);
    if (!in.ok) return Error(res, in.error);
    updateBehaviour = u;
    Ok(res);
  });

  s.Post("/control/time", [this](const httplib::Request& req, httplib::Response& res) {
    auto v = ParseJson(req.body);
    if (!v || !(*v)["offset"].isInt64()) return Error(res, "expected {\"offset\":seconds}");
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
    Fields in(*v);
    std::string username = in.Str("username", "");
    if (!in.ok) return Error(res, in.error);
    it->second.username = username;
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
    Fields in(*v);
    User u;
    u.username = in.Str("username", "");
    u.usertoken = in.Str("usertoken", "");
    u.nickname = in.Str("nickname", "");
    u.bindmobile = in.Str("bindmobile", "");
    u.accounttype = in.Int("accounttype", 1);
    u.vip = in.Bool("vip", false);
    int64_t uid = in.Int64("uid", 0);
    if (!in.ok) return Error(res, in.error);
    std::lock_guard lock(mu);
    u.uid = uid > 0 ? uid : nextUid++;
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

  s.Get("/control/settings", [this](const httplib::Request&, httplib::Response& res) {
    res.set_content(ServiceSettingsIniSection(Settings()), "text/plain; charset=utf-8");
  });

  s.set_error_handler([](const httplib::Request&, httplib::Response& res) {
    if (res.body.empty()) Error(res, "no such control endpoint", res.status);
  });
}

}  // namespace quillora::emulator
