// Screen-reader access: each toolkit window answers Qt's accessibility
// queries with its control tree, so readers (AT-SPI on Linux) see buttons,
// labels, options, lists and combos, not only the native editors.
//
// Interfaces are made on first query and kept per control until the control
// goes; nothing is done while no reader asks, so windows cost the same to
// build and paint with or without the bridge.
#include <QAccessible>
#include <QAccessibleActionInterface>
#include <QAccessibleWidget>
#include <QTextDocumentFragment>
#include <functional>
#include <unordered_map>

#include "ui/qt/qt_host.h"
#include "ui/ui_controls.h"
#include "ui/ui_menu.h"

namespace DirectUI {

namespace {

// Control → id of its registered interface. UI thread only.
std::unordered_map<CControlUI*, QAccessible::Id>& Registry() {
  static std::unordered_map<CControlUI*, QAccessible::Id> ids;
  return ids;
}

// Where change events go instead of Qt's bridge, for tests (offscreen has no
// bridge, so Qt would drop them). UI thread only.
std::function<void(QAccessibleEvent*)>& EventSink() {
  static std::function<void(QAccessibleEvent*)> sink;
  return sink;
}

void Deliver(QAccessibleEvent* event) {
  if (EventSink()) EventSink()(event);
  else QAccessible::updateAccessibility(event);
}

bool Is(CControlUI* c, const char* iface) { return c->GetInterface(iface) != nullptr; }

// Layout containers only arrange their children; readers see through them.
bool IsLayoutOnly(CControlUI* c) {
  if (!Is(c, "Container") || Is(c, "List") || Is(c, "Combo") || Is(c, "Menu")) return false;
  return c->GetText().empty() && c->GetToolTip().empty();
}

// The visible children a reader sees under c, layouts flattened.
void CollectChildren(CControlUI* c, std::vector<CControlUI*>& out) {
  auto* box = static_cast<CContainerUI*>(c->GetInterface("Container"));
  if (!box || Is(c, "Combo")) return;  // a combo's rows live in its drop-down
  for (int i = 0; i < box->GetCount(); ++i) {
    CControlUI* child = box->GetItemAt(i);
    if (!child->IsVisible()) continue;
    if (IsLayoutOnly(child)) CollectChildren(child, out);
    else out.push_back(child);
  }
}

std::vector<CControlUI*> ChildrenOf(CControlUI* c) {
  std::vector<CControlUI*> out;
  if (c) CollectChildren(c, out);
  return out;
}

// The editor widget hosted for an edit control, found by the owner mark the
// editor carries.
QWidget* NativeEditorOf(CWindowHost* host, CControlUI* c) {
  for (QWidget* w : host->findChildren<QWidget*>(Qt::FindDirectChildrenOnly))
    if (w->property("duiEditOwner").value<void*>() == static_cast<void*>(static_cast<CEditBaseUI*>(c))) return w;
  return nullptr;
}

std::string PlainText(CControlUI* c) {
  auto* label = static_cast<CLabelUI*>(c->GetInterface("Label"));
  if (label && label->IsShowHtml()) return FromQ(QTextDocumentFragment::fromHtml(ToQ(c->GetText())).toPlainText());
  return c->GetText();
}

QAccessibleInterface* InterfaceFor(CWindowHost* host, CControlUI* c);

class ControlAccessible : public QAccessibleInterface, public QAccessibleActionInterface {
 public:
  ControlAccessible(CWindowHost* host, CControlUI* c) : host_(host), c_(c) {}

  bool isValid() const override {
    return host_ && host_->Manager() && Registry().count(c_) && c_->GetManager() == host_->Manager();
  }
  QObject* object() const override { return nullptr; }
  QWindow* window() const override { return host_ ? host_->windowHandle() : nullptr; }

  QAccessibleInterface* parent() const override {
    if (!isValid()) return nullptr;
    CControlUI* root = host_->Manager()->GetRoot();
    for (CControlUI* p = c_->GetParent(); p; p = p->GetParent()) {
      if (p == root) break;
      if (!IsLayoutOnly(p)) return InterfaceFor(host_, p);
    }
    return QAccessible::queryAccessibleInterface(host_.data());
  }
  int childCount() const override { return isValid() ? static_cast<int>(ChildrenOf(c_).size()) : 0; }
  QAccessibleInterface* child(int index) const override {
    if (!isValid()) return nullptr;
    auto kids = ChildrenOf(c_);
    return index >= 0 && index < static_cast<int>(kids.size()) ? InterfaceFor(host_, kids[index]) : nullptr;
  }
  int indexOfChild(const QAccessibleInterface* child) const override {
    if (!isValid() || !child) return -1;
    auto kids = ChildrenOf(c_);
    for (size_t i = 0; i < kids.size(); ++i)
      if (InterfaceFor(host_, kids[i]) == child) return static_cast<int>(i);
    return -1;
  }
  QAccessibleInterface* childAt(int x, int y) const override {
    if (!isValid()) return nullptr;
    for (CControlUI* k : ChildrenOf(c_)) {
      QAccessibleInterface* iface = InterfaceFor(host_, k);
      if (iface && iface->rect().contains(x, y)) return iface;
    }
    return nullptr;
  }

