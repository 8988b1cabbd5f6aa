#include "workspace/workspace_controls.h"

#include "app/controls/label_ex.h"
#include "common/text.h"
#include "workspace/file_trans_page.h"
#include "workspace/select_language.h"
#include "workspace/text_trans_page.h"

namespace quillora::workspace {

using DirectUI::CControlUI;

CControlUI* CreateWorkspaceControl(const std::string& className) {
  const auto is = [&](std::string_view name) { return EqualsIgnoringAsciiCase(className, name); };
  if (is(DocTransPage::kKind.className)) return new DocTransPage;
  if (is(MusicTransPage::kKind.className)) return new MusicTransPage;
  if (is(PicTransPage::kKind.className)) return new PicTransPage;
  if (is(TextTransPage::kClassName)) return new TextTransPage;
  if (is(SelectLanguage::kClassName)) return new SelectLanguage;
  if (is(CLabelEx::kClassName)) return new CLabelEx;
  return nullptr;
}

}  // namespace quillora::workspace
