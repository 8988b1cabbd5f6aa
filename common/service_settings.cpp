#include "common/service_settings.h"

namespace quillora {

ServiceSettings DefaultServiceSettings() {
  ServiceSettings s;
  s.apiBase = "https://api.quillora.example";
  s.pageBase = "http://api.quillora.example";
  s.previewBase = "http://preview.quillora.example";
  s.statsBase = "https://stats.quillora.example";
  s.updateBase = "http://update.quillora.example";
  s.chatPage = "https://chat.quillora.example/client";
  s.qqAuthBase = "https://graph.qq.com";
  return s;
}

}  // namespace quillora
