// Native editors are child widgets: Qt draws them above everything the
// window paints and gives them the clicks over their rectangle. Floating
// controls (a drop-down picker over a text box, a guide over the window) and
// overlays stacked in a plain container must win over them, so each editor
// is masked where such a control painted after it lies above it.
#include "ui/qt/qt_host.h"
#include "ui/ui_controls.h"

namespace DirectUI {

namespace {

// Visible controls in the order they are painted: a control, then its
// flowing children, then its floating children.
void CollectPaintOrder(CControlUI* c, std::vector<CControlUI*>& out) {
  if (!c || !c->IsVisible()) return;
  out.push_back(c);
  auto* box = static_cast<CContainerUI*>(c->GetInterface("Container"));
  if (!box || c->GetInterface("Combo")) return;  // a combo's rows live in its drop-down
  for (bool floating : {false, true})
    for (int i = 0; i < box->GetCount(); ++i)
      if (CControlUI* child = box->GetItemAt(i); child->IsFloat() == floating) CollectPaintOrder(child, out);
}

// Controls that may lie above what came before them: floats, and children
// of a plain container (which stacks them all on its whole area).
bool LiesAbove(const CControlUI* c) {
  return c->IsFloat() || (c->GetParent() && c->GetParent()->GetClass() == "ContainerUI");
}

bool IsAncestorOf(const CControlUI* ancestor, const CControlUI* c) {
  for (const CControlUI* p = c->GetParent(); p; p = p->GetParent())
    if (p == ancestor) return true;
  return false;
}

// A control's rectangle as painted: its ancestors clip it.
QRect PaintedRect(const CControlUI* c) {
  QRect r = ToQRect(c->GetPos());
  for (const CControlUI* p = c->GetParent(); p; p = p->GetParent()) r &= ToQRect(p->GetPos());
  return r;
}

}  // namespace

void CoverNativeEditors(CPaintManagerUI* pm) {
  std::vector<CControlUI*> order;
  CollectPaintOrder(pm->GetRoot(), order);
  for (size_t i = 0; i < order.size(); ++i) {
    auto* edit = dynamic_cast<CEditBaseUI*>(order[i]);
    if (!edit || !edit->NativeHost()) continue;
    const QRect area = ToQRect(edit->GetPos());
    QRegion cover;
    for (size_t j = i + 1; j < order.size(); ++j) {
      const CControlUI* above = order[j];
      if (!LiesAbove(above) || IsAncestorOf(above, edit)) continue;
      const QRect part = PaintedRect(above) & area;
      if (!part.isEmpty()) cover += part;
    }
    if (edit->NativeHost()->SetCover(cover)) edit->UpdateNativeWidget();
  }
}

}  // namespace DirectUI
