// The process-wide update check of the main program.
#include "app/config/app_config.h"
#include "update/update_check.h"

namespace quillora {

namespace {

UpdateChecker& ProcessChecker() {
  // Never destroyed, like the other process-wide objects: a check may still
  // be running when the program ends and must not be waited for.
  static UpdateChecker* const checker = [] {
    const AppConfig& config = AppConfig::Instance();
    return new UpdateChecker(UpdateCheckIdentity{config.GetProductId(), config.GetVersion(),
                                                 config.GetInstallerFileName()});
  }();
  return *checker;
}

}  // namespace

bool StartUpdateCheck() { return ProcessChecker().Start(); }

std::string GetLatestVersion() { return ProcessChecker().LatestVersion(); }

}  // namespace quillora
