#include "workspace/select_language.h"

#include <algorithm>

namespace quillora::workspace {

using namespace DirectUI;

namespace {
constexpr char kCodeAttribute[] = "code";
}

SelectLanguage::~SelectLanguage() {
  if (listening_ && manager_) manager_->RemoveNotifier(this);
}

std::string SelectLanguage::GetClass() const { return kClassName; }

void* SelectLanguage::GetInterface(const std::string& name) {
  if (name == kClassName) return this;
  return CVerticalLayoutUI::GetInterface(name);
}

void SelectLanguage::DoInit() {
  if (manager_) listening_ = manager_->AddNotifier(this);
}

// The options are built when the picker first opens: a window shows it only
// on demand, and its first frame need not wait for them.
void SelectLanguage::EnsureContent() {
  if (contentBuilt_ || !manager_) return;
  contentBuilt_ = true;
  CDialogBuilder builder;
  if (CControlUI* content = builder.Create(kSkinFile, nullptr, manager_)) Add(content);
  CollectOptions();
}

void SelectLanguage::CollectOptions() {
  options_.clear();
  if (!manager_) return;
  // Tree order: when two options carry the same code, the later one wins.
  for (CControlUI* c : manager_->FindSubControlsByClass(this, "OptionUI")) {
    auto* option = static_cast<COptionUI*>(c->GetInterface("Option"));
    if (option) options_[c->GetCustomAttribute(kCodeAttribute)] = option;
  }
}

COptionUI* SelectLanguage::OptionFor(const std::string& code) {
  EnsureContent();
  auto it = options_.find(code);
  return it == options_.end() ? nullptr : it->second;
}

void SelectLanguage::ShowAt(CControlUI* anchor, const std::string& excludedCode) {
  if (!anchor) return;
  EnsureContent();
  for (auto& [code, option] : options_) option->SetEnabled(code != excludedCode);
  const std::string current = anchor->GetCustomAttribute(kCodeAttribute);
  COptionUI* chosen = OptionFor(current);
  if (!chosen) return;
  if (CControlUI* header = manager_->FindSubControlByName(this, "lb_init")) header->SetText(chosen->GetText());
  // The current language looks selected; picking it again simply closes.
  for (auto& [code, option] : options_) option->Selected(option == chosen, false);
  anchor_ = anchor;
  PlaceOver(anchor);
  // The anchor takes the focus before the picker shows, so that focus
  // change cannot read as the user leaving the open picker.
  manager_->SetFocus(anchor);
  SetVisible(true);
  manager_->SetFocus(this);
}

void SelectLanguage::PlaceOver(CControlUI* anchor) {
  // Floats sit relative to their parent; keep the whole picker inside it.
  const RECT parent = parent_ ? parent_->GetPos() : RECT{};
  const RECT at = anchor->GetPos();
  const int width = GetFixedWidth(), height = GetFixedHeight();
  const int x = std::max(0, std::min(at.left - parent.left, parent.Width() - width));
  const int y = std::max(0, std::min(at.top - parent.top, parent.Height() - height));
  const int scale = manager_->GetDPIScale();
  SetFixedXY({x * 100 / scale, y * 100 / scale});
  NeedParentUpdate();
}

void SelectLanguage::Hide() {
  if (IsOwnVisible()) SetVisible(false);
}

void SelectLanguage::HideIfOutside(POINT pt) {
  if (IsVisible() && !GetPos().Contains(pt.x, pt.y)) Hide();
}

bool SelectLanguage::Contains(CControlUI* control) const {
  for (CControlUI* c = control; c; c = c->GetParent()) {
    if (c == this) return true;
  }
  return false;
}

void SelectLanguage::Notify(TNotifyUI& msg) {
  if (msg.sType == DUI_MSGTYPE_SELECTCHANGED) {
    if (!anchor_ || !msg.pSender) return;
    const std::string code = msg.pSender->GetCustomAttribute(kCodeAttribute);
    if (OptionFor(code) != msg.pSender) return;  // another option group of the window
    anchor_->SetText(msg.pSender->GetText());
    SetLanguageCode(anchor_, code);
    anchor_ = nullptr;
    Hide();
  } else if (msg.sType == DUI_MSGTYPE_SETFOCUS) {
    if (IsVisible() && !Contains(msg.pSender)) Hide();
  }
}

SelectLanguage* SelectLanguage::Of(CControlUI* control) {
  CPaintManagerUI* pm = control ? control->GetManager() : nullptr;
  CControlUI* found = pm ? pm->FindControl(kControlName) : nullptr;
  return found ? static_cast<SelectLanguage*>(found->GetInterface(kClassName)) : nullptr;
}

void SetLanguageCode(CControlUI* button, const std::string& code) {
  button->RemoveCustomAttribute(kCodeAttribute);
  button->AddCustomAttribute(kCodeAttribute, code);
}

void SwapLanguages(CControlUI* source, CControlUI* dest) {
  const std::string sourceCaption = source->GetText(), sourceCode = source->GetCustomAttribute(kCodeAttribute);
  source->SetText(dest->GetText());
  SetLanguageCode(source, dest->GetCustomAttribute(kCodeAttribute));
  dest->SetText(sourceCaption);
  SetLanguageCode(dest, sourceCode);
}

}  // namespace quillora::workspace
