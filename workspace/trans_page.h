#pragma once
// TransPage: what the four translation pages share. A page is a vertical
// layout built from its own skin file and added to the main window's tab
// layout "ly_main"; it listens to all of the window's notifications and acts
// only on those of its own controls (names repeat across pages, so a page
// looks its controls up within itself) and on task notifications whose
// sender is the page itself.
//
// Shared controls: "btnSource", "btnDest" (language buttons, custom attribute
// "code"), "btnChange", "btnTrans", "ly_dest" (tab layout: 0 idle,
// 1 translating, 2 finished), "lb_dest_name", "btn_export", "ed_output", and
// in the translating panel "lb_progress", "lb_progress_detail" and
// "ctl_progress_fill" (inside a track control "ly_progress").
//
// Task records cross to the task manager with notifyTarget = the page and
// come back through TaskNotificationBridge (task_bridge.h). A page shows a
// result only for the task it is waiting for; a record of a task the page
// has since given up (its file was cleared or replaced) is destroyed unseen.
#include <cstdint>
#include <memory>
#include <string>

#include "service/trans_task.h"
#include "ui/UIlib.h"

namespace quillora::workspace {

class TransPage : public DirectUI::CVerticalLayoutUI, public DirectUI::INotifyUI {
 public:
  ~TransPage() override;
  void* GetInterface(const std::string& name) override;

  // Registers the page as a listener, looks up its controls, and applies the
  // initial state (which the markup must already show).
  void DoInit() override;
  void Notify(DirectUI::TNotifyUI& msg) override;
  // Keeps the progress bar's fill in step with the panel's width.
  void SetPos(DirectUI::RECT rc, bool needInvalidate = true) override;

  // The full path of the last result file; empty before a success and after
  // a failure.
  const std::string& ResultPath() const { return resultPath_; }
  // True while the page waits for a task it started.
  bool IsWaitingForTask() const { return pending_ != nullptr; }

  // The translated-text colour and font slot, and the failure look.
  static constexpr DirectUI::DWORD kResultColor = 0xFF262626;
  static constexpr int kResultFont = 0;
  static constexpr DirectUI::DWORD kFailureColor = 0xFFFF0000;
  static constexpr int kFailureFont = 3;
  static constexpr char kFailureText[] = "\r\n\r\n\t\t翻译失败";

 protected:
  // A control of this page by name (null when the skin lacks it).
  DirectUI::CControlUI* Find(const std::string& name) const;
  template <class T>
  T* FindAs(const std::string& name, const char* iface) const {
    DirectUI::CControlUI* c = Find(name);
    return c ? static_cast<T*>(c->GetInterface(iface)) : nullptr;
  }

  virtual void LookUpControls();
  virtual void ApplyInitialState() = 0;
  // A click on one of the page's own controls that the base does not handle.
  virtual void OnClick(const std::string& name) = 0;
  virtual void StartTranslation() = 0;
  // The record of the task the page waited for came back.
  virtual void OnTaskFinished(std::unique_ptr<TransTask> task, bool success) = 0;

  // Fills notifyTarget and the language codes, hands the task to the queue
  // and remembers it as the one to show.
  void SubmitTask(std::unique_ptr<TransTask> task);
  // Forget the task in flight: its record will be destroyed unseen.
  void AbandonTask();

  // ed_output, btn_export, lb_dest_name and the result path, for a success
  // or a failure.
  void ShowOutcome(const TransTask& task, bool success);
  void RevealResult();
  // Resets the translating panel to its first look.
  void ResetProgress();
  void ShowProgress(const TaskProgress& progress);
  // Opens the "too large" notice over the window (mode 0 file, 1 text).
  void ShowTooBigNotice(int mode);

  DirectUI::CButtonUI* btnSource_ = nullptr;
  DirectUI::CButtonUI* btnDest_ = nullptr;
  DirectUI::CTabLayoutUI* lyDest_ = nullptr;
  DirectUI::CLabelUI* lbDestName_ = nullptr;
  DirectUI::CButtonUI* btnExport_ = nullptr;
  DirectUI::CRichEditUI* edOutput_ = nullptr;
  std::string resultPath_;

 private:
  bool Owns(DirectUI::CControlUI* control) const;
  bool HandleLanguageClick(const std::string& name);
  void HandleTaskNotification(DirectUI::TNotifyUI& msg);
  void SetProgressFraction(double fraction);
  void UpdateProgressFill();

  DirectUI::CLabelUI* lbProgress_ = nullptr;
  DirectUI::CLabelUI* lbProgressDetail_ = nullptr;
  DirectUI::CControlUI* progressTrack_ = nullptr;
  DirectUI::CControlUI* progressFill_ = nullptr;
  double progressFraction_ = 0;
  bool listening_ = false;
  // Identity of the record in flight (compared, never dereferenced) and its
  // number in the queue's progress reports.
  const TransTask* pending_ = nullptr;
  uint64_t pendingId_ = 0;
};

}  // namespace quillora::workspace
