// Quillora: the windowed translation client. Takes no arguments.
#include <cstdio>
#include <cstdlib>

#include "app/shell/start_up.h"

int main() {
  const int code = quillora::RunQuillora();
  // Worker threads (an update check, account requests) may still be in
  // flight and are never joined; ending without running static destructors
  // keeps them from touching objects torn down under them.
  // Not fflush(nullptr): that also locks standard input, which a reader
  // thread may be blocked on.
  std::fflush(stdout);
  std::fflush(stderr);
  std::_Exit(code);
}
