#include "service/transport/remote_services.h"

#include <mutex>

namespace quillora {
namespace {

std::mutex& SettingsMutex() {
  static std::mutex m;
  return m;
}

// Guarded by SettingsMutex(); starts with the production hosts.
ServiceSettings& Settings() {
  static ServiceSettings s = DefaultServiceSettings();
  return s;
}

std::string WithoutTrailingSlashes(std::string base) {
  while (!base.empty() && base.back() == '/') base.pop_back();
  return base;
}

std::string Join(std::string base, std::string_view middle, std::string_view tail) {
  base.append(middle);
  base.append(tail);
  return base;
}

}  // namespace

void ConfigureRemoteServices(const ServiceSettings& settings) {
  ServiceSettings s = settings;
  s.apiBase = WithoutTrailingSlashes(std::move(s.apiBase));
  s.pageBase = WithoutTrailingSlashes(std::move(s.pageBase));
  s.previewBase = WithoutTrailingSlashes(std::move(s.previewBase));
  s.statsBase = WithoutTrailingSlashes(std::move(s.statsBase));
  s.updateBase = WithoutTrailingSlashes(std::move(s.updateBase));
  s.qqAuthBase = WithoutTrailingSlashes(std::move(s.qqAuthBase));
  std::lock_guard lock(SettingsMutex());
  Settings() = std::move(s);
}

ServiceSettings CurrentServiceSettings() {
  std::lock_guard lock(SettingsMutex());
  return Settings();
}

std::string ApiUrl(std::string_view endpoint) {
  return Join(CurrentServiceSettings().apiBase, "/api/v4/", endpoint);
}

std::string PageUrl(std::string_view path) { return Join(CurrentServiceSettings().pageBase, "", path); }

std::string PreviewUrl(std::string_view name) {
  return Join(CurrentServiceSettings().previewBase, "/preview/fanyi/", name);
}

std::string StatisticsUrl(std::string_view path) {
  return Join(CurrentServiceSettings().statsBase, "", path);
}

std::string ServerTimeUrl() { return StatisticsUrl("/ver1/getUnixTime"); }

std::string UpdateCheckUrl() { return Join(CurrentServiceSettings().updateBase, "/ver1/checkUpdate", ""); }

std::string QqAuthorizeUrl(std::string_view query) {
  return Join(CurrentServiceSettings().qqAuthBase, "/oauth2.0/show?", query);
}

std::string ChatPageUrl() { return CurrentServiceSettings().chatPage; }

std::string CaFile() { return CurrentServiceSettings().caFile; }

}  // namespace quillora
