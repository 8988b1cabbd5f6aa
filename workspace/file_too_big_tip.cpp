#include "workspace/file_too_big_tip.h"

namespace quillora::workspace {

using namespace DirectUI;

namespace {
FileTooBigTip* g_open = nullptr;
}

FileTooBigTip::~FileTooBigTip() {
  if (g_open == this) g_open = nullptr;
}

void FileTooBigTip::InitWindow() {
  if (mode_ != 1) return;
  if (CControlUI* desc = m_pm.FindControl("lb_desc")) desc->SetText(kTextTooLong);
}

void FileTooBigTip::ShowModalOver(HWND owner, int mode) {
  FileTooBigTip tip(mode);
  if (!tip.Create(owner, "", UI_WNDSTYLE_DIALOG, 0)) return;
  FileTooBigTip* outer = g_open;
  g_open = &tip;
  tip.CenterWindow();
  tip.ShowModal();
  g_open = outer;
}

FileTooBigTip* FileTooBigTip::Open() { return g_open; }

}  // namespace quillora::workspace
