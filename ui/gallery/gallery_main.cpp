// ui-gallery: shows every toolkit control. Skin files are looked up in
// "skin/gallery" beside the executable, or in the folder given as argument.
#include <string>

#include "ui/gallery/gallery_window.h"

int main(int argc, char** argv) {
  using namespace DirectUI;
  EnsureApplication();
  std::string skin = argc > 1 ? argv[1] : CPaintManagerUI::GetInstancePath() + "skin/gallery";
  CPaintManagerUI::SetResourcePath(skin);
  GalleryWnd wnd;
  wnd.quitOnClose = true;
  wnd.Create(nullptr, "DirectUI Gallery", UI_WNDSTYLE_FRAME, 0);
  wnd.CenterWindow();
  wnd.ShowModal();
  return 0;
}
