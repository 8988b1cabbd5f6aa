// Writes the set.ini that the package ships: the "Service" section with the
// production hosts, taken from the same defaults the programs fall back on,
// so the shipped file and the code cannot name different hosts.
#include <cstdio>
#include <string>

#include "common/ini.h"
#include "common/service_settings.h"

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: %s OUTPUT\n", argv[0]);
    return 2;
  }
  const std::string text =
      "; The settings the package ships. Each user's own copy lives in the user's\n"
      "; configuration folder and is seeded from the section below on first start.\n" +
      quillora::ServiceSettingsIniSection(quillora::DefaultServiceSettings());
  if (!quillora::WriteTextFileAtomically(argv[1], text)) {
    std::fprintf(stderr, "%s: cannot write %s\n", argv[0], argv[1]);
    return 1;
  }
  return 0;
}
