#pragma once
// SelectLanguage (skin class "SelectLanguage", control name "SelectLanguage"):
// the one language picker of the main window, opened over whichever language
// button was clicked. Its options come from "SelectLanger.xml": every Option
// carries a language code in its custom attribute "code" and the language's
// display name as its caption. A language button is any button whose caption
// is a display name and whose "code" attribute is a code; the picker and the
// swap rewrite both. No code is known to the program itself.
//
// The element stands in the window's skin as a floating, initially hidden
// control; its width and height are the size of the open picker.
#include <map>
#include <string>

#include "ui/UIlib.h"

namespace quillora::workspace {

class SelectLanguage : public DirectUI::CVerticalLayoutUI, public DirectUI::INotifyUI {
 public:
  static constexpr char kClassName[] = "SelectLanguage";
  static constexpr char kControlName[] = "SelectLanguage";
  static constexpr char kSkinFile[] = "SelectLanger.xml";

  ~SelectLanguage() override;
  std::string GetClass() const override;
  void* GetInterface(const std::string& name) override;

  // Listens to the window; the options are built from the skin when first
  // needed.
  void DoInit() override;

  // Opens the picker over `anchor`, with the option of `excludedCode` (the
  // other button's language) disabled. Does nothing for a null anchor or an
  // anchor whose code the picker does not list.
  void ShowAt(DirectUI::CControlUI* anchor, const std::string& excludedCode);
  void Hide();
  // The main window calls this on every mouse move (client coordinates).
  void HideIfOutside(DirectUI::POINT pt);

  // "selectchanged" from one of the options picks it; "setfocus" outside the
  // picker closes it.
  void Notify(DirectUI::TNotifyUI& msg) override;

  DirectUI::CControlUI* Anchor() const { return anchor_; }
  // The option carrying `code`, or null.
  DirectUI::COptionUI* OptionFor(const std::string& code);
  size_t OptionCount() {
    EnsureContent();
    return options_.size();
  }

  // The picker of the window that `control` belongs to, or null.
  static SelectLanguage* Of(DirectUI::CControlUI* control);

 private:
  void EnsureContent();
  void CollectOptions();
  void PlaceOver(DirectUI::CControlUI* anchor);
  bool Contains(DirectUI::CControlUI* control) const;

  std::map<std::string, DirectUI::COptionUI*> options_;
  DirectUI::CControlUI* anchor_ = nullptr;
  bool listening_ = false;
  bool contentBuilt_ = false;
};

// Exchanges caption and "code" of two language buttons.
void SwapLanguages(DirectUI::CControlUI* source, DirectUI::CControlUI* dest);

// Sets a button's "code" attribute (replacing any earlier one).
void SetLanguageCode(DirectUI::CControlUI* button, const std::string& code);

}  // namespace quillora::workspace
