// The skin parser and builder on arbitrary markup: a control tree or a clear
// error, never a crash, a hang or a leak; a built tree lays itself out.
#include <cstdlib>
#include <string>

#include "fuzz/fuzz_check.h"
#include "ui/ui_builder.h"
#include "ui/ui_manager.h"
#include "ui/ui_window.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  setenv("QT_QPA_PLATFORM", "offscreen", 1);
  DirectUI::EnsureApplication();
  // Includes resolve against an empty folder: the markup alone is under test.
  DirectUI::CPaintManagerUI::SetResourcePath("/nonexistent-quillora-skin/");
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string xml(reinterpret_cast<const char*>(data), size);
  DirectUI::CPaintManagerUI manager;
  manager.SetDPIScale(100);
  DirectUI::CDialogBuilder builder;
  DirectUI::CControlUI* root = builder.CreateFromText(xml, "fuzz.xml", nullptr, &manager);
  if (!root) {
    FUZZ_CHECK(!builder.GetLastError().empty());
    return 0;
  }
  if (manager.AttachDialog(root)) {
    manager.SetClientSizeForTest({320, 240});
  } else {
    delete root;
  }
  return 0;
}