  QString text(QAccessible::Text t) const override {
    if (!isValid()) return {};
    const std::string text = PlainText(c_);
    switch (t) {
      case QAccessible::Name:
        if (Is(c_, "Combo")) return ToQ(c_->GetToolTip().empty() ? c_->GetName() : c_->GetToolTip());
        return ToQ(text.empty() ? c_->GetToolTip() : text);
      case QAccessible::Description:
        return text.empty() ? QString() : ToQ(c_->GetToolTip());
      case QAccessible::Value:
        return Is(c_, "Combo") ? ToQ(c_->GetText()) : QString();
      default:
        return {};
    }
  }
  void setText(QAccessible::Text, const QString&) override {}

  QRect rect() const override {
    if (!isValid()) return {};
    QRect r = ToQRect(c_->GetPos());
    return QRect(host_->mapToGlobal(r.topLeft()), r.size());
  }

  QAccessible::Role role() const override {
    if (!isValid()) return QAccessible::NoRole;
    if (Is(c_, "Combo")) return QAccessible::ComboBox;
    if (Is(c_, "List")) return QAccessible::List;
    if (Is(c_, "ListItem")) return QAccessible::ListItem;
    if (Is(c_, "Menu")) return QAccessible::PopupMenu;
    if (Is(c_, "MenuElement")) return QAccessible::MenuItem;
    if (auto* o = static_cast<COptionUI*>(c_->GetInterface("Option")))
      return o->GetGroup().empty() ? QAccessible::CheckBox : QAccessible::RadioButton;
    if (Is(c_, "Button")) return QAccessible::Button;
    if (Is(c_, "Label")) return QAccessible::StaticText;
    if (Is(c_, "Container")) return QAccessible::Grouping;
    return c_->GetBkImage().empty() ? QAccessible::Client : QAccessible::Graphic;
  }

  QAccessible::State state() const override {
    QAccessible::State s;
    if (!isValid()) {
      s.invalid = true;
      return s;
    }
    s.invisible = !c_->IsVisible();
    s.disabled = !c_->IsEnabled();
    s.focused = c_->IsFocused();
    s.focusable = c_->IsKeyboardEnabled() && (Is(c_, "Button") || Is(c_, "List") || Is(c_, "Combo"));
    if (auto* o = static_cast<COptionUI*>(c_->GetInterface("Option"))) {
      s.checkable = true;
      s.checked = o->IsSelected();
    }
    if (auto* row = static_cast<CListLabelElementUI*>(c_->GetInterface("ListLabelElement"))) {
      s.selectable = true;
      s.selected = row->IsSelected();
    }
    if (Is(c_, "Combo")) s.hasPopup = true;
    return s;
  }

  void* interface_cast(QAccessible::InterfaceType t) override {
    return t == QAccessible::ActionInterface ? static_cast<QAccessibleActionInterface*>(this) : nullptr;
  }

  QStringList actionNames() const override {
    if (!isValid() || !c_->IsEnabled()) return {};
    if (Is(c_, "Option")) return {pressAction(), toggleAction()};
    if (Is(c_, "Combo")) return {pressAction(), showMenuAction()};
    if (Is(c_, "Button") || Is(c_, "ListItem") || Is(c_, "MenuElement")) return {pressAction()};
    return {};
  }
  void doAction(const QString& action) override {
    if (!actionNames().contains(action)) return;
    // The handler may close the window and destroy this control.
    if (Is(c_, "ListItem")) {
      if (auto* list = c_->GetParent() ? static_cast<CListUI*>(c_->GetParent()->GetInterface("List")) : nullptr)
        list->SelectItem(list->GetItemIndex(c_));
      return;
    }
    if (auto* item = static_cast<CMenuElementUI*>(c_->GetInterface("MenuElement"))) {
      if (auto* wnd = dynamic_cast<CMenuWnd*>(c_->GetManager()->GetWindow())) wnd->ItemClicked(item);
      return;
    }
    c_->Activate();
  }
  QStringList keyBindingsForAction(const QString&) const override { return {}; }

