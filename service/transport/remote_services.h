#pragma once
// The one place that turns the configured base addresses of the remote
// services into URLs. Every program calls ConfigureRemoteServices once at
// start-up with the settings it read; until then the production defaults
// (DefaultServiceSettings) apply. No other code spells a host.
//
// All functions are safe to call from any thread.
#include <string>
#include <string_view>

#include "common/service_settings.h"

namespace quillora {

// Replaces the process-wide settings. Trailing slashes on the base addresses
// are dropped, so "https://host/" and "https://host" mean the same.
void ConfigureRemoteServices(const ServiceSettings& settings);

// A copy of the settings in effect.
ServiceSettings CurrentServiceSettings();

// Service API (HTTPS): ApiUrl("memparm") is "<api base>/api/v4/memparm". The
// endpoint may carry a query ("uploadfile?tasktag=...").
std::string ApiUrl(std::string_view endpoint);

// The API host's browser pages (HTTP): PageUrl("/scanlogin/" + tag).
std::string PageUrl(std::string_view path);

// Preview storage (HTTP): "<preview base>/preview/fanyi/" + name.
std::string PreviewUrl(std::string_view name);

// Statistics host (HTTPS): StatisticsUrl("/ver1/AppInstall").
std::string StatisticsUrl(std::string_view path);

// The statistics host's clock: "<stats base>/ver1/getUnixTime".
std::string ServerTimeUrl();

// Update host (HTTP): "<update base>/ver1/checkUpdate".
std::string UpdateCheckUrl();

// The QQ open platform's sign-in page: "<qq base>/oauth2.0/show?" + query.
std::string QqAuthorizeUrl(std::string_view query);

// Customer-service chat page, full URL without query.
std::string ChatPageUrl();

// Extra CA bundle trusted besides the system store; empty when none.
std::string CaFile();

}  // namespace quillora
