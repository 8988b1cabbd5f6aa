#pragma once
// TaskNotificationBridge: the task manager's notifier for a window that hosts
// translation pages. It carries each report from the manager's threads to the
// window's UI thread and raises it there as a toolkit notification whose
// sender is the page named in the task's notifyTarget:
//
//   - the final notifications "uploadfilesuccess", "uploadfilefaild" and
//     "initfasifaild", lParam = a TaskRecordSlot* (take the record with
//     TakeTaskRecord; a record nobody takes is destroyed after delivery);
//   - "taskprogress", lParam = const TaskProgress* (valid during the call).
//
// Progress is coalesced: at most one wake-up waits in the window's queue, and
// reports of the same task and stage that arrive meanwhile replace each
// other, so a fast upload never floods the window's queue; every change of
// stage and every final notification is delivered, in the order the manager
// made them.
//
// Use (on the UI thread, once the window exists):
//   bridge_ = std::make_unique<TaskNotificationBridge>(m_pm);
//   TransTaskManager::Instance().SetNotifier(bridge_.get());
// The bridge must outlive the manager's use of it: clear the notifier (or
// destroy a private manager) before the bridge goes.
#include <chrono>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <string>

#include "service/trans_task.h"
#include "ui/UIlib.h"

namespace quillora::workspace {

inline constexpr char kNotifyTaskProgress[] = "taskprogress";

using TaskRecordSlot = std::unique_ptr<TransTask>;

// Takes ownership of the record carried by a final notification; null when
// the message carries none or another listener took it already.
std::unique_ptr<TransTask> TakeTaskRecord(const DirectUI::TNotifyUI& msg);

// The progress carried by a "taskprogress" notification.
inline const TaskProgress& ProgressOf(const DirectUI::TNotifyUI& msg) {
  return *reinterpret_cast<const TaskProgress*>(msg.lParam);
}

class TaskNotificationBridge : public TaskNotifier, public DirectUI::IMessageFilterUI {
 public:
  // The window message that wakes the UI thread.
  static constexpr DirectUI::UINT kWakeMessage = DirectUI::WM_APP + 0x20;

  explicit TaskNotificationBridge(DirectUI::CPaintManagerUI& manager);
  ~TaskNotificationBridge() override;
  TaskNotificationBridge(const TaskNotificationBridge&) = delete;
  TaskNotificationBridge& operator=(const TaskNotificationBridge&) = delete;

  // Any thread.
  void OnTaskFinished(NotifyTarget target, std::string_view notification,
                      std::unique_ptr<TransTask> task) override;
  void OnTaskProgress(NotifyTarget target, const TaskProgress& progress) override;

  // UI thread: the window's messages.
  DirectUI::LRESULT MessageHandler(DirectUI::UINT msg, DirectUI::WPARAM wParam, DirectUI::LPARAM lParam,
                                   bool& handled) override;

  // Counters, for tests and the benchmark (any thread).
  struct Counters {
    uint64_t reportsReceived = 0;     // progress reports from the manager
    uint64_t progressDelivered = 0;   // "taskprogress" notifications raised
    uint64_t wakeUps = 0;             // times the UI thread was woken
  };
  Counters GetCounters() const;

 private:
  struct Event {
    NotifyTarget target = nullptr;
    std::string notification;  // empty: a progress report
    std::unique_ptr<TransTask> task;
    TaskProgress progress;
  };

  // Called with mutex_ held: posts a wake-up unless one is on its way.
  void WakeLocked();
  void Deliver();
  void DeliverOne(Event& event);
  bool IsInTree(NotifyTarget target) const;

  DirectUI::CPaintManagerUI& manager_;
  const DirectUI::HWND hwnd_;

  mutable std::mutex mutex_;  // guards everything below
  std::deque<Event> events_;
  bool wakePosted_ = false;
  Counters counters_;
};

}  // namespace quillora::workspace
