#include "workspace/task_bridge.h"

#include <utility>
#include <vector>

namespace quillora::workspace {

using namespace DirectUI;

std::unique_ptr<TransTask> TakeTaskRecord(const TNotifyUI& msg) {
  auto* slot = reinterpret_cast<TaskRecordSlot*>(msg.lParam);
  return slot ? std::move(*slot) : nullptr;
}

TaskNotificationBridge::TaskNotificationBridge(CPaintManagerUI& manager)
    : manager_(manager), hwnd_(manager.GetPaintWindow()) {
  manager_.AddMessageFilter(this);
}

TaskNotificationBridge::~TaskNotificationBridge() { manager_.RemoveMessageFilter(this); }

void TaskNotificationBridge::OnTaskFinished(NotifyTarget target, std::string_view notification,
                                            std::unique_ptr<TransTask> task) {
  std::lock_guard<std::mutex> lock(mutex_);
  Event e;
  e.target = target;
  e.notification = std::string(notification);
  e.task = std::move(task);
  events_.push_back(std::move(e));
  WakeLocked();
}

void TaskNotificationBridge::OnTaskProgress(NotifyTarget target, const TaskProgress& progress) {
  std::lock_guard<std::mutex> lock(mutex_);
  ++counters_.reportsReceived;
  // A newer count of the same task and stage replaces one not yet delivered.
  for (auto it = events_.rbegin(); it != events_.rend(); ++it) {
    if (it->target != target) continue;
    if (it->notification.empty() && it->progress.taskId == progress.taskId &&
        it->progress.stage == progress.stage) {
      it->progress = progress;
      WakeLocked();
      return;
    }
    break;
  }
  Event e;
  e.target = target;
  e.progress = progress;
  events_.push_back(std::move(e));
  WakeLocked();
}

// At most one wake-up waits in the window's queue: reports that arrive
// while it waits are merged into what it will deliver. The manager itself
// reports byte counts at most every 100 ms and at chunk ends, so every report
// may wake the window; holding one back instead could leave the page on an
// old count for as long as the next chunk takes to start.
void TaskNotificationBridge::WakeLocked() {
  if (wakePosted_) return;
  if (!PostMessage(hwnd_, kWakeMessage, 0, 0)) return;  // window gone: records die with the bridge
  wakePosted_ = true;
}

LRESULT TaskNotificationBridge::MessageHandler(UINT msg, WPARAM, LPARAM, bool& handled) {
  if (msg != kWakeMessage) return 0;
  handled = true;
  Deliver();
  return 0;
}

void TaskNotificationBridge::Deliver() {
  std::deque<Event> events;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    events.swap(events_);
    wakePosted_ = false;
    ++counters_.wakeUps;
  }
  for (Event& e : events) DeliverOne(e);
}

void TaskNotificationBridge::DeliverOne(Event& event) {
  // A page removed from the window meanwhile is not called; its record dies here.
  if (!IsInTree(event.target)) return;
  if (event.notification.empty()) {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      ++counters_.progressDelivered;
    }
    manager_.SendNotify(event.target, kNotifyTaskProgress, 0, reinterpret_cast<LPARAM>(&event.progress));
    return;
  }
  TaskRecordSlot slot = std::move(event.task);
  manager_.SendNotify(event.target, event.notification, 0, reinterpret_cast<LPARAM>(&slot));
}

bool TaskNotificationBridge::IsInTree(NotifyTarget target) const {
  CControlUI* root = manager_.GetRoot();
  if (!root || !target) return false;
  const auto same = [](CControlUI* c, void* data) -> CControlUI* { return c == data ? c : nullptr; };
  return root->FindControl(same, target, UIFIND_ALL) != nullptr;
}

TaskNotificationBridge::Counters TaskNotificationBridge::GetCounters() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return counters_;
}

}  // namespace quillora::workspace
