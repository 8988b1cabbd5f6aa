#include "workspace/tests/workspace_test_support.h"

#include <QImage>
#include <filesystem>

#include "service/transport/remote_services.h"
#include "ui/qt/qt_host.h"
#include "workspace/file_too_big_tip.h"

namespace quillora::workspace::testing {

using namespace DirectUI;

void PagesTest::SetUp() {
  EnsureApplication();
  CPaintManagerUI::SetResourcePath(QUILLORA_SKIN_DIR);
  std::filesystem::create_directories(QUILLORA_SCREENSHOT_DIR);
  emulator::Options eo;
  eo.threads = 8;
  eo.taskProcessingTime = std::chrono::milliseconds(30);
  emu_ = std::make_unique<emulator::Emulator>(eo);
  ASSERT_TRUE(emu_->Start()) << emu_->LastError();
  emulator::TaskBehaviour b;
  b.processingTime = std::chrono::milliseconds(30);
  emu_->SetTaskBehaviour(b);
  ConfigureRemoteServices(emu_->Settings());
  outFolder_ = dir_.path() + "out/";
  std::filesystem::create_directories(outFolder_);
  std::filesystem::create_directories(dir_.path() + "tmp/");
  TaskManagerOptions o;
  o.pollInterval = std::chrono::milliseconds(15);
  o.pollBound = std::chrono::seconds(60);
  o.identity.machineId = "0123456789ABCDEF0123456789ABCDEF";
  o.identity.softwareName = "Quillora";
  o.identity.softwareVersion = "1.0.0";
  o.identity.productId = "342";
  o.outputFolder = [this] { return outFolder_; };
  o.signIn = [] { return std::optional<SignInValues>(); };
  o.tempFolder = dir_.path() + "tmp/";
  manager_ = std::make_unique<TransTaskManager>(std::move(o));
  PageServices services;
  services.tasks = manager_.get();
  services.reveal = [this](const std::string& path) {
    revealed_.push_back(path);
    return true;
  };
  SetDialogChooser([this](const DialogRequest& request) {
    dialogRequests_.push_back(request);
    if (dialogAnswers_.empty()) return std::string();
    auto answer = dialogAnswers_.front();
    dialogAnswers_.pop_front();
    return answer.value_or(std::string());
  });
  SetPageServices(std::move(services));
}

void PagesTest::TearDown() {
  // The manager first: it ends its tasks through the window's bridge.
  manager_.reset();
  if (host_) {
    if (IsWindow(host_->GetHWND())) host_->Close();
    uitest::WaitUntil([&] { return !IsWindow(host_->GetHWND()); });
    uitest::Drain();
    host_.reset();
  }
  SetPageServices({});
  SetDialogChooser({});
}

void PagesTest::OpenHost(int scale) {
  host_ = std::make_unique<WorkspaceHostWnd>();
  ASSERT_NE(host_->Create(nullptr, "Quillora", UI_WNDSTYLE_FRAME, 0), nullptr);
  manager_->SetNotifier(host_->Bridge());
  Pm().SetDPIScale(scale);
  host_->ResizeClient(900, 600);
  host_->ShowWindow(true);
  Pm().UpdateLayout();
  ASSERT_NE(Doc(), nullptr);
  ASSERT_NE(Text(), nullptr);
}

CControlUI* PagesTest::In(CControlUI* page, const std::string& name) {
  return Pm().FindSubControlByName(page, name);
}

void PagesTest::ClickIn(CControlUI* page, const std::string& name) {
  Pm().UpdateLayout();
  CControlUI* c = In(page, name);
  ASSERT_NE(c, nullptr) << name;
  ASSERT_TRUE(c->IsVisible()) << name;
  uitest::Click(*host_, c);
}

void PagesTest::ShowTab(int index) {
  static const char* kTabs[] = {"opt_doc_trans", "opt_voice_trans", "opt_pic_trans", "opt_short_trans"};
  Pm().UpdateLayout();
  uitest::Click(*host_, Pm().FindControl(kTabs[index]));
  Pm().UpdateLayout();
}

bool PagesTest::Drop(const std::vector<std::string>& paths) {
  return host_->Host()->DeliverDrop(paths, {300, 300});
}

std::string PagesTest::Shot(const std::string& name) {
  Pm().UpdateLayout();
  const std::string scale = std::to_string(Pm().GetDPIScale());
  const std::string path = std::string(QUILLORA_SCREENSHOT_DIR) + "/" + name + "_" + scale + ".png";
  EXPECT_TRUE(host_->SaveScreenshot(path)) << path;
  // The whole window, at the scale the name says.
  EXPECT_EQ(QImage(QString::fromStdString(path)).size(), QSize(Pm().ScaleValue(900), Pm().ScaleValue(600))) << path;
  return path;
}

std::string PagesTest::File(const std::string& name, uint64_t size) {
  const std::string path = dir_.path() + name;
  EXPECT_TRUE(testing_support::WriteFileOfSize(path, size)) << path;
  return path;
}

std::string PagesTest::TextFile(const std::string& name, const std::string& content) {
  const std::string path = dir_.path() + name;
  EXPECT_TRUE(testing_support::WriteTextFile(path, content)) << path;
  return path;
}

std::string TextOf(CControlUI* c) { return c ? c->GetText() : std::string(); }

NoticeWatcher::NoticeWatcher(std::string shotPath, int scale) : shot_(std::move(shotPath)), scale_(scale) {
  timer_.setInterval(20);
  QObject::connect(&timer_, &QTimer::timeout, [this] {
    FileTooBigTip* tip = FileTooBigTip::Open();
    if (!tip || handled_ == tip) return;
    handled_ = tip;
    ++seen;
    mode = tip->Mode();
    CPaintManagerUI& pm = tip->GetPaintManager();
    if (scale_ != pm.GetDPIScale()) {
      pm.SetDPIScale(scale_);
      tip->ResizeClient(380, 200);
    }
    pm.UpdateLayout();
    desc = TextOf(pm.FindControl("lb_desc"));
    if (!shot_.empty()) {
      EXPECT_TRUE(tip->SaveScreenshot(shot_)) << shot_;
    }
    uitest::Click(*tip, pm.FindControl("closebtn"));
  });
  timer_.start();
}

}  // namespace quillora::workspace::testing
