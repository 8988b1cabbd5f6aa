#include "workspace/file_trans_page.h"

#include <algorithm>
#include <utility>

#include "workspace/file_info.h"
#include "ui/ui_dialogs.h"

namespace quillora::workspace {

using namespace DirectUI;

namespace {

constexpr std::string_view kDocExtensions[] = {".doc", ".docx", ".xls", ".xlsx", ".ppt", ".pptx", ".pdf"};
constexpr std::string_view kMusicExtensions[] = {".mp3", ".avi", ".m4a", ".wma"};
constexpr std::string_view kPicExtensions[] = {".png", ".jpg", ".bmp"};

// The picture attribute that shows `path` whole, centred and undistorted in
// a control of `box` (skin units); empty when the path cannot be expressed
// in an attribute (it holds both "=" and "'").
std::string PreviewImage(CPaintManagerUI* pm, const std::string& path, SIZE box) {
  if (path.find('\'') != std::string::npos) return path.find('=') == std::string::npos ? path : std::string();
  const SIZE img = pm ? pm->GetImageSize(path) : SIZE{};
  std::string attr = "file='" + path + "'";
  if (img.cx <= 0 || img.cy <= 0 || box.cx <= 0 || box.cy <= 0) return attr;
  const double scale = std::min({1.0, static_cast<double>(box.cx) / img.cx, static_cast<double>(box.cy) / img.cy});
  const int w = std::max(1, static_cast<int>(img.cx * scale)), h = std::max(1, static_cast<int>(img.cy * scale));
  const int l = (box.cx - w) / 2, t = (box.cy - h) / 2;
  return attr + " dest='" + std::to_string(l) + "," + std::to_string(t) + "," + std::to_string(l + w) + "," +
         std::to_string(t + h) + "'";
}

}  // namespace

const FilePageKind DocTransPage::kKind{
    "DocTransPage", "DocTransPage.xml", kDocExtensions, "文档 (WORD, EXCEL, PPT, PDF)",
    "*.doc;*.docx;*.xls;*.xlsx;*.ppt;*.pptx;*.pdf", "fanyi", true, "tempfile:txt;maxlimit:char0page0;",
    true, true, true, false, false};
const FilePageKind MusicTransPage::kKind{
    "MusicTransPage", "MusicTransPage.xml", kMusicExtensions, "语音文件 (MP3, AVI, M4A, WMA)",
    "*.mp3;*.avi;*.m4a;*.wma;", "voicefanyi", false, "", false, false, true, true, false};
const FilePageKind PicTransPage::kKind{
    "PicTransPage", "PicTransPage.xml", kPicExtensions, "图片文件 (PNG, JPG, BMP)",
    "*.png;*.jpg;*.bmp;", "ocrfanyi", false, "", false, false, false, true, true};

std::string FileTransPage::GetClass() const { return kind_.className; }

void* FileTransPage::GetInterface(const std::string& name) {
  if (name == kind_.className || name == "FileTransPage") return this;
  return TransPage::GetInterface(name);
}

void FileTransPage::LookUpControls() {
  TransPage::LookUpControls();
  lySource_ = FindAs<CTabLayoutUI>("ly_source", "TabLayout");
  lyIcon1_ = FindAs<CTabLayoutUI>("ly_icon1", "TabLayout");
  lyIcon2_ = FindAs<CTabLayoutUI>("ly_icon2", "TabLayout");
  lbSourceName_ = FindAs<CLabelUI>("lb_source_name", "Label");
  lbSize_ = FindAs<CLabelUI>("lb_size", "Label");
  lbHide_ = FindAs<CLabelUI>("lb_hide", "Label");
  conHide_ = Find("con_hide");
  lbDest_ = Find("lb_dest");
  lbImage_ = Find("lb_image");
  fileButtons_[0] = Find("btnAddFile");
  fileButtons_[1] = Find("btn_re_add");
  fileButtons_[2] = Find("btn_delete");
}

void FileTransPage::ApplyInitialState() { SetState(FilePageState::kEmpty); }

void FileTransPage::OnClick(const std::string& name) {
  if (name == "btnAddFile" || name == "btn_re_add") ChooseFile();
  else if (name == "btn_delete") ClearFile();
}

void FileTransPage::SetState(FilePageState state) {
  if (state == state_) return;
  state_ = state;
  const int index = static_cast<int>(state);
  lySource_->SelectItem(state == FilePageState::kEmpty ? 0 : 1);
  lyDest_->SelectItem(std::max(0, index - 1));
  for (CControlUI* button : fileButtons_) button->SetEnabled(state != FilePageState::kTranslating);
  if (conHide_) conHide_->SetVisible(state == FilePageState::kFinished);
  if (lbHide_) lbHide_->SetVisible(state == FilePageState::kFinished);
  // Only the page on show speaks for the window; a task ending on a page
  // behind another tab must not change what the shown page accepts.
  CWindowWnd* window = manager_ ? manager_->GetWindow() : nullptr;
  if (window && IsVisible()) window->DragAcceptFiles(state == FilePageState::kEmpty);
}

void FileTransPage::AcceptDrop(HDROP drop) {
  if (state_ != FilePageState::kEmpty) return;
  for (UINT i = 0; i < DragQueryFileCount(drop); ++i) {
    const std::string path = DragQueryFile(drop, i);
    // Folders and devices are skipped like files of another kind.
    if (MatchExtension(path, kind_.extensions) < 0 || !RegularFileSize(path)) continue;
    SetSourceFile(path);
    return;
  }
}

void FileTransPage::ChooseFile() {
  if (state_ == FilePageState::kTranslating) return;
  OpenFileOptions options;
  options.filters = {{kind_.filterText, kind_.filterPattern}};
  options.filterIndex = 1;
  const std::string path = OpenFileDialog(manager_ ? manager_->GetPaintWindow() : nullptr, options);
  if (!path.empty()) SetSourceFile(path);
}

void FileTransPage::SetSourceFile(const std::string& path) {
  AbandonTask();
  sourcePath_ = path;
  ShowFileInfo();
  SetState(FilePageState::kFileChosen);
}

void FileTransPage::ClearFile() {
  AbandonTask();
  sourcePath_.clear();
  SetState(FilePageState::kEmpty);
}

void FileTransPage::ShowFileInfo() {
  if (sourcePath_.empty()) return;
  // An unreadable file keeps the size shown before; translating it fails.
  if (const auto size = RegularFileSize(sourcePath_); size && lbSize_) lbSize_->SetText(FormatFileSize(*size));
  const std::string name = FileNameOf(sourcePath_);
  if (kind_.hasHideLabel) {
    FitLabelToText(lbSourceName_, name, kNameMaxWidth);
    lbHide_->SetText(name);
    lbHide_->SetToolTip(name);
  } else {
    lbSourceName_->SetText(name);
    lbSourceName_->SetToolTip(name);
  }
  if (kind_.hasIcons) SelectIcon();
  if (lbImage_ && kind_.hasPreview) {
    const int scale = manager_->GetDPIScale();
    lbImage_->SetBkImage(PreviewImage(manager_, sourcePath_,
                                      {lbImage_->GetFixedWidth() * 100 / scale, lbImage_->GetFixedHeight() * 100 / scale}));
  }
  lbSourceName_->NeedParentUpdate();
}

void FileTransPage::SelectIcon() {
  // Extensions come in pairs per program (".doc", ".docx", ...), PDF last.
  const int match = MatchExtension(sourcePath_, kDocExtensions);
  if (match < 0) return;
  lyIcon1_->SelectItem(match / 2);
  lyIcon2_->SelectItem(match / 2);
}

void FileTransPage::StartTranslation() {
  if (state_ != FilePageState::kFileChosen && state_ != FilePageState::kFinished) return;
  if (!WithinSizeLimit(RegularFileSize(sourcePath_).value_or(0))) {
    ShowTooBigNotice(0);
    return;
  }
  SetState(FilePageState::kTranslating);
  resultPath_.clear();
  auto task = std::make_unique<TransTask>();
  task->sourcePath = sourcePath_;
  task->taskType = kind_.taskType;
  const std::string ext = ExtensionOf(sourcePath_);
  task->outputExt = kind_.outputExtFromSource ? (ext.empty() ? ext : ext.substr(1)) : "txt";
  task->limitSize = kDefaultLimitSize;
  task->paraInfo = kind_.paraInfo;
  task->isDocument = kind_.isDocument;
  SubmitTask(std::move(task));
}

void FileTransPage::OnTaskFinished(std::unique_ptr<TransTask> task, bool success) {
  ShowOutcome(*task, success);
  if (lyIcon2_) lyIcon2_->SetVisible(success);
  if (lbDest_) lbDest_->SetVisible(success);
  SetState(FilePageState::kFinished);
}

void FitLabelToText(CLabelUI* label, const std::string& text, int maxWidth) {
  CPaintManagerUI* pm = label->GetManager();
  const int scale = pm ? pm->GetDPIScale() : 100;
  label->SetText(text);
  const RECT pad = label->GetTextPadding();
  int width = (label->MeasureText(pm ? pm->ScaleValue(4000) : 4000).cx + pad.left + pad.right) * 100 / scale + 1;
  const bool clamp = maxWidth > 0 && width > maxWidth;
  if (clamp) width = maxWidth;
  label->SetAttribute("endellipsis", clamp ? "true" : "false");
  label->SetToolTip(clamp ? text : std::string());
  label->SetFixedWidth(width);
}

}  // namespace quillora::workspace
