#include "workspace/trans_page.h"

#include <algorithm>
#include <utility>

#include "service/trans_task_manager.h"
#include "workspace/file_info.h"
#include "workspace/file_too_big_tip.h"
#include "workspace/page_services.h"
#include "workspace/select_language.h"
#include "workspace/task_bridge.h"

namespace quillora::workspace {

using namespace DirectUI;

namespace {

constexpr char kExportCaption[] = "导出文件";
constexpr char kCheckFileCaption[] = "请检测文件";

bool IsFinalNotification(const std::string& type) {
  return type == kNotifySucceeded || type == kNotifyFailed || type == kNotifyParamsFailed;
}

std::string PercentText(uint64_t sent, uint64_t total) {
  return std::to_string(total ? std::min<uint64_t>(100, sent * 100 / total) : 0) + "%";
}

}  // namespace

TransPage::~TransPage() {
  if (listening_ && manager_) manager_->RemoveNotifier(this);
}

void* TransPage::GetInterface(const std::string& name) {
  if (name == "TransPage") return this;
  return CVerticalLayoutUI::GetInterface(name);
}

void TransPage::DoInit() {
  if (manager_) listening_ = manager_->AddNotifier(this);
  LookUpControls();
  ApplyInitialState();
}

CControlUI* TransPage::Find(const std::string& name) const {
  return manager_ ? manager_->FindSubControlByName(const_cast<TransPage*>(this), name) : nullptr;
}

void TransPage::LookUpControls() {
  btnSource_ = FindAs<CButtonUI>("btnSource", "Button");
  btnDest_ = FindAs<CButtonUI>("btnDest", "Button");
  lyDest_ = FindAs<CTabLayoutUI>("ly_dest", "TabLayout");
  lbDestName_ = FindAs<CLabelUI>("lb_dest_name", "Label");
  btnExport_ = FindAs<CButtonUI>("btn_export", "Button");
  edOutput_ = FindAs<CRichEditUI>("ed_output", "RichEdit");
  lbProgress_ = FindAs<CLabelUI>("lb_progress", "Label");
  lbProgressDetail_ = FindAs<CLabelUI>("lb_progress_detail", "Label");
  progressTrack_ = Find("ly_progress");
  progressFill_ = Find("ctl_progress_fill");
}

bool TransPage::Owns(CControlUI* control) const {
  for (CControlUI* c = control; c; c = c->GetParent()) {
    if (c == this) return true;
  }
  return false;
}

void TransPage::Notify(TNotifyUI& msg) {
  if (msg.pSender == this) {
    if (IsFinalNotification(msg.sType)) HandleTaskNotification(msg);
    else if (msg.sType == kNotifyTaskProgress) ShowProgress(ProgressOf(msg));
    return;
  }
  if (msg.sType != DUI_MSGTYPE_CLICK || !Owns(msg.pSender)) return;
  const std::string& name = msg.pSender->GetName();
  if (HandleLanguageClick(name)) return;
  if (name == "btnTrans") StartTranslation();
  else if (name == "btn_export") RevealResult();
  else OnClick(name);
}

bool TransPage::HandleLanguageClick(const std::string& name) {
  if (name == "btnChange") {
    SwapLanguages(btnSource_, btnDest_);
    return true;
  }
  CButtonUI* anchor = name == "btnSource" ? btnSource_ : name == "btnDest" ? btnDest_ : nullptr;
  if (!anchor) return false;
  CButtonUI* other = anchor == btnSource_ ? btnDest_ : btnSource_;
  if (SelectLanguage* picker = SelectLanguage::Of(this)) picker->ShowAt(anchor, other->GetCustomAttribute("code"));
  return true;
}

void TransPage::HandleTaskNotification(TNotifyUI& msg) {
  std::unique_ptr<TransTask> task = TakeTaskRecord(msg);
  if (!task) return;
  // A task the page gave up on (file cleared or replaced meanwhile): its
  // result belongs to no file the page shows.
  if (task.get() != pending_) return;
  pending_ = nullptr;
  pendingId_ = 0;
  OnTaskFinished(std::move(task), msg.sType == kNotifySucceeded);
}

void TransPage::SubmitTask(std::unique_ptr<TransTask> task) {
  task->notifyTarget = this;
  task->sourceLang = btnSource_->GetCustomAttribute("code");
  task->targetLang = btnDest_->GetCustomAttribute("code");
  pending_ = task.get();
  ResetProgress();
  pendingId_ = PageTaskManager().AddTask(std::move(task));
}

void TransPage::AbandonTask() {
  pending_ = nullptr;
  pendingId_ = 0;
}

void TransPage::ShowOutcome(const TransTask& task, bool success) {
  resultPath_ = success ? task.resultPath : std::string();
  if (success) {
    edOutput_->SetTextColor(kResultColor);
    edOutput_->SetFont(kResultFont);
    edOutput_->SetText(task.resultText);
  } else {
    edOutput_->SetText(kFailureText);
    edOutput_->SetTextColor(kFailureColor);
    edOutput_->SetFont(kFailureFont);
  }
  btnExport_->SetText(success ? kExportCaption : kCheckFileCaption);
  const std::string name = success ? FileNameOf(resultPath_) : std::string();
  lbDestName_->SetText(name);
  lbDestName_->SetToolTip(name);
}

void TransPage::RevealResult() {
  if (!resultPath_.empty()) RevealFile(resultPath_);
}

void TransPage::ShowTooBigNotice(int mode) {
  FileTooBigTip::ShowModalOver(manager_ ? manager_->GetPaintWindow() : nullptr, mode);
}

void TransPage::ResetProgress() {
  if (lbProgress_) lbProgress_->SetText("排队中");
  if (lbProgressDetail_) lbProgressDetail_->SetText("");
  SetProgressFraction(0);
}

void TransPage::ShowProgress(const TaskProgress& progress) {
  if (pending_ == nullptr || progress.taskId != pendingId_) return;
  std::string title, detail;
  double fraction = 0;
  switch (progress.stage) {
    case TaskStage::kQueued:
      title = "排队中";
      if (progress.queuePosition > 0) detail = "前面还有 " + std::to_string(progress.queuePosition) + " 个任务";
      break;
    case TaskStage::kUploading:
      title = "上传中 " + PercentText(progress.bytesSent, progress.bytesTotal);
      if (progress.bytesTotal > 0)
        detail = FormatFileSize(progress.bytesSent) + " / " + FormatFileSize(progress.bytesTotal);
      fraction = progress.bytesTotal ? static_cast<double>(progress.bytesSent) / progress.bytesTotal : 0;
      break;
    case TaskStage::kWaitingForService:
      title = "等待翻译";
      fraction = 1;
      break;
    case TaskStage::kDownloading:
      title = "下载结果";
      fraction = 1;
      break;
  }
  if (lbProgress_) lbProgress_->SetText(title);
  if (lbProgressDetail_) lbProgressDetail_->SetText(detail);
  SetProgressFraction(fraction);
}

void TransPage::SetProgressFraction(double fraction) {
  progressFraction_ = std::clamp(fraction, 0.0, 1.0);
  UpdateProgressFill();
}

void TransPage::SetPos(RECT rc, bool needInvalidate) {
  CVerticalLayoutUI::SetPos(rc, needInvalidate);
  UpdateProgressFill();
}

void TransPage::UpdateProgressFill() {
  if (!progressTrack_ || !progressFill_ || !manager_) return;
  // The fill is a share of the track's laid-out width, in skin units; a
  // change lays the page out once more, after which it stays put.
  const int trackUnits = progressTrack_->GetWidth() * 100 / manager_->GetDPIScale();
  const int width = std::max(1, static_cast<int>(progressFraction_ * trackUnits));
  progressFill_->SetVisible(progressFraction_ > 0);
  if (progressFill_->GetFixedWidth() != manager_->ScaleValue(width)) progressFill_->SetFixedWidth(width);
}

}  // namespace quillora::workspace
