#pragma once
// Where the remote services live. Read from set.ini (section "Service") by the
// configuration store, or by the Update program from the same file, and handed
// to the transport layer, which is the only code that turns them into URLs.
#include <string>

namespace quillora {

struct ServiceSettings {
  std::string apiBase;      // service API host, HTTPS (JSON requests under /api/v4/)
  std::string pageBase;     // the API host's browser pages, HTTP (/scanlogin/...)
  std::string previewBase;  // preview storage, HTTP (/preview/fanyi/...)
  std::string statsBase;    // statistics host, HTTPS (/ver1/...)
  std::string updateBase;   // update host, HTTP (/ver1/checkUpdate)
  std::string chatPage;     // customer-service chat page, full URL without query
  std::string caFile;       // extra CA bundle trusted besides the system store; empty: none
  std::string qqAuthBase;   // QQ open platform, HTTPS (/oauth2.0/show, the QQ sign-in page)
};

// set.ini section and key names. Base addresses carry scheme, host and an
// optional port, without a trailing slash.
inline constexpr char kServiceSection[] = "Service";
inline constexpr char kServiceApiKey[] = "Api";
inline constexpr char kServicePagesKey[] = "Pages";
inline constexpr char kServicePreviewKey[] = "Preview";
inline constexpr char kServiceStatisticsKey[] = "Statistics";
inline constexpr char kServiceUpdateKey[] = "Update";
inline constexpr char kServiceChatKey[] = "Chat";
inline constexpr char kServiceCaFileKey[] = "CAFile";
inline constexpr char kServiceQqAuthKey[] = "QQAuth";

// Each key of the "Service" section and the field it fills, in the order the
// keys are written; readers and writers of the section go through this list
// so that a new key cannot be forgotten by one of them.
struct ServiceSettingsKey {
  const char* name;
  std::string ServiceSettings::*field;
};
inline constexpr ServiceSettingsKey kServiceSettingsKeys[] = {
    {kServiceApiKey, &ServiceSettings::apiBase},       {kServicePagesKey, &ServiceSettings::pageBase},
    {kServicePreviewKey, &ServiceSettings::previewBase}, {kServiceStatisticsKey, &ServiceSettings::statsBase},
    {kServiceUpdateKey, &ServiceSettings::updateBase},   {kServiceChatKey, &ServiceSettings::chatPage},
    {kServiceCaFileKey, &ServiceSettings::caFile},     {kServiceQqAuthKey, &ServiceSettings::qqAuthBase},
};

// The production hosts, used for every key that set.ini leaves out.
ServiceSettings DefaultServiceSettings();

}  // namespace quillora
