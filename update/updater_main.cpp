// The Update program: no window. Portable: no messages, exit code 0 whatever
// happens. Installed: reports a newer version only (see updater.h).
#include <string>
#include <vector>

#include "service/transport/http.h"
#include "update/updater.h"

int main(int argc, char** argv) {
  try {
    quillora::EnsureCurlInitialised();
    std::vector<std::string> arguments;
    for (int i = 1; i < argc; ++i) arguments.emplace_back(argv[i]);
    return quillora::updater::Run(arguments);
  } catch (...) {
    // Nothing to report to: the program has no window and no log.
  }
  return 0;
}
