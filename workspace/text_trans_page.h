#pragma once
// TextTransPage ("TextTransPage.xml", item 3 of "ly_main"): translates the
// text typed into "ed_input" instead of a file. Never accepts dropped files
// and disables no buttons; "ed_input" is read-only while a task runs.
#include <string>

#include "workspace/trans_page.h"

namespace quillora::workspace {

enum class TextPageState { kEmpty = 0, kTranslating = 1, kFinished = 2 };

class TextTransPage : public TransPage {
 public:
  static constexpr char kClassName[] = "TextTransPage";
  static constexpr char kSkinFile[] = "TextTransPage.xml";
  // The longest text sent, in UTF-16 code units.
  static constexpr int kMaxTextUnits = 30000;

  std::string GetClass() const override;
  void* GetInterface(const std::string& name) override;

  TextPageState State() const { return state_; }
  // The document name the last click of "btnTrans" made ("fanyiwendang<n>.txt").
  const std::string& LastDocumentName() const { return documentName_; }

 protected:
  void LookUpControls() override;
  void ApplyInitialState() override;
  void OnClick(const std::string&) override {}
  void StartTranslation() override;
  void OnTaskFinished(std::unique_ptr<TransTask> task, bool success) override;

 private:
  void SetState(TextPageState state);

  TextPageState state_ = TextPageState::kEmpty;
  std::string documentName_;
  DirectUI::CRichEditUI* edInput_ = nullptr;
};

}  // namespace quillora::workspace
