#include "ui/gallery/gallery_window.h"

namespace DirectUI {

DUI_BEGIN_MESSAGE_MAP(GalleryPopup, CWindowImplBaseUI)
DUI_ON_CLICK_CTRNAME("btn_ok", OnOk)
DUI_ON_CLICK_CTRNAME("btn_nested", OnNested)
DUI_END_MESSAGE_MAP()

void GalleryPopup::OnOk(TNotifyUI&) { Close(kOkCode); }

void GalleryPopup::OnNested(TNotifyUI&) {
  GalleryPopup inner;
  inner.Create(GetHWND(), "", UI_WNDSTYLE_DIALOG, 0);
  inner.CenterWindow();
  lastNestedCode = inner.ShowModal();
}

DUI_BEGIN_MESSAGE_MAP(GalleryWnd, CWindowImplBaseUI)
DUI_ON_MSGTYPE(DUI_MSGTYPE_CLICK, OnAnyClick)
DUI_ON_SELECTCHANGED_CTRNAME("opt_controls", OnTabChanged)
DUI_ON_SELECTCHANGED_CTRNAME("opt_edits", OnTabChanged)
DUI_ON_SELECTCHANGED_CTRNAME("opt_layout", OnTabChanged)
DUI_ON_CLICK_CTRNAME("btn_modal", OnModal)
DUI_ON_CLICK_CTRNAME("btn_menu", OnMenuButton)
DUI_ON_MSGTYPE(DUI_MSGTYPE_MENU, OnMenuItem)
DUI_ON_MSGTYPE(DUI_MSGTYPE_TIMER, OnTimer)
DUI_ON_MSGTYPE(DUI_MSGTYPE_ITEMSELECT, OnItemSelect)
DUI_ON_CLICK_CTRNAME("btn_open_file", OnOpenFile)
DUI_ON_CLICK_CTRNAME("btn_pick_folder", OnPickFolder)
DUI_ON_CLICK_CTRNAME("btn_float_note", OnToggleFloat)
DUI_ON_CLICK_CTRNAME("btn_toggle_float", OnToggleFloat)
DUI_END_MESSAGE_MAP()

void GalleryWnd::InitWindow() {
  SetWindowText("DirectUI Gallery");
  SetIcon(102);
  tab_ = static_cast<CTabLayoutUI*>(m_pm.FindControl("tab_main"));
  status_ = static_cast<CLabelUI*>(m_pm.FindControl("lb_status"));
  timerLabel_ = static_cast<CLabelUI*>(m_pm.FindControl("lb_timer"));
  if (timerLabel_) m_pm.SetTimer(timerLabel_, kTimerId, 1000);
  DragAcceptFiles(true);
}

void GalleryWnd::OnFinalMessage(HWND hwnd) {
  CWindowImplBaseUI::OnFinalMessage(hwnd);
  if (quitOnClose) PostQuitMessage(0);
}

void GalleryWnd::OnTabChanged(TNotifyUI& msg) {
  if (!tab_) return;
  const std::string& n = msg.pSender->GetName();
  tab_->SelectItem(n == "opt_controls" ? 0 : n == "opt_edits" ? 1 : 2);
}

void GalleryWnd::OnModal(TNotifyUI&) {
  GalleryPopup popup;
  popup.Create(GetHWND(), "", UI_WNDSTYLE_DIALOG, 0);
  popup.CenterWindow();
  lastModalCode = popup.ShowModal();
  if (auto* l = static_cast<CLabelUI*>(m_pm.FindControl("lb_modal_result")))
    l->SetText("返回码 " + std::to_string(lastModalCode));
}

void GalleryWnd::OnMenuButton(TNotifyUI& msg) {
  RECT rc = msg.pSender->GetPos();
  POINT pt = ClientToScreen({rc.left, rc.bottom});
  auto* menu = new CMenuWnd();
  menu->Init(nullptr, "menu.xml", pt, &m_pm, nullptr, eMenuAlignment_Left | eMenuAlignment_Top);
}

void GalleryWnd::OnMenuItem(TNotifyUI& msg) {
  const std::string& n = msg.pSender->GetName();
  if (status_) status_->SetText("菜单：" + n);
  if (n == "menuitem_exit") Close(0);
}

void GalleryWnd::OnTimer(TNotifyUI& msg) {
  if (msg.pSender != timerLabel_ || msg.wParam != kTimerId) return;
  ++ticks;
  timerLabel_->SetText("计时 " + std::to_string(ticks));
}

void GalleryWnd::OnAnyClick(TNotifyUI& msg) {
  if (status_ && msg.pSender) status_->SetText("点击：" + msg.pSender->GetName());
  CWindowImplBaseUI::OnClick(msg);  // title-bar buttons
}

void GalleryWnd::OnItemSelect(TNotifyUI& msg) {
  auto* box = static_cast<CContainerUI*>(msg.pSender->GetInterface("Container"));
  CControlUI* item = box ? box->GetItemAt(static_cast<int>(msg.wParam)) : nullptr;
  if (status_ && item) status_->SetText("选择：" + item->GetText());
}

namespace {
void ShowPicked(CPaintManagerUI& pm, const std::string& path) {
  if (auto* l = static_cast<CLabelUI*>(pm.FindControl("lb_picked"))) l->SetText(path.empty() ? "已取消" : path);
}
}  // namespace

void GalleryWnd::OnOpenFile(TNotifyUI&) {
  OpenFileOptions opts;
  opts.filters = {{"文档 (WORD, EXCEL, PPT, PDF)", "*.doc;*.docx;*.xls;*.xlsx;*.ppt;*.pptx;*.pdf"},
                  {"图片文件 (PNG, JPG, BMP)", "*.png;*.jpg;*.bmp;"}};
  ShowPicked(m_pm, OpenFileDialog(GetHWND(), opts));
}

void GalleryWnd::OnPickFolder(TNotifyUI&) { ShowPicked(m_pm, BrowseForFolder(GetHWND(), "从下面选文件夹目录:")); }

LRESULT GalleryWnd::HandleMessage(UINT msg, WPARAM wParam, LPARAM lParam) {
  if (msg == WM_DROPFILES) {
    auto drop = reinterpret_cast<HDROP>(wParam);
    droppedFiles.clear();
    for (UINT i = 0; i < DragQueryFileCount(drop); ++i) droppedFiles.push_back(DragQueryFile(drop, i));
    if (status_ && !droppedFiles.empty()) status_->SetText("拖入：" + droppedFiles.front());
  }
  return CWindowImplBaseUI::HandleMessage(msg, wParam, lParam);
}

void GalleryWnd::OnToggleFloat(TNotifyUI&) {
  if (CControlUI* note = m_pm.FindControl("btn_float_note")) note->SetVisible(!note->IsVisible());
}

}  // namespace DirectUI
