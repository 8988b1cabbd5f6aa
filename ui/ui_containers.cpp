#include "ui/ui_containers.h"

#include <algorithm>
#include <cstdlib>

#include "ui/qt/qt_host.h"
#include "ui/ui_attr.h"
#include "ui/ui_manager.h"

namespace DirectUI {

CContainerUI::~CContainerUI() {
  // Children first, while this container is still whole.
  auto items = std::move(items_);
  items_.clear();
  if (autoDestroy_)
    for (auto* c : items) delete c;
}

std::string CContainerUI::GetClass() const { return "ContainerUI"; }
void* CContainerUI::GetInterface(const std::string& name) {
  if (name == "Container") return this;
  return CControlUI::GetInterface(name);
}

CControlUI* CContainerUI::GetItemAt(int index) const {
  if (index < 0 || index >= GetCount()) return nullptr;
  return items_[static_cast<size_t>(index)];
}
int CContainerUI::GetItemIndex(CControlUI* control) const {
  auto it = std::find(items_.begin(), items_.end(), control);
  return it == items_.end() ? -1 : static_cast<int>(it - items_.begin());
}
bool CContainerUI::SetItemIndex(CControlUI* control, int index) {
  int cur = GetItemIndex(control);
  if (cur < 0 || index < 0 || index >= GetCount()) return false;
  items_.erase(items_.begin() + cur);
  items_.insert(items_.begin() + index, control);
  NeedUpdate();
  return true;
}

bool CContainerUI::Add(CControlUI* control) { return AddAt(control, GetCount()); }

bool CContainerUI::AddAt(CControlUI* control, int index) {
  if (!control || index < 0 || index > GetCount()) return false;
  if (GetItemIndex(control) >= 0) return false;
  items_.insert(items_.begin() + index, control);
  if (manager_) {
    manager_->InitControls(control, this);
  } else {
    control->SetManager(nullptr, this, false);
  }
  control->SetInternVisible(IsVisible());
  NeedUpdate();
  return true;
}

bool CContainerUI::Remove(CControlUI* control, bool doNotDestroy) {
  int i = GetItemIndex(control);
  if (i < 0) return false;
  return CContainerUI::RemoveAt(i, doNotDestroy);
}

bool CContainerUI::RemoveAt(int index, bool doNotDestroy) {
  CControlUI* c = GetItemAt(index);
  if (!c) return false;
  items_.erase(items_.begin() + index);
  if (autoDestroy_ && !doNotDestroy) {
    delete c;
  } else if (manager_) {
    manager_->ReapObjects(c);
    c->SetManager(nullptr, nullptr, false);
  }
  NeedUpdate();
  return true;
}

void CContainerUI::RemoveAll() {
  while (!items_.empty()) CContainerUI::RemoveAt(GetCount() - 1);
  scrollPos_ = {};
  NeedUpdate();
}

CControlUI* CContainerUI::FindSubControl(const std::string& name) {
  return manager_ ? manager_->FindSubControlByName(this, name) : nullptr;
}

RECT CContainerUI::GetInset() const {
  return {Scale(rcInset_.left), Scale(rcInset_.top), Scale(rcInset_.right), Scale(rcInset_.bottom)};
}
void CContainerUI::SetInset(RECT rc) {
  rcInset_ = rc;
  NeedUpdate();
}
int CContainerUI::GetChildPadding() const { return Scale(childPadding_); }
void CContainerUI::SetChildPadding(int padding) {
  childPadding_ = std::max(0, padding);
  NeedUpdate();
}

void CContainerUI::EnableScroll(bool vertical, bool horizontal) {
  vScroll_ = vertical;
  hScroll_ = horizontal;
  NeedUpdate();
}

void CContainerUI::SetScrollPos(SIZE pos) {
  pos.cx = std::clamp(pos.cx, 0, scrollRange_.cx);
  pos.cy = std::clamp(pos.cy, 0, scrollRange_.cy);
  if (pos == scrollPos_) return;
  scrollPos_ = pos;
  SetPos(rcItem_, true);
}

void CContainerUI::ProcessScroll(SIZE content, RECT avail) {
  scrollRange_.cy = vScroll_ ? std::max(0, content.cy - avail.Height()) : 0;
  scrollRange_.cx = hScroll_ ? std::max(0, content.cx - avail.Width()) : 0;
  scrollPos_.cy = std::clamp(scrollPos_.cy, 0, scrollRange_.cy);
  scrollPos_.cx = std::clamp(scrollPos_.cx, 0, scrollRange_.cx);
}

void CContainerUI::SetVisible(bool visible) {
  if (visible_ == visible) return;
  CControlUI::SetVisible(visible);
  for (auto* c : items_) c->SetInternVisible(IsVisible());
}

void CContainerUI::SetInternVisible(bool visible) {
  CControlUI::SetInternVisible(visible);
  for (auto* c : items_) c->SetInternVisible(IsVisible());
}

void CContainerUI::SetEnabled(bool enable) {
  CControlUI::SetEnabled(enable);
}

void CContainerUI::SetManager(CPaintManagerUI* manager, CControlUI* parent, bool init) {
  // Children first: a container's own init step may look its children up.
  for (auto* c : items_) c->SetManager(manager, this, init);
  CControlUI::SetManager(manager, parent, init);
}

CControlUI* CContainerUI::FindControl(FINDCONTROLPROC proc, void* data, UINT flags) {
  if ((flags & UIFIND_VISIBLE) && !IsVisible()) return nullptr;
  if ((flags & UIFIND_ENABLED) && !IsEnabled()) return nullptr;
  if (flags & UIFIND_HITTEST) {
    auto* pt = static_cast<POINT*>(data);
    if (!rcItem_.Contains(pt->x, pt->y)) return nullptr;
    // Topmost first: floating children and later children lie above.
    for (auto it = items_.rbegin(); it != items_.rend(); ++it) {
      if (!(*it)->IsFloat()) continue;
      if (auto* r = (*it)->FindControl(proc, data, flags)) return r;
    }
    for (auto it = items_.rbegin(); it != items_.rend(); ++it) {
      if ((*it)->IsFloat()) continue;
      if (auto* r = (*it)->FindControl(proc, data, flags)) return r;
    }
    return mouseEnabled_ ? proc(this, data) : nullptr;
  }
  if (flags & UIFIND_ME_FIRST) {
    if (auto* r = proc(this, data)) return r;
  }
  for (auto* c : items_) {
    if (auto* r = c->FindControl(proc, data, flags)) return r;
  }
  if (!(flags & UIFIND_ME_FIRST)) return proc(this, data);
  return nullptr;
}

void CContainerUI::SetFloatPos(CControlUI* child) {
  // Floating children sit at their position relative to the container's
  // top-left corner, with their fixed size.
  RECT place;
  if (child->GetFloatPlace(place)) {
    child->SetPosFromLayout({rcItem_.left + place.left, rcItem_.top + place.top, rcItem_.left + place.right,
                             rcItem_.top + place.bottom});
    return;
  }
  SIZE xy = child->GetFixedXY();
  int w = child->GetFixedWidth(), h = child->GetFixedHeight();
  RECT rc{rcItem_.left + xy.cx, rcItem_.top + xy.cy, 0, 0};
  rc.right = rc.left + w;
  rc.bottom = rc.top + h;
  child->SetPosFromLayout(rc);
}

void CContainerUI::SetPos(RECT rc, bool needInvalidate) {
  CControlUI::SetPos(rc, needInvalidate);
  RECT in = DeflateRect(rc, GetInset());
  for (auto* c : items_) {
    if (!c->IsVisible()) continue;
    if (c->IsFloat()) {
      SetFloatPos(c);
      continue;
    }
    c->SetPos(DeflateRect(in, c->GetPadding()), false);
  }
}

void CContainerUI::DoPaint(CRenderContext& ctx, const RECT& paint) {
  QRect clip = ToQRect(rcItem_).intersected(ToQRect(paint));
  if (clip.isEmpty()) return;
  PaintContent(ctx);
  if (items_.empty()) {
    PaintBorder(ctx);
    return;
  }
  ctx.p.save();
  RECT inner = DeflateRect(rcItem_, GetInset());
  ctx.p.setClipRect(ToQRect(rcItem_), Qt::IntersectClip);
  for (auto* c : items_) {
    if (!c->IsVisible() || c->IsFloat()) continue;
    if (!ToQRect(c->GetPos()).intersects(clip)) continue;
    ctx.p.save();
    ctx.p.setClipRect(ToQRect(inner), Qt::IntersectClip);
    c->DoPaint(ctx, paint);
    ctx.p.restore();
  }
  for (auto* c : items_) {
    if (!c->IsVisible() || !c->IsFloat()) continue;
    c->DoPaint(ctx, paint);
  }
  ctx.p.restore();
  PaintScrollBars(ctx);
  PaintBorder(ctx);
}

void CContainerUI::PaintScrollBars(CRenderContext& ctx) {
  if (scrollRange_.cy > 0) {
    int h = rcItem_.Height();
    int total = h + scrollRange_.cy;
    int thumb = std::max(Scale(16), h * h / total);
    int top = rcItem_.top + (h - thumb) * scrollPos_.cy / scrollRange_.cy;
    RECT rc{rcItem_.right - Scale(6), top, rcItem_.right - Scale(2), top + thumb};
    ctx.FillRect(rc, 0x80808080);
  }
  if (scrollRange_.cx > 0) {
    int w = rcItem_.Width();
    int total = w + scrollRange_.cx;
    int thumb = std::max(Scale(16), w * w / total);
    int left = rcItem_.left + (w - thumb) * scrollPos_.cx / scrollRange_.cx;
    RECT rc{left, rcItem_.bottom - Scale(6), left + thumb, rcItem_.bottom - Scale(2)};
    ctx.FillRect(rc, 0x80808080);
  }
}

void CContainerUI::DoEvent(TEventUI& event) {
  if (event.Type == UIEVENT_SCROLLWHEEL && (scrollRange_.cy > 0 || scrollRange_.cx > 0)) {
    int step = Scale(40) * (event.wParam > 0 ? -1 : 1);
    SIZE pos = scrollPos_;
    if (scrollRange_.cy > 0) pos.cy += step;
    else pos.cx += step;
    SetScrollPos(pos);
    return;
  }
  CControlUI::DoEvent(event);
}

void CContainerUI::SetAttribute(const std::string& name, const std::string& value) {
  if (name == "inset") SetInset(ParseRect(value));
  else if (name == "childpadding") SetChildPadding(ParseInt(value));
  else if (name == "vscrollbar") EnableScroll(ParseBool(value), hScroll_);
  else if (name == "hscrollbar") EnableScroll(vScroll_, ParseBool(value));
  else if (name == "mousechild") { /* children always receive the mouse */ }
  else CControlUI::SetAttribute(name, value);
}

// ---- vertical ----

std::string CVerticalLayoutUI::GetClass() const { return "VerticalLayoutUI"; }
void* CVerticalLayoutUI::GetInterface(const std::string& name) {
  if (name == "VerticalLayout") return this;
  return CContainerUI::GetInterface(name);
}

namespace {

// One axis of a linear layout: fixed items keep their size, flexible items
// (size 0) share what is left equally, within their min/max.
struct LayoutSlot {
  CControlUI* c;
  int size;  // along the axis
  bool flexible;
  int lo, hi;
};

}  // namespace

void CVerticalLayoutUI::SetPos(RECT rc, bool needInvalidate) {
  CControlUI::SetPos(rc, needInvalidate);
  LayOutLine(rc, true);
}

// ---- horizontal ----

std::string CHorizontalLayoutUI::GetClass() const { return "HorizontalLayoutUI"; }
void* CHorizontalLayoutUI::GetInterface(const std::string& name) {
  if (name == "HorizontalLayout") return this;
  return CContainerUI::GetInterface(name);
}

void CHorizontalLayoutUI::SetPos(RECT rc, bool needInvalidate) {
  CControlUI::SetPos(rc, needInvalidate);
  LayOutLine(rc, false);
}

// ---- line layout shared by both directions ----

void CContainerUI::LayOutLine(RECT rc, bool vertical) {
  // "Along" is the layout's direction, "across" the other one.
  auto along = [vertical](SIZE sz) { return vertical ? sz.cy : sz.cx; };
  auto across = [vertical](SIZE sz) { return vertical ? sz.cx : sz.cy; };
  auto padAlong = [vertical](RECT p) { return vertical ? p.top + p.bottom : p.left + p.right; };
  auto padAcross = [vertical](RECT p) { return vertical ? p.left + p.right : p.top + p.bottom; };

  RECT in = DeflateRect(rc, GetInset());
  // A scrolling layout leaves room for its bar beside the content.
  if (vertical && scrollRange_.cy > 0 && vScroll_) in.right -= Scale(8);
  if (!vertical && scrollRange_.cx > 0 && hScroll_) in.bottom -= Scale(8);
  int availW = std::max(0, in.Width()), availH = std::max(0, in.Height());
  int availAlong = vertical ? availH : availW, availAcross = vertical ? availW : availH;
  int pad = GetChildPadding();
  // A child is offered the whole length and the breadth its padding leaves.
  auto estimate = [&](CControlUI* c, RECT p) {
    return c->EstimateSize(vertical ? SIZE{availW - padAcross(p), availH} : SIZE{availW, availH - padAcross(p)});
  };

  std::vector<LayoutSlot> lanes;
  int fixedTotal = 0;
  for (auto* c : items_) {
    if (!c->IsVisible()) continue;
    if (c->IsFloat()) {
      SetFloatPos(c);
      continue;
    }
    RECT p = c->GetPadding();
    int size = along(estimate(c, p));
    LayoutSlot s{c, size, size == 0, vertical ? c->GetMinHeight() : c->GetMinWidth(),
                 vertical ? c->GetMaxHeight() : c->GetMaxWidth()};
    if (!s.flexible) {
      s.size = std::clamp(s.size, s.lo, std::max(s.lo, s.hi));
      fixedTotal += s.size;
    }
    fixedTotal += padAlong(p);
    lanes.push_back(s);
  }
  if (!lanes.empty()) fixedTotal += pad * static_cast<int>(lanes.size() - 1);

  // Flexible items share the remainder; one clamped by its min/max leaves the
  // others a different share, so settle those first.
  int remaining = availAlong - fixedTotal;
  std::vector<LayoutSlot*> flex;
  for (auto& s : lanes)
    if (s.flexible) flex.push_back(&s);
  bool changed = true;
  while (changed && !flex.empty()) {
    changed = false;
    int share = std::max(0, remaining) / static_cast<int>(flex.size());
    for (auto it = flex.begin(); it != flex.end(); ++it) {
      LayoutSlot* s = *it;
      int clamped = std::clamp(share, s->lo, std::max(s->lo, s->hi));
      if (clamped != share) {
        s->size = clamped;
        remaining -= clamped;
        flex.erase(it);
        changed = true;
        break;
      }
    }
  }
  if (!flex.empty()) {
    int share = std::max(0, remaining) / static_cast<int>(flex.size());
    int extra = std::max(0, remaining) - share * static_cast<int>(flex.size());
    for (auto* s : flex) {
      s->size = share + (extra > 0 ? 1 : 0);
      if (extra > 0) --extra;
    }
  }

  int content = 0;
  for (auto& s : lanes) content += s.size + padAlong(s.c->GetPadding());
  if (!lanes.empty()) content += pad * static_cast<int>(lanes.size() - 1);
  ProcessScroll(vertical ? SIZE{availW, content} : SIZE{content, availH}, in);

  int at = vertical ? in.top - scrollPos_.cy : in.left - scrollPos_.cx;
  for (auto& s : lanes) {
    RECT p = s.c->GetPadding();
    int room = availAcross - padAcross(p);
    int breadth = across(estimate(s.c, p));
    if (breadth == 0) breadth = room;
    int lo = vertical ? s.c->GetMinWidth() : s.c->GetMinHeight();
    int hi = vertical ? s.c->GetMaxWidth() : s.c->GetMaxHeight();
    breadth = std::min(std::clamp(breadth, lo, std::max(lo, hi)), std::max(0, room));
    if (vertical) {
      at += p.top;
      s.c->SetPos({in.left + p.left, at, in.left + p.left + breadth, at + s.size}, false);
      at += s.size + p.bottom + pad;
    } else {
      at += p.left;
      s.c->SetPos({at, in.top + p.top, at + s.size, in.top + p.top + breadth}, false);
      at += s.size + p.right + pad;
    }
  }
}

// ---- tab ----

std::string CTabLayoutUI::GetClass() const { return "TabLayoutUI"; }
void* CTabLayoutUI::GetInterface(const std::string& name) {
  if (name == "TabLayout") return this;
  return CContainerUI::GetInterface(name);
}

bool CTabLayoutUI::Add(CControlUI* control) { return AddAt(control, GetCount()); }

bool CTabLayoutUI::AddAt(CControlUI* control, int index) {
  if (!CContainerUI::AddAt(control, index)) return false;
  if (curSel_ < 0) {
    curSel_ = index;
    control->SetVisible(true);
  } else {
    if (index <= curSel_) ++curSel_;
    control->SetVisible(false);
  }
  if (index == pendingSel_) SelectItem(index);
  return true;
}

bool CTabLayoutUI::Remove(CControlUI* control, bool doNotDestroy) {
  int i = GetItemIndex(control);
  if (i < 0) return false;
  if (!CContainerUI::RemoveAt(i, doNotDestroy)) return false;
  if (GetCount() == 0) {
    curSel_ = -1;
  } else if (i == curSel_) {
    curSel_ = -1;
    SelectItem(std::min(i, GetCount() - 1));
  } else if (i < curSel_) {
    --curSel_;
  }
  return true;
}

void CTabLayoutUI::RemoveAll() {
  CContainerUI::RemoveAll();
  curSel_ = -1;
}

bool CTabLayoutUI::SelectItem(int index) {
  if (index < 0 || index >= GetCount()) return false;
  if (index == curSel_) return true;
  int old = curSel_;
  curSel_ = index;
  for (int i = 0; i < GetCount(); ++i) items_[static_cast<size_t>(i)]->SetVisible(i == index);
  NeedParentUpdate();
  NeedUpdate();
  if (manager_) {
    manager_->SetFocus(nullptr);
    manager_->SendNotify(this, DUI_MSGTYPE_TABSELECT, static_cast<WPARAM>(curSel_), old);
  }
  return true;
}

bool CTabLayoutUI::SelectItem(CControlUI* control) { return SelectItem(GetItemIndex(control)); }

void CTabLayoutUI::SetAttribute(const std::string& name, const std::string& value) {
  if (name == "selectedid") {
    int i = ParseInt(value);
    pendingSel_ = i;
    if (i >= 0 && i < GetCount()) SelectItem(i);
  } else {
    CContainerUI::SetAttribute(name, value);
  }
}

}  // namespace DirectUI
