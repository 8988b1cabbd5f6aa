// Quillora: the windowed translation client. Takes no arguments.
#include <cstdio>
#include <cstdlib>

#include "app/shell/start_up.h"

int main() {
  const int code = quillora::RunQuillora();
  // Worker threads (an update check, account requests) may still be in
  // flight and are never joined; ending without running static destructors
  // keeps them from touching objects torn down under them.
  std::fflush(nullptr);
  std::_Exit(code);
}
