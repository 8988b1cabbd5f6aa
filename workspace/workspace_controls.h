#pragma once
// The control classes the workspace's skins name, for a window's control
// factory (IDialogBuilderCallback::CreateControl): "DocTransPage",
// "MusicTransPage", "PicTransPage", "TextTransPage", "SelectLanguage" and
// "LabelEx" (the page skins use it), compared without regard to case.
//
// A host window builds the four page skins with its paint manager and this
// factory and adds each root to its "ly_main", in this order:
inline constexpr const char* kWorkspacePageSkins[] = {"DocTransPage.xml", "MusicTransPage.xml", "PicTransPage.xml",
                                                      "TextTransPage.xml"};
// The page skins use the font slots and defaults of "WorkspaceFonts.xml",
// which the host's window skin includes at window level.
#include <string>

#include "ui/UIlib.h"

namespace quillora::workspace {

// A new control of that class, or null for any other name.
DirectUI::CControlUI* CreateWorkspaceControl(const std::string& className);

}  // namespace quillora::workspace
