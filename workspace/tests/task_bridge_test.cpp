// The bridge between the task manager's threads and a window's UI thread.
#include "workspace/task_bridge.h"

#include <thread>

#include "ui/tests/ui_test_support.h"

namespace quillora::workspace {
namespace {

using namespace DirectUI;

class BridgeWnd : public CWindowImplBaseUI {
 public:
  std::string GetWindowClassName() const override { return "BridgeTest"; }
  std::string GetSkinFile() override { return "bridge.xml"; }
};

// What a page would see: the notifications whose sender is the target.
struct TargetListener : INotifyUI {
  CControlUI* target = nullptr;
  std::vector<std::string> types;
  std::vector<TaskProgress> progress;
  std::vector<const TransTask*> records;
  bool take = true;
  void Notify(TNotifyUI& msg) override {
    if (msg.pSender != target) return;
    types.push_back(msg.sType);
    if (msg.sType == kNotifyTaskProgress) {
      progress.push_back(ProgressOf(msg));
    } else if (take) {
      auto task = TakeTaskRecord(msg);
      records.push_back(task.get());
      EXPECT_EQ(TakeTaskRecord(msg), nullptr);  // only once
    }
  }
};

class BridgeTest : public uitest::UiTest {
 protected:
  void SetUp() override {
    UiTest::SetUp();
    skin.Write("bridge.xml", R"(<Window size="200,100"><VerticalLayout>
        <Label name="page" text="page"/><Label name="other" text="other"/></VerticalLayout></Window>)");
    ASSERT_NE(wnd.Create(nullptr, "bridge", UI_WNDSTYLE_FRAME, 0), nullptr);
    bridge = std::make_unique<TaskNotificationBridge>(wnd.GetPaintManager());
    listener.target = wnd.GetPaintManager().FindControl("page");
    wnd.GetPaintManager().AddNotifier(&listener);
  }
  void TearDown() override {
    wnd.GetPaintManager().RemoveNotifier(&listener);
    bridge.reset();
    if (IsWindow(wnd.GetHWND())) wnd.Close();
    uitest::WaitUntil([&] { return !IsWindow(wnd.GetHWND()); });
    UiTest::TearDown();
  }
  static TaskProgress Report(TaskStage stage, uint64_t sent = 0, uint64_t total = 0) {
    TaskProgress p;
    p.taskId = 7;
    p.stage = stage;
    p.bytesSent = sent;
    p.bytesTotal = total;
    return p;
  }
  BridgeWnd wnd;
  std::unique_ptr<TaskNotificationBridge> bridge;
  TargetListener listener;
};

TEST_F(BridgeTest, AFloodOfByteCountsIsCoalescedButEveryStageArrivesInOrder) {
  constexpr uint64_t kTotal = 1ull << 30;
  constexpr int kReports = 50000;
  NotifyTarget target = listener.target;
  std::thread worker([&] {
    bridge->OnTaskProgress(target, Report(TaskStage::kQueued));
    for (int i = 0; i <= kReports; ++i)
      bridge->OnTaskProgress(target, Report(TaskStage::kUploading, kTotal / kReports * i, kTotal));
    bridge->OnTaskProgress(target, Report(TaskStage::kUploading, kTotal, kTotal));
    bridge->OnTaskProgress(target, Report(TaskStage::kWaitingForService));
    bridge->OnTaskProgress(target, Report(TaskStage::kDownloading));
    bridge->OnTaskFinished(target, kNotifySucceeded, std::make_unique<TransTask>());
  });
  worker.join();
  ASSERT_TRUE(uitest::WaitUntil([&] { return listener.records.size() == 1; }));
  const auto counters = bridge->GetCounters();
  EXPECT_EQ(counters.reportsReceived, static_cast<uint64_t>(kReports) + 5);
  EXPECT_LT(counters.progressDelivered, 100u);
  EXPECT_EQ(counters.progressDelivered, listener.progress.size());
  std::vector<TaskStage> stages;
  for (const auto& p : listener.progress)
    if (stages.empty() || stages.back() != p.stage) stages.push_back(p.stage);
  EXPECT_EQ(stages, (std::vector<TaskStage>{TaskStage::kQueued, TaskStage::kUploading,
                                            TaskStage::kWaitingForService, TaskStage::kDownloading}));
  // The last count of the upload is never lost to coalescing.
  uint64_t lastUpload = 0;
  for (const auto& p : listener.progress)
    if (p.stage == TaskStage::kUploading) lastUpload = p.bytesSent;
  EXPECT_EQ(lastUpload, kTotal);
  EXPECT_EQ(listener.types.back(), kNotifySucceeded);
}

TEST_F(BridgeTest, RecordsReachTheirTargetOnceAndAreDestroyedWhenNobodyTakesThem) {
  auto task = std::make_unique<TransTask>();
  const TransTask* sent = task.get();
  std::thread([&] { bridge->OnTaskFinished(listener.target, kNotifyFailed, std::move(task)); }).join();
  ASSERT_TRUE(uitest::WaitUntil([&] { return !listener.records.empty(); }));
  EXPECT_EQ(listener.records, std::vector<const TransTask*>{sent});
  EXPECT_EQ(listener.types, std::vector<std::string>{kNotifyFailed});
  // A record its page leaves alone dies with the delivery (ASan watches).
  listener.take = false;
  bridge->OnTaskFinished(listener.target, kNotifyParamsFailed, std::make_unique<TransTask>());
  ASSERT_TRUE(uitest::WaitUntil([&] { return listener.types.size() == 2; }));
  EXPECT_EQ(listener.types.back(), kNotifyParamsFailed);
}

TEST_F(BridgeTest, ATargetGoneFromTheWindowIsNotCalled) {
  CControlUI* other = wnd.GetPaintManager().FindControl("other");
  auto* root = static_cast<CContainerUI*>(wnd.GetPaintManager().GetRoot()->GetInterface("Container"));
  bridge->OnTaskProgress(listener.target, Report(TaskStage::kQueued));
  bridge->OnTaskFinished(listener.target, kNotifySucceeded, std::make_unique<TransTask>());
  root->Remove(listener.target, true);  // gone before the UI thread runs
  bridge->OnTaskFinished(other, kNotifySucceeded, std::make_unique<TransTask>());
  uitest::Recorder all;
  wnd.GetPaintManager().AddNotifier(&all);
  ASSERT_TRUE(uitest::WaitUntil([&] { return all.Count(kNotifySucceeded) == 1; }));
  uitest::Drain();
  wnd.GetPaintManager().RemoveNotifier(&all);
  EXPECT_TRUE(listener.types.empty());
  EXPECT_EQ(all.Count(kNotifySucceeded, "other"), 1);
  EXPECT_EQ(all.Count(kNotifyTaskProgress), 0);
  delete listener.target;
}

}  // namespace
}  // namespace quillora::workspace
