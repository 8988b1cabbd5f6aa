// The Update program: no window. Portable: no messages, exit code 0 whatever
// happens. Installed: reports a newer version only (see updater.h).
#include <cstdio>
#include <string>
#include <vector>

#include "platform/layout.h"
#include "service/transport/http.h"
#include "update/updater.h"

int main(int argc, char** argv) {
  try {
    quillora::EnsureCurlInitialised();
    std::vector<std::string> arguments;
    for (int i = 1; i < argc; ++i) arguments.emplace_back(argv[i]);
    return quillora::updater::Run(arguments);
  } catch (...) {
    // Portable, nothing is told: the program has no window and no log. An
    // installed Update reports by its exit code, and must not say "up to
    // date" for a check that never finished.
    try {
      if (quillora::platform::GetProgramLayout().IsInstalled()) {
        std::fputs("Update: the check stopped on an internal error\n", stderr);
        return quillora::updater::kExitCheckFailed;
      }
    } catch (...) {
      return quillora::updater::kExitCheckFailed;
    }
  }
  return 0;
}
