#pragma once
// The three file pages: documents (DocTransPage, "DocTransPage.xml"), audio
// and video (MusicTransPage, "MusicTransPage.xml") and pictures
// (PicTransPage, "PicTransPage.xml"). One design; FilePageKind holds what
// differs. The main window creates each page from its skin, adds it to
// "ly_main", hands it dropped files with AcceptDrop while it is the current
// tab, and asks IsEmpty after a tab switch to decide whether the window
// accepts drops.
//
// Controls besides the shared ones (trans_page.h): "ly_source" (tab layout:
// 0 no file, 1 chosen file), "btnAddFile", "btn_re_add", "btn_delete",
// "lb_source_name"; the document page adds "ly_icon1", "ly_icon2" (file-type
// icons: 0 Word, 1 Excel, 2 PowerPoint, 3 PDF) and "lb_size"; the audio page
// "lb_size", "con_hide", "lb_hide", "lb_dest"; the picture page "con_hide",
// "lb_hide", "lb_dest" and "lb_image" (the picture itself).
#include <span>
#include <string>
#include <string_view>

#include "workspace/trans_page.h"

namespace quillora::workspace {

enum class FilePageState { kEmpty = 0, kFileChosen = 1, kTranslating = 2, kFinished = 3 };

struct FilePageKind {
  const char* className;
  const char* skinFile;
  std::span<const std::string_view> extensions;  // accepted on drops, dots included
  const char* filterText;
  const char* filterPattern;
  const char* taskType;
  bool outputExtFromSource;  // else "txt"
  const char* paraInfo;
  bool isDocument;
  bool hasIcons;       // ly_icon1 / ly_icon2
  bool hasSizeLabel;   // lb_size
  bool hasHideLabel;   // con_hide / lb_hide / lb_dest; name label fitted to its text
  bool hasPreview;     // lb_image shows the picture
};

class FileTransPage : public TransPage {
 public:
  explicit FileTransPage(const FilePageKind& kind) : kind_(kind) {}
  std::string GetClass() const override;
  void* GetInterface(const std::string& name) override;

  const FilePageKind& Kind() const { return kind_; }
  FilePageState State() const { return state_; }
  bool IsEmpty() const { return state_ == FilePageState::kEmpty; }
  const std::string& SourcePath() const { return sourcePath_; }

  // Files dropped on the window while this page is shown: the first regular
  // file with an accepted extension becomes the source. Ignored unless the
  // page is empty.
  void AcceptDrop(DirectUI::HDROP drop);
  // The toolkit's open-file dialog with the page's filter; any file may be
  // chosen. Ignored while translating.
  void ChooseFile();
  // Makes `path` the source file (as a dialog choice would).
  void SetSourceFile(const std::string& path);
  // Forgets the source file.
  void ClearFile();

  // The largest width, in skin units, that the fitted name label may take
  // before it ends in an ellipsis; 0 means no limit.
  static constexpr int kNameMaxWidth = 360;

 protected:
  void LookUpControls() override;
  void ApplyInitialState() override;
  void OnClick(const std::string& name) override;
  void StartTranslation() override;
  void OnTaskFinished(std::unique_ptr<TransTask> task, bool success) override;

 private:
  void SetState(FilePageState state);
  void ShowFileInfo();
  void SelectIcon();

  const FilePageKind& kind_;
  FilePageState state_ = FilePageState::kEmpty;
  std::string sourcePath_;

  DirectUI::CTabLayoutUI* lySource_ = nullptr;
  DirectUI::CTabLayoutUI* lyIcon1_ = nullptr;
  DirectUI::CTabLayoutUI* lyIcon2_ = nullptr;
  DirectUI::CLabelUI* lbSourceName_ = nullptr;
  DirectUI::CLabelUI* lbSize_ = nullptr;
  DirectUI::CLabelUI* lbHide_ = nullptr;
  DirectUI::CControlUI* conHide_ = nullptr;
  DirectUI::CControlUI* lbDest_ = nullptr;
  DirectUI::CControlUI* lbImage_ = nullptr;
  DirectUI::CControlUI* fileButtons_[3] = {};
};

class DocTransPage : public FileTransPage {
 public:
  static const FilePageKind kKind;
  DocTransPage() : FileTransPage(kKind) {}
};

class MusicTransPage : public FileTransPage {
 public:
  static const FilePageKind kKind;
  MusicTransPage() : FileTransPage(kKind) {}
};

class PicTransPage : public FileTransPage {
 public:
  static const FilePageKind kKind;
  PicTransPage() : FileTransPage(kKind) {}
};

// Sets a label's text and makes its width follow it. When the text is wider
// than maxWidth (skin units, > 0) the label is held at maxWidth, ends in an
// ellipsis and shows the full text as its tooltip.
void FitLabelToText(DirectUI::CLabelUI* label, const std::string& text, int maxWidth = 0);

}  // namespace quillora::workspace
