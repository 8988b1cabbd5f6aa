#include "ui/ui_controls.h"

#include <QAbstractTextDocumentLayout>
#include <QLineEdit>
#include <QTextDocument>
#include <QTextEdit>
#include <algorithm>
#include <cstdlib>

#include "ui/qt/qt_host.h"
#include "ui/ui_attr.h"
#include "ui/ui_combo.h"
#include "ui/ui_manager.h"
#include "ui/ui_window.h"

namespace DirectUI {

namespace {

// The index of the next enabled, visible control from `from` in steps of
// `step` (+1 or -1), or -1 when there is none.
int NextUsable(const std::vector<CControlUI*>& items, int from, int step) {
  for (int i = from + step; i >= 0 && i < static_cast<int>(items.size()); i += step) {
    CControlUI* c = items[static_cast<size_t>(i)];
    if (c && c->IsVisible() && c->IsEnabled()) return i;
  }
  return -1;
}

std::vector<CControlUI*> ItemsOf(const CContainerUI& box) {
  std::vector<CControlUI*> items;
  for (int i = 0; i < box.GetCount(); ++i) items.push_back(box.GetItemAt(i));
  return items;
}

// Up/Down, Home/End in a list of rows: the row to select, or -1.
int RowForKey(const CContainerUI& box, int current, WPARAM key) {
  std::vector<CControlUI*> items = ItemsOf(box);
  const int count = static_cast<int>(items.size());
  switch (static_cast<int>(key)) {
    case VK_UP: return NextUsable(items, current < 0 ? count : current, -1);
    case VK_DOWN: return NextUsable(items, current, +1);
    case VK_HOME: return NextUsable(items, -1, +1);
    case VK_END: return NextUsable(items, count, -1);
    default: return -1;
  }
}

bool IsArrowKey(WPARAM key) {
  return key == static_cast<WPARAM>(VK_LEFT) || key == static_cast<WPARAM>(VK_UP) ||
         key == static_cast<WPARAM>(VK_RIGHT) || key == static_cast<WPARAM>(VK_DOWN);
}

}  // namespace

// ---- label ----

CLabelUI::CLabelUI() = default;
std::string CLabelUI::GetClass() const { return "LabelUI"; }
void* CLabelUI::GetInterface(const std::string& name) {
  if (name == "Label") return this;
  return CControlUI::GetInterface(name);
}

void CLabelUI::SetText(const std::string& text) {
  if (text == text_) return;
  CControlUI::SetText(text);
  if (autoCalcWidth_) NeedParentUpdate();
}
void CLabelUI::SetTextStyle(UINT style) {
  textStyle_ = style;
  Invalidate();
}
void CLabelUI::SetTextColor(DWORD c) {
  textColor_ = c;
  Invalidate();
}
void CLabelUI::SetDisabledTextColor(DWORD c) {
  disabledTextColor_ = c;
  Invalidate();
}
void CLabelUI::SetFont(int index) {
  font_ = index;
  Invalidate();
}
RECT CLabelUI::GetTextPadding() const {
  return {Scale(rcTextPadding_.left), Scale(rcTextPadding_.top), Scale(rcTextPadding_.right),
          Scale(rcTextPadding_.bottom)};
}
void CLabelUI::SetTextPadding(RECT rc) {
  rcTextPadding_ = rc;
  Invalidate();
}
void CLabelUI::SetShowHtml(bool html) {
  showHtml_ = html;
  Invalidate();
}

SIZE CLabelUI::MeasureText(int width) const {
  RECT rc{0, 0, width, 9999};
  CRenderEngine::MeasureText(manager_, rc, text_, font_, textStyle_ | DT_CALCRECT, showHtml_);
  return {rc.Width(), rc.Height()};
}

SIZE CLabelUI::EstimateSize(SIZE available) {
  if (autoCalcWidth_ && fixed_.cx == 0) {
    RECT pad = GetTextPadding();
    SIZE t = MeasureText(std::max(1, available.cx > 0 ? available.cx : 9999));
    return {t.cx + pad.left + pad.right, GetFixedHeight()};
  }
  return CControlUI::EstimateSize(available);
}

DWORD CLabelUI::CurrentTextColor() const {
  if (!IsEnabled() && disabledTextColor_ != 0) return disabledTextColor_;
  return textColor_ != 0 ? textColor_ : 0xFF000000;
}

void CLabelUI::DrawLabelText(CRenderContext& ctx, DWORD color) {
  if (text_.empty()) return;
  ctx.DrawText(DeflateRect(rcItem_, GetTextPadding()), text_, color, font_, textStyle_, showHtml_);
}

void CLabelUI::PaintText(CRenderContext& ctx) { DrawLabelText(ctx, CurrentTextColor()); }

void CLabelUI::SetAttribute(const std::string& name, const std::string& value) {
  if (name == "align") {
    textStyle_ &= ~(DT_LEFT | DT_CENTER | DT_RIGHT);
    if (value.find("center") != std::string::npos) textStyle_ |= DT_CENTER;
    else if (value.find("right") != std::string::npos) textStyle_ |= DT_RIGHT;
  } else if (name == "valign") {
    textStyle_ &= ~(DT_TOP | DT_VCENTER | DT_BOTTOM);
    if (value.find("vcenter") != std::string::npos || value == "center") textStyle_ |= DT_VCENTER;
    else if (value.find("bottom") != std::string::npos) textStyle_ |= DT_BOTTOM;
  } else if (name == "endellipsis") {
    if (ParseBool(value)) textStyle_ |= DT_END_ELLIPSIS;
    else textStyle_ &= ~DT_END_ELLIPSIS;
  } else if (name == "wordbreak" || name == "multiline") {
    if (ParseBool(value)) {
      textStyle_ |= DT_WORDBREAK;
      textStyle_ &= ~DT_SINGLELINE;
    } else {
      textStyle_ &= ~DT_WORDBREAK;
      textStyle_ |= DT_SINGLELINE;
    }
  } else if (name == "font") SetFont(ParseInt(value));
  else if (name == "textcolor") SetTextColor(ParseColor(value));
  else if (name == "disabledtextcolor") SetDisabledTextColor(ParseColor(value));
  else if (name == "textpadding") SetTextPadding(ParseRect(value));
  else if (name == "showhtml") SetShowHtml(ParseBool(value));
  else if (name == "autocalcwidth") autoCalcWidth_ = ParseBool(value);
  else CControlUI::SetAttribute(name, value);
}

// ---- button ----

CButtonUI::CButtonUI() { textStyle_ = DT_SINGLELINE | DT_VCENTER | DT_CENTER; }
std::string CButtonUI::GetClass() const { return "ButtonUI"; }
void* CButtonUI::GetInterface(const std::string& name) {
  if (name == "Button") return this;
  return CLabelUI::GetInterface(name);
}

bool CButtonUI::Activate() {
  if (!CControlUI::Activate()) return false;
  if (manager_) manager_->SendNotify(this, DUI_MSGTYPE_CLICK);
  return true;
}

void CButtonUI::DoEvent(TEventUI& event) {
  switch (event.Type) {
    case UIEVENT_MOUSEENTER:
      if (IsEnabled()) {
        hot_ = true;
        Invalidate();
      }
      return;
    case UIEVENT_MOUSELEAVE:
      hot_ = false;
      Invalidate();
      return;
    case UIEVENT_BUTTONDOWN:
    case UIEVENT_DBLCLICK:
      if (IsEnabled()) {
        pushed_ = true;
        Invalidate();
      }
      return;
    case UIEVENT_MOUSEMOVE:
      if (pushed_) {
        bool inside = rcItem_.Contains(event.ptMouse.x, event.ptMouse.y);
        if (inside != hot_) {
          hot_ = inside;
          Invalidate();
        }
      }
      return;
    case UIEVENT_BUTTONUP:
      if (pushed_) {
        pushed_ = false;
        Invalidate();
        if (rcItem_.Contains(event.ptMouse.x, event.ptMouse.y)) Activate();
      }
      return;
    case UIEVENT_KEYDOWN:
      if (event.wParam == static_cast<WPARAM>(VK_SPACE) || event.wParam == static_cast<WPARAM>(VK_RETURN)) {
        Activate();
        return;
      }
      break;
    default:
      break;
  }
  CLabelUI::DoEvent(event);
}

void CButtonUI::PaintStatusImage(CRenderContext& ctx) {
  if (!IsEnabled() && DrawImage(ctx, disabledImage_)) return;
  if (pushed_ && DrawImage(ctx, pushedImage_)) return;
  if ((hot_ || pushed_) && DrawImage(ctx, hotImage_)) return;
  if (IsFocused() && DrawImage(ctx, focusedImage_)) return;
  DrawImage(ctx, normalImage_);
}

DWORD CButtonUI::CurrentButtonTextColor() const {
  if (IsEnabled()) {
    if (pushed_ && pushedTextColor_) return pushedTextColor_;
    if (hot_ && hotTextColor_) return hotTextColor_;
  }
  return CurrentTextColor();
}

void CButtonUI::PaintText(CRenderContext& ctx) { DrawLabelText(ctx, CurrentButtonTextColor()); }

void CButtonUI::SetAttribute(const std::string& name, const std::string& value) {
  if (name == "normalimage") SetNormalImage(value);
  else if (name == "hotimage") SetHotImage(value);
  else if (name == "pushedimage") SetPushedImage(value);
  else if (name == "focusedimage") SetFocusedImage(value);
  else if (name == "disabledimage") SetDisabledImage(value);
  else if (name == "hottextcolor") hotTextColor_ = ParseColor(value);
  else if (name == "pushedtextcolor") pushedTextColor_ = ParseColor(value);
  else CLabelUI::SetAttribute(name, value);
}

// ---- option ----

COptionUI::~COptionUI() {
  if (manager_ && !group_.empty()) manager_->RemoveOptionGroup(group_, this);
}
std::string COptionUI::GetClass() const { return "OptionUI"; }
void* COptionUI::GetInterface(const std::string& name) {
  if (name == "Option") return this;
  return CButtonUI::GetInterface(name);
}

void COptionUI::SetManager(CPaintManagerUI* manager, CControlUI* parent, bool init) {
  if (manager_ && manager_ != manager && !group_.empty()) manager_->RemoveOptionGroup(group_, this);
  CButtonUI::SetManager(manager, parent, init);
  if (manager && init && !group_.empty()) {
    manager->AddOptionGroup(group_, this);
    // A group has at most one selected member; the one met first wins.
    if (selected_) {
      for (auto* other : manager->GetOptionGroup(group_)) {
        auto* o = static_cast<COptionUI*>(other);
        if (o != this && o->selected_) {
          selected_ = false;
          break;
        }
      }
    }
  }
}

void COptionUI::SetGroup(const std::string& group) {
  if (group == group_) return;
  if (manager_ && !group_.empty()) manager_->RemoveOptionGroup(group_, this);
  group_ = group;
  if (manager_ && initialised_ && !group_.empty()) manager_->AddOptionGroup(group_, this);
}

void COptionUI::Selected(bool selected, bool triggerEvent) {
  if (selected_ == selected) return;
  selected_ = selected;
  bool live = manager_ && initialised_;
  if (live && !group_.empty() && selected_) {
    for (auto* other : manager_->GetOptionGroup(group_)) {
      if (other != this) static_cast<COptionUI*>(other)->Selected(false, triggerEvent);
    }
  }
  AccessibleControlChanged(this, AccessibleChange::Checked);
  if (live && triggerEvent && (group_.empty() || selected_))
    manager_->SendNotify(this, DUI_MSGTYPE_SELECTCHANGED);
  Invalidate();
}

void COptionUI::DoEvent(TEventUI& event) {
  if (event.Type == UIEVENT_KEYDOWN && IsArrowKey(event.wParam) && !group_.empty()) {
    const bool forward = event.wParam == static_cast<WPARAM>(VK_RIGHT) || event.wParam == static_cast<WPARAM>(VK_DOWN);
    MoveInGroup(forward);
    return;
  }
  CButtonUI::DoEvent(event);
}

bool COptionUI::MoveInGroup(bool forward) {
  if (!manager_) return false;
  std::vector<CControlUI*> group = manager_->GetOptionGroup(group_);
  auto self = std::find(group.begin(), group.end(), this);
  if (self == group.end()) return false;
  int next = NextUsable(group, static_cast<int>(self - group.begin()), forward ? 1 : -1);
  if (next < 0) return false;
  auto* option = static_cast<COptionUI*>(group[static_cast<size_t>(next)]);
  option->SetFocus();
  option->Activate();
  return true;
}

bool COptionUI::Activate() {
  if (!CButtonUI::Activate()) return false;
  if (!group_.empty()) Selected(true);
  else Selected(!selected_);
  return true;
}

void COptionUI::PaintStatusImage(CRenderContext& ctx) {
  if (selected_) {
    if ((hot_ || pushed_) && DrawImage(ctx, selectedHotImage_)) return;
    if (DrawImage(ctx, selectedImage_)) return;
  }
  CButtonUI::PaintStatusImage(ctx);
}

void COptionUI::PaintText(CRenderContext& ctx) {
  if (selected_ && selectedTextColor_ != 0) DrawLabelText(ctx, selectedTextColor_);
  else CButtonUI::PaintText(ctx);
}

void COptionUI::SetAttribute(const std::string& name, const std::string& value) {
  if (name == "group") SetGroup(value);
  else if (name == "selected") Selected(ParseBool(value), false);
  else if (name == "selectedimage") SetSelectedImage(value);
  else if (name == "selectedhotimage") selectedHotImage_ = value;
  else if (name == "selectedtextcolor") SetSelectedTextColor(ParseColor(value));
  else CButtonUI::SetAttribute(name, value);
}

// ---- edits ----

CEditBaseUI::CEditBaseUI() {
  textStyle_ = DT_SINGLELINE | DT_VCENTER;
  bkColor_ = 0xFFFFFFFF;
}
CEditBaseUI::~CEditBaseUI() = default;

// The native editor is made when the box is first shown or its text is first
// set, not when the skin is built: a window holds many boxes on pages the
// user may never open, and each editor costs as much as a page of controls.
void CEditBaseUI::EnsureHost() {
  if (host_) return;
  host_ = std::make_unique<CNativeEditHost>(this, IsMultiLine());
  // What the skin and the program gave before the editor existed.
  host_->SetMaxChar(maxChar_);
  host_->SetReadOnly(readOnly_);
  if (host_->Line()) host_->Line()->setEchoMode(password_ ? QLineEdit::Password : QLineEdit::Normal);
  if (!tip_.empty()) SetTipValue(tip_);
  if (host_->Widget()) host_->Widget()->setEnabled(IsEnabled());
  AttachHost();
}

void CEditBaseUI::AttachHost() {
  if (!host_) return;
  QWidget* w = host_->Widget();
  CWindowHost* win = (manager_ && manager_->GetWindow()) ? manager_->GetWindow()->Host() : nullptr;
  if (w && win && w->parentWidget() != win) {
    w->setParent(win);
    w->installEventFilter(win);
  }
  ApplyLook();
}

void CEditBaseUI::SetManager(CPaintManagerUI* manager, CControlUI* parent, bool init) {
  CLabelUI::SetManager(manager, parent, init);
  AttachHost();
  UpdateNativeWidget();
}

std::string CEditBaseUI::GetText() const {
  if (host_) return FromQ(host_->Text());
  return text_;
}

void CEditBaseUI::SetText(const std::string& text) {
  text_ = text;
  EnsureHost();
  settingText_ = true;
  host_->SetText(ToQ(text));
  settingText_ = false;
  Invalidate();
}

void CEditBaseUI::SetEnabled(bool enable) {
  CLabelUI::SetEnabled(enable);
  if (host_ && host_->Widget()) host_->Widget()->setEnabled(enable);
}

void CEditBaseUI::SetReadOnly(bool readOnly) {
  readOnly_ = readOnly;
  if (host_) host_->SetReadOnly(readOnly);
}

void CEditBaseUI::SetTextColor(DWORD c) {
  textColor_ = c;
  ApplyLook();
}

void CEditBaseUI::SetFont(int index) {
  font_ = index;
  ApplyLook();
}

void CEditBaseUI::SetMaxChar(int n) {
  maxChar_ = std::max(0, n);
  if (host_) host_->SetMaxChar(maxChar_);
}

void CEditBaseUI::SetTipValue(const std::string& tip) {
  tip_ = tip;
  if (host_ && host_->Line()) host_->Line()->setPlaceholderText(ToQ(tip));
  if (host_ && host_->Rich()) host_->Rich()->setPlaceholderText(ToQ(tip));
}

void CEditBaseUI::ApplyLook() {
  if (!host_) return;
  host_->SetTextColor(ToQColor(textColor_ ? textColor_ : 0xFF000000));
  if (manager_) host_->SetFont(manager_->Impl()->Font(font_));
  if (host_->Widget()) {
    QPalette pal = host_->Widget()->palette();
    pal.setColor(QPalette::Base, bkColor_ ? ToQColor(bkColor_) : QColor(Qt::transparent));
    host_->Widget()->setPalette(pal);
  }
}

void CEditBaseUI::SetAttribute(const std::string& name, const std::string& value) {
  if (name == "readonly") SetReadOnly(ParseBool(value));
  else if (name == "password") {
    password_ = ParseBool(value);
    if (host_ && host_->Line()) host_->Line()->setEchoMode(password_ ? QLineEdit::Password : QLineEdit::Normal);
  } else if (name == "maxchar") SetMaxChar(ParseInt(value));
  else if (name == "tipvalue" || name == "prompt") SetTipValue(value);
  else if (name == "textcolor") SetTextColor(ParseColor(value));
  else if (name == "font") SetFont(ParseInt(value));
  else if (name == "bkcolor") {
    CLabelUI::SetAttribute(name, value);
    ApplyLook();
  } else CLabelUI::SetAttribute(name, value);
}

void CEditBaseUI::SetPos(RECT rc, bool needInvalidate) {
  CLabelUI::SetPos(rc, needInvalidate);
  UpdateNativeWidget();
}
void CEditBaseUI::SetVisible(bool visible) {
  CLabelUI::SetVisible(visible);
  UpdateNativeWidget();
}
void CEditBaseUI::SetInternVisible(bool visible) {
  CLabelUI::SetInternVisible(visible);
  UpdateNativeWidget();
}

void CEditBaseUI::UpdateNativeWidget() {
  if (host_ && (!host_->Widget() || !host_->Widget()->parentWidget())) return;
  int b = Scale(borderSize_);
  RECT rc = DeflateRect(DeflateRect(rcItem_, GetTextPadding()), {b, b, b, b});
  bool show = IsVisible() && !rc.IsEmpty();
  // Inside a scrolled container the editor must not spill over its parent.
  for (CControlUI* p = parent_; p && show; p = p->GetParent()) {
    RECT pr = p->GetPos();
    if (rc.bottom <= pr.top || rc.top >= pr.bottom || rc.right <= pr.left || rc.left >= pr.right) show = false;
  }
  if (!host_) {
    if (!show || !manager_ || !manager_->GetWindow()) return;
    EnsureHost();
    if (!host_->Widget() || !host_->Widget()->parentWidget()) return;
  }
  host_->Place(ToQRect(rc), show);
}

void CEditBaseUI::PaintText(CRenderContext&) {
  // The native editor draws the text itself.
}

void CEditBaseUI::OnNativeTextChanged() {
  if (settingText_ && !initialised_) return;
  if (manager_ && initialised_) manager_->SendNotify(this, DUI_MSGTYPE_TEXTCHANGED);
}
void CEditBaseUI::OnNativeReturn() {
  if (manager_ && initialised_) manager_->SendNotify(this, DUI_MSGTYPE_RETURN);
}
void CEditBaseUI::OnNativeFocus(bool in) {
  if (manager_) manager_->FocusFollowsNative(this, in);
}

std::string CEditUI::GetClass() const { return "EditUI"; }
void* CEditUI::GetInterface(const std::string& name) {
  if (name == "Edit") return this;
  return CLabelUI::GetInterface(name);
}
void CEditUI::SetPasswordMode(bool on) { SetAttribute("password", on ? "true" : "false"); }

CRichEditUI::CRichEditUI() { textStyle_ = DT_WORDBREAK; }
std::string CRichEditUI::GetClass() const { return "RichEditUI"; }
void* CRichEditUI::GetInterface(const std::string& name) {
  if (name == "RichEdit") return this;
  return CLabelUI::GetInterface(name);
}
int CRichEditUI::GetTextLength() const {
  return static_cast<int>(host_ ? host_->Text().size() : ToQ(text_).size());
}
void CRichEditUI::AppendText(const std::string& text) {
  EnsureHost();
  if (!host_->Rich()) return;
  QTextCursor cur(host_->Rich()->document());
  cur.movePosition(QTextCursor::End);
  cur.insertText(ToQ(text), host_->Rich()->currentCharFormat());
}
void CRichEditUI::SetSel(int start, int end) {
  EnsureHost();
  if (!host_->Rich()) return;
  QTextCursor cur(host_->Rich()->document());
  int len = static_cast<int>(host_->Text().size());
  start = std::clamp(start, 0, len);
  end = end < 0 ? len : std::clamp(end, 0, len);
  cur.setPosition(start);
  cur.setPosition(end, QTextCursor::KeepAnchor);
  host_->Rich()->setTextCursor(cur);
}
void CRichEditUI::ReplaceSel(const std::string& text) {
  EnsureHost();
  if (host_->Rich()) host_->Rich()->textCursor().insertText(ToQ(text));
}
std::string CRichEditUI::GetSelText() const {
  if (!host_ || !host_->Rich()) return {};
  QString s = host_->Rich()->textCursor().selectedText();
  s.replace(QChar(0x2029), QChar('\n'));
  return FromQ(s);
}
void CRichEditUI::SetAttribute(const std::string& name, const std::string& value) {
  if (name == "wantreturn") wantReturn_ = ParseBool(value);
  else if (name == "wanttab") wantTab_ = ParseBool(value);
  else CEditBaseUI::SetAttribute(name, value);
}

// ---- list ----

std::string CListLabelElementUI::GetClass() const { return "ListLabelElementUI"; }
void* CListLabelElementUI::GetInterface(const std::string& name) {
  if (name == "ListLabelElement" || name == "ListItem") return this;
  return CLabelUI::GetInterface(name);
}
SIZE CListLabelElementUI::EstimateSize(SIZE) {
  int h = GetFixedHeight();
  if (h == 0) {
    auto* list = parent_ ? static_cast<CListUI*>(parent_->GetInterface("List")) : nullptr;
    h = Scale(list ? list->GetItemHeight() : 24);
  }
  return {GetFixedWidth(), h};
}
void CListLabelElementUI::DoEvent(TEventUI& event) {
  auto* list = parent_ ? static_cast<CListUI*>(parent_->GetInterface("List")) : nullptr;
  if (TrackHot(event, hot_)) return;
  switch (event.Type) {
    case UIEVENT_BUTTONDOWN:
      if (list && IsEnabled()) {
        list->SelectItem(list->GetItemIndex(this));
        list->SetFocus();  // the keys that follow move through the list
      }
      return;
    case UIEVENT_DBLCLICK:
      if (manager_) manager_->SendNotify(this, "itemactivate");
      return;
    default:
      CLabelUI::DoEvent(event);
  }
}
void CListLabelElementUI::PaintBkColor(CRenderContext& ctx) {
  auto* list = parent_ ? static_cast<CListUI*>(parent_->GetInterface("List")) : nullptr;
  if (selected_ && list) ctx.FillRect(rcItem_, list->GetSelectedItemBkColor());
  else if (hot_ && list) ctx.FillRect(rcItem_, list->GetHotItemBkColor());
  else CLabelUI::PaintBkColor(ctx);
}

CListUI::CListUI() { vScroll_ = true; }
std::string CListUI::GetClass() const { return "ListUI"; }
void* CListUI::GetInterface(const std::string& name) {
  if (name == "List") return this;
  return CVerticalLayoutUI::GetInterface(name);
}

void CListLabelElementUI::SetSelectedFlag(bool s) {
  if (selected_ == s) return;
  selected_ = s;
  Invalidate();
  AccessibleControlChanged(this, AccessibleChange::Selected);
}

bool CListUI::SelectItem(int index, bool triggerEvent) {
  if (index == curSel_) return true;
  if (index < -1 || index >= GetCount()) return false;
  int old = curSel_;
  if (auto* prev = GetItemAt(curSel_)) {
    if (auto* e = static_cast<CListLabelElementUI*>(prev->GetInterface("ListLabelElement"))) e->SetSelectedFlag(false);
  }
  curSel_ = index;
  if (auto* cur = GetItemAt(curSel_)) {
    if (auto* e = static_cast<CListLabelElementUI*>(cur->GetInterface("ListLabelElement"))) e->SetSelectedFlag(true);
    // Keep the selected row in view.
    RECT rc = cur->GetPos();
    SIZE pos = scrollPos_;
    if (rc.top < rcItem_.top) pos.cy -= rcItem_.top - rc.top;
    else if (rc.bottom > rcItem_.bottom) pos.cy += rc.bottom - rcItem_.bottom;
    if (!(pos == scrollPos_)) SetScrollPos(pos);
  }
  if (triggerEvent && manager_) manager_->SendNotify(this, DUI_MSGTYPE_ITEMSELECT, static_cast<WPARAM>(curSel_), old);
  return true;
}

bool CListUI::Remove(CControlUI* control, bool doNotDestroy) {
  int i = GetItemIndex(control);
  if (i < 0) return false;
  return RemoveAt(i, doNotDestroy);
}
bool CListUI::RemoveAt(int index, bool doNotDestroy) {
  if (!CContainerUI::RemoveAt(index, doNotDestroy)) return false;
  if (index == curSel_) curSel_ = -1;
  else if (index < curSel_) --curSel_;
  return true;
}
void CListUI::RemoveAll() {
  curSel_ = -1;
  CContainerUI::RemoveAll();
}
void CListUI::DoEvent(TEventUI& event) {
  if (event.Type == UIEVENT_KEYDOWN) {
    int row = RowForKey(*this, curSel_, event.wParam);
    if (row >= 0) SelectItem(row);
    return;
  }
  CVerticalLayoutUI::DoEvent(event);
}

void CListUI::SetAttribute(const std::string& name, const std::string& value) {
  if (name == "itemselectedbkcolor") selectedBk_ = ParseColor(value);
  else if (name == "itemhotbkcolor") hotBk_ = ParseColor(value);
  else if (name == "itemheight") itemHeight_ = std::max(1, ParseInt(value));
  else CVerticalLayoutUI::SetAttribute(name, value);
}

// ---- combo ----

CComboUI::CComboUI() {
  bkColor_ = 0xFFFFFFFF;
  borderColor_ = 0xFFA0A0A0;
  borderSize_ = 1;
}
std::string CComboUI::GetClass() const { return "ComboUI"; }
void* CComboUI::GetInterface(const std::string& name) {
  if (name == "Combo") return this;
  return CContainerUI::GetInterface(name);
}
std::string CComboUI::GetText() const {
  CControlUI* c = GetItemAt(curSel_);
  return c ? c->GetText() : std::string();
}
bool CComboUI::SelectItem(int index, bool triggerEvent) {
  if (index == curSel_) return true;
  if (index < -1 || index >= GetCount()) return false;
  int old = curSel_;
  curSel_ = index;
  Invalidate();
  AccessibleControlChanged(this, AccessibleChange::Value);
  if (triggerEvent && manager_) manager_->SendNotify(this, DUI_MSGTYPE_ITEMSELECT, static_cast<WPARAM>(curSel_), old);
  return true;
}
void CComboUI::SetPos(RECT rc, bool needInvalidate) {
  // The rows live in the drop-down, not in the box.
  CControlUI::SetPos(rc, needInvalidate);
}
bool CComboUI::Remove(CControlUI* control, bool doNotDestroy) {
  const int i = GetItemIndex(control);
  if (i < 0) return false;
  return RemoveAt(i, doNotDestroy);
}
bool CComboUI::RemoveAt(int index, bool doNotDestroy) {
  if (!CContainerUI::RemoveAt(index, doNotDestroy)) return false;
  if (index == curSel_) curSel_ = -1;
  else if (index < curSel_) --curSel_;
  Invalidate();
  return true;
}
void CComboUI::RemoveAll() {
  curSel_ = -1;
  CContainerUI::RemoveAll();
}
CControlUI* CComboUI::FindControl(FINDCONTROLPROC proc, void* data, UINT flags) {
  if (flags & UIFIND_HITTEST) return CControlUI::FindControl(proc, data, flags);
  return CContainerUI::FindControl(proc, data, flags);
}
bool CComboUI::Activate() {
  if (!CControlUI::Activate() || !manager_ || !manager_->GetWindow() || !manager_->GetWindow()->Host()) return false;
  if (drop_) return true;  // already open
  drop_ = new CComboWnd(this);
  CComboWnd* wnd = drop_;
  wnd->Open();  // may fail and close at once, which clears drop_
  return true;
}
HWND CComboUI::GetDropWindow() const { return drop_ ? drop_->GetHWND() : nullptr; }
void CComboUI::DropClosed(CComboWnd* wnd) {
  if (drop_ == wnd) drop_ = nullptr;
}
CComboUI::~CComboUI() {
  if (drop_) drop_->OwnerGone();
}
void CComboUI::DoEvent(TEventUI& event) {
  if (TrackHot(event, hot_)) return;
  switch (event.Type) {
    case UIEVENT_BUTTONDOWN:
      if (IsEnabled()) Activate();
      return;
    case UIEVENT_SCROLLWHEEL: {
      int next = curSel_ + (event.wParam > 0 ? -1 : 1);
      if (next >= 0 && next < GetCount()) SelectItem(next);
      return;
    }
    case UIEVENT_KEYDOWN: {
      if (event.wParam == static_cast<WPARAM>(VK_SPACE) || event.wParam == static_cast<WPARAM>(VK_RETURN)) {
        Activate();
        return;
      }
      int row = RowForKey(*this, curSel_, event.wParam);
      if (row >= 0) SelectItem(row);
      return;
    }
    default:
      CControlUI::DoEvent(event);
  }
}
void CComboUI::PaintStatusImage(CRenderContext& ctx) {
  if (!(hot_ && DrawImage(ctx, hotImage_))) DrawImage(ctx, normalImage_);
}
void CComboUI::DoPaint(CRenderContext& ctx, const RECT&) {
  PaintBkColor(ctx);
  PaintBkImage(ctx);
  PaintStatusImage(ctx);
  RECT rc = rcItem_;
  rc.left += Scale(rcTextPadding_.left);
  rc.right -= Scale(rcTextPadding_.right);
  ctx.DrawText(rc, GetText(), textColor_, font_, DT_SINGLELINE | DT_VCENTER | DT_END_ELLIPSIS, false);
  // Drop-down arrow.
  int cx = rcItem_.right - Scale(10), cy = (rcItem_.top + rcItem_.bottom) / 2;
  QPolygon tri;
  tri << QPoint(cx - Scale(4), cy - Scale(2)) << QPoint(cx + Scale(4), cy - Scale(2)) << QPoint(cx, cy + Scale(3));
  ctx.p.save();
  ctx.p.setPen(Qt::NoPen);
  ctx.p.setBrush(ToQColor(IsEnabled() ? 0xFF505050 : 0xFFA0A0A0));
  ctx.p.drawPolygon(tri);
  ctx.p.restore();
  PaintBorder(ctx);
}
namespace {
void AppendAttribute(std::string& list, const std::string& name, std::string value) {
  value.erase(std::remove(value.begin(), value.end(), '"'), value.end());
  list += " " + name + "=\"" + value + "\"";
}
}  // namespace
// The drop-down's look: its list takes the item colours and height, its rows
// the item font, colour and padding. Later values win over the defaults.
bool CComboUI::SetDropAttribute(const std::string& name, const std::string& value) {
  if (name == "dropboxsize") {
    RECT rc = ParseRect(value);
    dropBoxSize_ = {rc.left, rc.top};
  } else if (name == "dropboxbkcolor") AppendAttribute(dropListAttrs_, "bkcolor", value);
  else if (name == "dropboxbordercolor") AppendAttribute(dropListAttrs_, "bordercolor", value);
  else if (name == "itemheight" || name == "itemselectedbkcolor" || name == "itemhotbkcolor")
    AppendAttribute(dropListAttrs_, name, value);
  else if (name == "itemtextcolor") AppendAttribute(dropItemAttrs_, "textcolor", value);
  else if (name == "itemtextpadding") AppendAttribute(dropItemAttrs_, "textpadding", value);
  else if (name == "itemfont") itemFont_ = ParseInt(value);
  else return false;
  return true;
}
void CComboUI::SetAttribute(const std::string& name, const std::string& value) {
  if (name == "font") font_ = ParseInt(value);
  else if (name == "textcolor") textColor_ = ParseColor(value);
  else if (name == "textpadding") rcTextPadding_ = ParseRect(value);
  else if (name == "normalimage") normalImage_ = value;
  else if (name == "hotimage") hotImage_ = value;
  else if (SetDropAttribute(name, value)) return;
  else if (name == "selectedid") {
    int i = ParseInt(value);
    curSel_ = i;  // rows are added later by the builder
  } else CContainerUI::SetAttribute(name, value);
}

}  // namespace DirectUI
