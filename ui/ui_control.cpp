#include "ui/ui_control.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "ui/qt/qt_host.h"
#include "ui/ui_attr.h"
#include "ui/ui_manager.h"

namespace DirectUI {

bool CEventSource::operator()(void* param) const {
  // Copy: a handler may subscribe or clear while running.
  auto handlers = handlers_;
  for (auto& h : handlers) {
    if (h && !h(param)) return false;
  }
  return true;
}

TImageInfo TImageInfo::Parse(const std::string& attr) {
  TImageInfo info;
  if (attr.find('=') == std::string::npos) {
    info.file = attr;
    return info;
  }
  for (auto& [key, value] : ParseAttributeList(attr, '\'')) {
    if (key == "file" || key == "res") {
      info.file = value;
    } else if (key == "source") {
      info.source = ParseRect(value);
      info.hasSource = true;
    } else if (key == "dest") {
      info.dest = ParseRect(value);
      info.hasDest = true;
    } else if (key == "corner") {
      info.corner = ParseRect(value);
    } else if (key == "fade") {
      info.fade = std::clamp(ParseInt(value), 0, 255);
    }
  }
  return info;
}

CControlUI::CControlUI() = default;

CControlUI::~CControlUI() {
  OnDestroy(this);
  if (manager_) manager_->ReapObjects(this);
}

std::string CControlUI::GetClass() const { return "ControlUI"; }

void* CControlUI::GetInterface(const std::string& name) {
  if (name == "Control") return this;
  return nullptr;
}

void CControlUI::SetName(const std::string& name) {
  if (name == name_) return;
  std::string old = name_;
  name_ = name;
  if (manager_) manager_->NameChanged(this, old);
}

void CControlUI::SetManager(CPaintManagerUI* manager, CControlUI* parent, bool init) {
  manager_ = manager;
  parent_ = parent;
  if (init && parent) Init();
}

void CControlUI::Init() {
  if (initialised_) return;
  initialised_ = true;
  DoInit();
  OnInit(this);
}

CControlUI* CControlUI::FindControl(FINDCONTROLPROC proc, void* data, UINT flags) {
  if ((flags & UIFIND_VISIBLE) && !IsVisible()) return nullptr;
  if ((flags & UIFIND_ENABLED) && !IsEnabled()) return nullptr;
  if ((flags & UIFIND_HITTEST)) {
    auto* pt = static_cast<POINT*>(data);
    if (!rcItem_.Contains(pt->x, pt->y) || !mouseEnabled_) return nullptr;
  }
  return proc(this, data);
}

std::string CControlUI::GetText() const { return text_; }

void CControlUI::SetText(const std::string& text) {
  if (text == text_) return;
  text_ = text;
  Invalidate();
  AccessibleControlChanged(this, AccessibleChange::Name);
}

int CControlUI::Scale(int v) const { return manager_ ? manager_->ScaleValue(v) : v; }

void CControlUI::SetPos(RECT rc, bool needInvalidate) {
  if (rc.right < rc.left) rc.right = rc.left;
  if (rc.bottom < rc.top) rc.bottom = rc.top;
  if (float_ && !layingOut_ && parent_) RememberFloatPlace(rc);
  if (needInvalidate && !(rc == rcItem_)) Invalidate();
  rcItem_ = rc;
  updateNeeded_ = false;
  if (needInvalidate) Invalidate();
  UpdateNativeWidget();
}

void CControlUI::SetPosFromLayout(RECT rc) {
  layingOut_ = true;
  SetPos(rc, false);
  layingOut_ = false;
}

void CControlUI::RememberFloatPlace(const RECT& rc) {
  const RECT& p = parent_->GetPos();
  floatPlace_ = {rc.left - p.left, rc.top - p.top, rc.right - p.left, rc.bottom - p.top};
  floatPlaceScale_ = manager_ ? manager_->GetDPIScale() : 100;
  floatPlaced_ = true;
  // Editors under the float, and the float's new neighbours, follow.
  if (manager_) manager_->NeedUpdate();
}

bool CControlUI::GetFloatPlace(RECT& rc) const {
  if (!floatPlaced_) return false;
  const int scale = manager_ ? manager_->GetDPIScale() : floatPlaceScale_;
  auto rescale = [&](int v) { return scale == floatPlaceScale_ ? v : v * scale / floatPlaceScale_; };
  rc = {rescale(floatPlace_.left), rescale(floatPlace_.top), rescale(floatPlace_.right), rescale(floatPlace_.bottom)};
  return true;
}

RECT CControlUI::GetPadding() const {
  return {Scale(rcPadding_.left), Scale(rcPadding_.top), Scale(rcPadding_.right), Scale(rcPadding_.bottom)};
}
void CControlUI::SetPadding(RECT rc) {
  rcPadding_ = rc;
  NeedParentUpdate();
}
SIZE CControlUI::GetFixedXY() const { return {Scale(xy_.cx), Scale(xy_.cy)}; }
void CControlUI::SetFixedXY(SIZE xy) {
  xy_ = xy;
  floatPlaced_ = false;  // moved again: the skin position counts
  NeedParentUpdate();
}
int CControlUI::GetFixedWidth() const { return Scale(fixed_.cx); }
void CControlUI::SetFixedWidth(int cx) {
  if (cx < 0) return;
  fixed_.cx = cx;
  if (floatPlaced_) floatPlace_.right = floatPlace_.left + cx * floatPlaceScale_ / 100;
  NeedParentUpdate();
}
int CControlUI::GetFixedHeight() const { return Scale(fixed_.cy); }
void CControlUI::SetFixedHeight(int cy) {
  if (cy < 0) return;
  fixed_.cy = cy;
  if (floatPlaced_) floatPlace_.bottom = floatPlace_.top + cy * floatPlaceScale_ / 100;
  NeedParentUpdate();
}
int CControlUI::GetMinWidth() const { return Scale(min_.cx); }
void CControlUI::SetMinWidth(int cx) {
  if (cx < 0) return;
  min_.cx = cx;
  NeedParentUpdate();
}
int CControlUI::GetMaxWidth() const { return Scale(max_.cx); }
void CControlUI::SetMaxWidth(int cx) {
  if (cx < 0) return;
  max_.cx = cx;
  NeedParentUpdate();
}
int CControlUI::GetMinHeight() const { return Scale(min_.cy); }
void CControlUI::SetMinHeight(int cy) {
  if (cy < 0) return;
  min_.cy = cy;
  NeedParentUpdate();
}
int CControlUI::GetMaxHeight() const { return Scale(max_.cy); }
void CControlUI::SetMaxHeight(int cy) {
  if (cy < 0) return;
  max_.cy = cy;
  NeedParentUpdate();
}
void CControlUI::SetFloat(bool f) {
  if (f == float_) return;
  float_ = f;
  NeedParentUpdate();
}

SIZE CControlUI::EstimateSize(SIZE) { return {GetFixedWidth(), GetFixedHeight()}; }

void CControlUI::SetVisible(bool visible) {
  if (visible_ == visible) return;
  bool was = IsVisible();
  visible_ = visible;
  if (focused_ && !visible && manager_) manager_->SetFocus(nullptr);
  if (IsVisible() != was) NeedParentUpdate();
  UpdateNativeWidget();
}

void CControlUI::SetInternVisible(bool visible) {
  internVisible_ = visible;
  if (!visible && focused_ && manager_) manager_->SetFocus(nullptr);
  UpdateNativeWidget();
}

void CControlUI::SetEnabled(bool enable) {
  if (enabled_ == enable) return;
  enabled_ = enable;
  Invalidate();
}

void CControlUI::SetFocus() {
  if (manager_) manager_->SetFocus(this);
}

bool CControlUI::Activate() { return IsVisible() && IsEnabled(); }

void CControlUI::SetBkColor(DWORD c) {
  bkColor_ = c;
  Invalidate();
}
void CControlUI::SetBkImage(const std::string& image) {
  if (image == bkImage_) return;
  bkImage_ = image;
  Invalidate();
}
void CControlUI::SetBorderColor(DWORD c) {
  borderColor_ = c;
  Invalidate();
}
void CControlUI::SetBorderSize(int size) {
  borderSize_ = std::max(0, size);
  Invalidate();
}
void CControlUI::SetBorderRound(SIZE round) {
  borderRound_ = round;
  Invalidate();
}

void CControlUI::SetAttribute(const std::string& name, const std::string& value) {
  if (name == "name") SetName(value);
  else if (name == "text") SetText(value);
  else if (name == "tooltip") SetToolTip(value);
  else if (name == "pos") {
    RECT rc = ParseRect(value);
    xy_ = {rc.left, rc.top};
    fixed_ = {rc.right - rc.left, rc.bottom - rc.top};
    floatPlaced_ = false;
    NeedParentUpdate();
  } else if (name == "float") SetFloat(ParseBool(value));
  else if (name == "padding") SetPadding(ParseRect(value));
  else if (name == "width") SetFixedWidth(ParseInt(value));
  else if (name == "height") SetFixedHeight(ParseInt(value));
  else if (name == "minwidth") SetMinWidth(ParseInt(value));
  else if (name == "maxwidth") SetMaxWidth(ParseInt(value));
  else if (name == "minheight") SetMinHeight(ParseInt(value));
  else if (name == "maxheight") SetMaxHeight(ParseInt(value));
  else if (name == "visible") SetVisible(ParseBool(value));
  else if (name == "enabled") SetEnabled(ParseBool(value));
  else if (name == "mouse") SetMouseEnabled(ParseBool(value));
  else if (name == "keyboard") keyboardEnabled_ = ParseBool(value);
  else if (name == "bkcolor") SetBkColor(ParseColor(value));
  else if (name == "bkimage") SetBkImage(value);
  else if (name == "bordercolor") SetBorderColor(ParseColor(value));
  else if (name == "bordersize") SetBorderSize(ParseInt(value));
  else if (name == "borderround") {
    RECT rc = ParseRect(value);
    SetBorderRound({rc.left, rc.top});
  } else if (name == "userdata") SetUserData(value);
  else AddCustomAttribute(name, value);
}

void CControlUI::SetAttributeList(const std::string& list) {
  for (auto& [k, v] : ParseAttributeList(list, '"')) SetAttribute(k, v);
}

void CControlUI::AddCustomAttribute(const std::string& name, const std::string& value) {
  if (name.empty()) return;
  custom_[name] = value;
}
std::string CControlUI::GetCustomAttribute(const std::string& name) const {
  auto it = custom_.find(name);
  return it == custom_.end() ? std::string() : it->second;
}
bool CControlUI::HasCustomAttribute(const std::string& name) const { return custom_.count(name) != 0; }
bool CControlUI::RemoveCustomAttribute(const std::string& name) { return custom_.erase(name) != 0; }

void CControlUI::Invalidate() {
  if (manager_ && IsVisible()) manager_->Invalidate(rcItem_);
}

void CControlUI::NeedUpdate() {
  if (!IsVisible()) return;
  updateNeeded_ = true;
  if (manager_) manager_->NeedUpdate();
}

void CControlUI::NeedParentUpdate() {
  if (parent_) {
    parent_->NeedUpdate();
  } else {
    NeedUpdate();
  }
  if (manager_) manager_->NeedUpdate();
}

void CControlUI::DoPaint(CRenderContext& ctx, const RECT&) {
  PaintContent(ctx);
  PaintBorder(ctx);
}

void CControlUI::PaintContent(CRenderContext& ctx) {
  const bool round = borderRound_.cx > 0 || borderRound_.cy > 0;
  if (round) {
    QPainterPath path;
    path.addRoundedRect(ToQRect(rcItem_), Scale(borderRound_.cx) / 2.0, Scale(borderRound_.cy) / 2.0);
    ctx.p.save();
    ctx.p.setClipPath(path, Qt::IntersectClip);
  }
  PaintBkColor(ctx);
  PaintBkImage(ctx);
  PaintStatusImage(ctx);
  PaintText(ctx);
  if (round) ctx.p.restore();
}

void CControlUI::PaintBkColor(CRenderContext& ctx) {
  if (bkColor_ != 0) ctx.FillRect(rcItem_, bkColor_);
}
void CControlUI::PaintBkImage(CRenderContext& ctx) {
  if (!bkImage_.empty()) DrawImage(ctx, bkImage_);
}
void CControlUI::PaintStatusImage(CRenderContext&) {}
void CControlUI::PaintText(CRenderContext&) {}
void CControlUI::PaintBorder(CRenderContext& ctx) {
  if (borderSize_ > 0 && borderColor_ != 0)
    ctx.DrawBorder(rcItem_, borderColor_, Scale(borderSize_), {Scale(borderRound_.cx), Scale(borderRound_.cy)});
}

bool CControlUI::DrawImage(CRenderContext& ctx, const std::string& image) {
  if (image.empty()) return false;
  // Made ready before the first layout: the size the skin fixes, if any.
  const RECT rc = ctx.warmOnly && rcItem_.IsEmpty() ? RECT{0, 0, GetFixedWidth(), GetFixedHeight()} : rcItem_;
  return ctx.DrawImage(rc, TImageInfo::Parse(image));
}

void CControlUI::Event(TEventUI& event) {
  if (!OnEvent(&event)) return;
  DoEvent(event);
}

bool CControlUI::TrackHot(const TEventUI& event, bool& hot) {
  if (event.Type != UIEVENT_MOUSEENTER && event.Type != UIEVENT_MOUSELEAVE) return false;
  hot = event.Type == UIEVENT_MOUSEENTER;
  Invalidate();
  return true;
}

void CControlUI::DoEvent(TEventUI& event) {
  switch (event.Type) {
    case UIEVENT_SETFOCUS:
      focused_ = true;
      Invalidate();
      return;
    case UIEVENT_KILLFOCUS:
      focused_ = false;
      Invalidate();
      return;
    case UIEVENT_SCROLLWHEEL:
      if (parent_) parent_->DoEvent(event);
      return;
    default:
      return;
  }
}

}  // namespace DirectUI
