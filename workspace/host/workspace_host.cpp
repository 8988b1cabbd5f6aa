#include "workspace/host/workspace_host.h"

#include "workspace/workspace_controls.h"

namespace quillora::workspace {

using namespace DirectUI;

namespace {
constexpr const char* kTabOptions[] = {"opt_doc_trans", "opt_voice_trans", "opt_pic_trans", "opt_short_trans"};
}

DUI_BEGIN_MESSAGE_MAP(WorkspaceHostWnd, CWindowImplBaseUI)
DUI_ON_MSGTYPE("selectchanged", OnTabSelected)
DUI_END_MESSAGE_MAP()

WorkspaceHostWnd::WorkspaceHostWnd() = default;
WorkspaceHostWnd::~WorkspaceHostWnd() = default;

CControlUI* WorkspaceHostWnd::CreateControl(const std::string& className) {
  CControlUI* control = CreateWorkspaceControl(className);
  if (!control) return nullptr;
  const FilePageKind* kinds[] = {&DocTransPage::kKind, &MusicTransPage::kKind, &PicTransPage::kKind};
  for (int i = 0; i < 3; ++i) {
    if (control->GetInterface(kinds[i]->className)) filePages_[i] = static_cast<FileTransPage*>(control);
  }
  if (auto* text = control->GetInterface(TextTransPage::kClassName)) textPage_ = static_cast<TextTransPage*>(text);
  return control;
}

void WorkspaceHostWnd::InitWindow() {
  SetWindowText("Quillora");
  bridge_ = std::make_unique<TaskNotificationBridge>(m_pm);
  lyMain_ = static_cast<CTabLayoutUI*>(m_pm.FindControl("ly_main"));
  if (CControlUI* picker = m_pm.FindControl(SelectLanguage::kControlName))
    picker_ = static_cast<SelectLanguage*>(picker->GetInterface(SelectLanguage::kClassName));
  for (const char* skin : kWorkspacePageSkins) {
    CDialogBuilder builder;
    CControlUI* page = builder.Create(skin, this, &m_pm);
    if (!page) FatalSkinError(std::string("加载资源文件失败：") + skin + "\n" + builder.GetLastError());
    lyMain_->Add(page);
  }
  if (auto* first = static_cast<COptionUI*>(m_pm.FindControl(kTabOptions[0]))) first->Selected(true);
  SwitchPage(0);
}

void WorkspaceHostWnd::OnTabSelected(TNotifyUI& msg) {
  for (int i = 0; i < 4; ++i) {
    if (msg.pSender && msg.pSender->GetName() == kTabOptions[i]) SwitchPage(i);
  }
}

void WorkspaceHostWnd::SwitchPage(int index) {
  if (!lyMain_ || !lyMain_->SelectItem(index)) return;
  FileTransPage* page = FilePage(index);
  DragAcceptFiles(page && page->IsEmpty());
}

int WorkspaceHostWnd::CurrentPage() const { return lyMain_ ? lyMain_->GetCurSel() : -1; }

FileTransPage* WorkspaceHostWnd::FilePage(int index) const {
  return index >= 0 && index < 3 ? filePages_[index] : nullptr;
}

void WorkspaceHostWnd::RouteDrop(HDROP drop) {
  if (FileTransPage* page = FilePage(CurrentPage())) page->AcceptDrop(drop);
}

LRESULT WorkspaceHostWnd::HandleMessage(UINT msg, WPARAM wParam, LPARAM lParam) {
  if (msg == WM_MOUSEMOVE && picker_) picker_->HideIfOutside({GET_X_LPARAM(lParam), GET_Y_LPARAM(lParam)});
  if (msg == WM_DROPFILES) RouteDrop(reinterpret_cast<HDROP>(wParam));
  return CWindowImplBaseUI::HandleMessage(msg, wParam, lParam);
}

}  // namespace quillora::workspace
