// The combo's drop-down: a popup window holding a toolkit list with the
// combo's rows, drawn with the same look as the skin's lists.
#include <QGuiApplication>
#include <QScreen>
#include <algorithm>

#include "ui/qt/qt_host.h"
#include "ui/ui_attr.h"
#include "ui/ui_combo.h"

namespace DirectUI {

CComboWnd::CComboWnd(CComboUI* combo) : combo_(combo) {}

void CComboWnd::Open() {
  CPaintManagerUI* owner = combo_->GetManager();
  Create(owner->GetPaintWindow(), "", WS_POPUP, 0);
  if (!GetHWND()) return;
  Place();
  ShowWindow(true, true);
  if (list_) list_->SetFocus();
}

LRESULT CComboWnd::OnCreate(UINT, WPARAM, LPARAM, bool& handled) {
  handled = true;
  CPaintManagerUI* owner = combo_->GetManager();
  m_pm.Init(this);
  m_pm.SetDPIScale(owner->GetDPIScale());
  const TFontInfo* font = owner->GetFontInfo(combo_->GetItemFont());
  m_pm.SetDefaultFont(font->name, font->size, font->bold, font->underline, font->italic);
  Host()->SetManager(&m_pm);
  list_ = BuildList();
  m_pm.AttachDialog(list_);
  m_pm.AddNotifier(this);
  m_pm.AddMessageFilter(this);
  return 0;
}

CListUI* CComboWnd::BuildList() {
  auto* list = new CListUI();
  list->SetName("combo_list");
  list->SetAttributeList(combo_->GetDropListAttributes());
  for (int i = 0; i < combo_->GetCount(); ++i) {
    auto* row = new CListLabelElementUI();
    row->SetAttributeList(combo_->GetDropItemAttributes());
    row->SetText(combo_->GetItemAt(i)->GetText());
    row->SetEnabled(combo_->GetItemAt(i)->IsEnabled());
    list->Add(row);
  }
  list->SelectItem(combo_->GetCurSel(), false);
  return list;
}

// Below the combo, as wide as it (or the size the skin asks for); above it
// when the screen has no room below.
void CComboWnd::Place() {
  CPaintManagerUI* owner = combo_->GetManager();
  const RECT rc = combo_->GetPos();
  const SIZE box = combo_->GetDropBoxSize();
  const int rows = std::max(1, list_->GetCount());
  const RECT inset = list_->GetInset();
  const int border = 2 * m_pm.ScaleValue(list_->GetBorderSize());
  int h = rows * m_pm.ScaleValue(list_->GetItemHeight()) + inset.top + inset.bottom + border;
  h = std::min(h, box.cy > 0 ? owner->ScaleValue(box.cy) : m_pm.ScaleValue(200));
  const int w = box.cx > 0 ? owner->ScaleValue(box.cx) : rc.Width();
  POINT below = owner->GetWindow()->ClientToScreen({rc.left, rc.bottom});
  POINT above = owner->GetWindow()->ClientToScreen({rc.left, rc.top - h});
  POINT at = below;
  if (QScreen* s = QGuiApplication::screenAt(QPoint(below.x, below.y))) {
    const QRect a = s->availableGeometry();
    if (below.y + h > a.bottom() && above.y >= a.top()) at = above;
    at.x = std::clamp(at.x, a.left(), std::max(a.left(), a.right() - w));
  }
  Host()->setGeometry(at.x, at.y, w, h);
}

void CComboWnd::Commit(int index) {
  CComboUI* combo = combo_;
  combo_ = nullptr;  // one answer only
  HWND self = GetHWND();
  ShowWindow(false);
  // The owner's handler may run anything, even close its window (and this
  // popup with it): only locals from here on.
  if (combo) {
    combo->DropClosed(this);
    if (index >= 0) combo->SelectItem(index);
  }
  if (IsWindow(self)) DirectUI::PostMessage(self, WM_CLOSE, 0, 0);
}

void CComboWnd::OwnerGone() {
  combo_ = nullptr;
  Close(0);
}

void CComboWnd::Notify(TNotifyUI& msg) {
  // A row picked with the mouse (or a reader's press) ends the choice.
  if (msg.sType == DUI_MSGTYPE_ITEMSELECT && msg.pSender == list_) Commit(list_->GetCurSel());
}

LRESULT CComboWnd::HandleMessage(UINT msg, WPARAM wParam, LPARAM lParam) {
  if (msg == WM_KEYDOWN && list_ && combo_) {
    // Keys move the highlight without choosing; Enter or Space chooses it.
    const int key = static_cast<int>(wParam);
    const int cur = list_->GetCurSel(), last = list_->GetCount() - 1;
    int next = -2;
    if (key == VK_UP) next = std::max(0, cur - 1);
    else if (key == VK_DOWN) next = std::min(last, cur + 1);
    else if (key == VK_HOME) next = 0;
    else if (key == VK_END) next = last;
    if (next >= -1 && last >= 0) {
      list_->SelectItem(next, false);
      return 0;
    }
    if (key == VK_RETURN || key == VK_SPACE) {
      Commit(cur);
      return 0;
    }
    if (key == VK_ESCAPE) {
      Commit(-1);
      return 0;
    }
  }
  if (msg == WM_CLOSE && combo_) {
    // Closed from outside (a click elsewhere): the combo keeps its row.
    CComboUI* combo = combo_;
    combo_ = nullptr;
    combo->DropClosed(this);
  }
  return CWindowImplBaseUI::HandleMessage(msg, wParam, lParam);
}

void CComboWnd::OnFinalMessage(HWND hwnd) {
  if (combo_) combo_->DropClosed(this);
  combo_ = nullptr;
  CWindowImplBaseUI::OnFinalMessage(hwnd);
  delete this;
}

}  // namespace DirectUI
