// The program's own manager, wired to the configuration store and the
// signed-in user. Kept apart so that tools and tests with managers of their
// own do not pull in the configuration store.
#include "account/session/user_session.h"
#include "app/config/app_config.h"
#include "platform/paths.h"
#include "service/trans_task_manager.h"
#include "service/transport/http.h"

namespace quillora {

TransTaskManager& TransTaskManager::Instance() {
  static TransTaskManager* const instance = [] {
    EnsureCurlInitialised();
    AppConfig& config = AppConfig::Instance();
    TaskManagerOptions options;
    options.identity = config.GetSoftwareIdentity();
    options.outputFolder = [&config] { return config.GetOutputFolder(); };
    options.creatableOutputFolder = platform::WithTrailingSeparator(platform::GetDocumentsFolder());
    options.signIn = []() -> std::optional<SignInValues> {
      const SessionData session = UserSession::Instance().Snapshot();
      if (session.loginType == LoginType::SignedOut) return std::nullopt;
      return SignInValues{session.account, session.usertoken};
    };
    options.tempFolder = platform::GetTempFolder();
    return new TransTaskManager(std::move(options));
  }();
  return *instance;
}

}  // namespace quillora