 private:
  QPointer<CWindowHost> host_;
  CControlUI* c_;
};

QAccessibleInterface* InterfaceFor(CWindowHost* host, CControlUI* c) {
  if (Is(c, "Edit") || Is(c, "RichEdit")) {
    if (QWidget* editor = NativeEditorOf(host, c)) return QAccessible::queryAccessibleInterface(editor);
  }
  auto it = Registry().find(c);
  if (it != Registry().end()) return QAccessible::accessibleInterface(it->second);
  auto* iface = new ControlAccessible(host, c);
  Registry()[c] = 0;  // known before registration, which may ask isValid
  Registry()[c] = QAccessible::registerAccessibleInterface(iface);
  return iface;
}

// The window: its children are the control tree, not its child widgets.
class HostAccessible : public QAccessibleWidget {
 public:
  explicit HostAccessible(CWindowHost* host) : QAccessibleWidget(host, QAccessible::Window), host_(host) {}

  int childCount() const override { return static_cast<int>(Kids().size()); }
  QAccessibleInterface* child(int index) const override {
    auto kids = Kids();
    return index >= 0 && index < static_cast<int>(kids.size()) ? InterfaceFor(host_, kids[index]) : nullptr;
  }
  int indexOfChild(const QAccessibleInterface* child) const override {
    auto kids = Kids();
    for (size_t i = 0; i < kids.size(); ++i)
      if (InterfaceFor(host_, kids[i]) == child) return static_cast<int>(i);
    return -1;
  }
  QAccessibleInterface* childAt(int x, int y) const override {
    for (CControlUI* k : Kids()) {
      QAccessibleInterface* iface = InterfaceFor(host_, k);
      if (iface && iface->rect().contains(x, y)) return iface;
    }
    return nullptr;
  }
  QString text(QAccessible::Text t) const override {
    if (t == QAccessible::Name && host_->windowTitle().isEmpty()) return host_->objectName();
    return QAccessibleWidget::text(t);
  }

 private:
  std::vector<CControlUI*> Kids() const {
    CControlUI* root = host_->Manager() ? host_->Manager()->GetRoot() : nullptr;
    if (!root || !root->IsVisible()) return {};
    if (IsLayoutOnly(root)) return ChildrenOf(root);
    return {root};
  }
  CWindowHost* host_;
};

QAccessibleInterface* Factory(const QString&, QObject* object) {
  if (auto* host = dynamic_cast<CWindowHost*>(object)) return new HostAccessible(host);
  return nullptr;
}

}  // namespace

void InstallAccessibility() {
  static bool installed = false;
  if (installed) return;
  installed = true;
  QAccessible::installFactory(&Factory);
}

void SetAccessibleEventSinkForTest(std::function<void(QAccessibleEvent*)> sink) { EventSink() = std::move(sink); }

void AccessibleControlChanged(CControlUI* control, AccessibleChange change) {
  // Qt drops events while no platform bridge listens; building them then
  // would be wasted work on every focus move and text change.
  if (!EventSink() && !QAccessible::isActive()) return;
  if (!control || !control->GetManager()) return;
  CWindowWnd* window = control->GetManager()->GetWindow();
  CWindowHost* host = window ? window->Host() : nullptr;
  if (!host) return;
  // A change to a control the reader never asked about is not news; a focus
  // move is, because that is how a reader learns of a control at all.
  if (change != AccessibleChange::Focus && !Registry().count(control)) return;
  QAccessibleInterface* iface = InterfaceFor(host, control);
  if (!iface) return;
  switch (change) {
    case AccessibleChange::Focus: {
      QAccessibleEvent event(iface, QAccessible::Focus);
      Deliver(&event);
      break;
    }
    case AccessibleChange::Checked:
    case AccessibleChange::Selected: {
      QAccessible::State changed;
      if (change == AccessibleChange::Checked) changed.checked = true;
      else changed.selected = true;
      QAccessibleStateChangeEvent event(iface, changed);
      Deliver(&event);
      break;
    }
    case AccessibleChange::Name: {
      QAccessibleEvent event(iface, QAccessible::NameChanged);
      Deliver(&event);
      break;
    }
    case AccessibleChange::Value: {
      QAccessibleValueChangeEvent event(iface, iface->text(QAccessible::Value));
      Deliver(&event);
      break;
    }
  }
}

void AccessibleControlGone(CControlUI* control) {
  auto& ids = Registry();
  if (ids.empty()) return;
  auto it = ids.find(control);
  if (it == ids.end()) return;
  QAccessible::Id id = it->second;
  ids.erase(it);
  if (id) QAccessible::deleteAccessibleInterface(id);
}

}  // namespace DirectUI
