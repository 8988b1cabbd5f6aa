#include "workspace/text_trans_page.h"

#include <utility>

namespace quillora::workspace {

using namespace DirectUI;

namespace {
// Numbers the text documents of this process; the service knows each text
// by its document name.
int g_documentCounter = 0;
}  // namespace

std::string TextTransPage::GetClass() const { return kClassName; }

void* TextTransPage::GetInterface(const std::string& name) {
  if (name == kClassName) return this;
  return TransPage::GetInterface(name);
}

void TextTransPage::LookUpControls() {
  TransPage::LookUpControls();
  edInput_ = FindAs<CRichEditUI>("ed_input", "RichEdit");
}

void TextTransPage::ApplyInitialState() { SetState(TextPageState::kEmpty); }

void TextTransPage::SetState(TextPageState state) {
  if (state == state_) return;
  state_ = state;
  lyDest_->SelectItem(static_cast<int>(state));
}

void TextTransPage::StartTranslation() {
  documentName_ = "fanyiwendang" + std::to_string(++g_documentCounter) + ".txt";
  if (state_ == TextPageState::kTranslating) return;
  // Counted, never cut: the user keeps the whole text to shorten it.
  if (edInput_->GetTextLength() > kMaxTextUnits) {
    ShowTooBigNotice(1);
    return;
  }
  const std::string text = edInput_->GetText();
  if (text.empty()) return;
  SetState(TextPageState::kTranslating);
  resultPath_.clear();
  auto task = std::make_unique<TransTask>();
  task->sourcePath = documentName_;
  task->taskType = "fanyi";
  task->sourceText = text;
  task->outputExt = "txt";
  task->limitSize = kDefaultLimitSize;
  task->isDocument = false;
  edInput_->SetReadOnly(true);
  SubmitTask(std::move(task));
}

void TextTransPage::OnTaskFinished(std::unique_ptr<TransTask> task, bool success) {
  ShowOutcome(*task, success);
  SetState(TextPageState::kFinished);
  edInput_->SetReadOnly(false);
}

}  // namespace quillora::workspace
