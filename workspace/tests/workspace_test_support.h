#pragma once
// The pages in their host window, offscreen, with a private task manager on
// the embedded emulator: clicks go to named controls of a page, dialogs and
// the file manager are answered by the test, screenshots land in one folder.
#include <gtest/gtest.h>

#include <QTimer>
#include <deque>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "emulator/emulator.h"
#include "service/tests/task_test_support.h"
#include "service/trans_task_manager.h"
#include "ui/tests/ui_test_support.h"
#include "workspace/host/workspace_host.h"
#include "workspace/page_services.h"
#include "ui/ui_dialogs.h"

namespace quillora::workspace::testing {

class PagesTest : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;

  // The window at a scale (100 or 200), its pages built.
  void OpenHost(int scale = 100);
  DirectUI::CPaintManagerUI& Pm() { return host_->GetPaintManager(); }
  FileTransPage* Doc() { return host_->FilePage(0); }
  FileTransPage* Music() { return host_->FilePage(1); }
  FileTransPage* Pic() { return host_->FilePage(2); }
  TextTransPage* Text() { return host_->TextPage(); }
  // A named control inside a page.
  DirectUI::CControlUI* In(DirectUI::CControlUI* page, const std::string& name);
  template <class T>
  T* In(DirectUI::CControlUI* page, const std::string& name, const char* iface) {
    DirectUI::CControlUI* c = In(page, name);
    return c ? static_cast<T*>(c->GetInterface(iface)) : nullptr;
  }
  // A mouse click on a named control of a page (laid out first).
  void ClickIn(DirectUI::CControlUI* page, const std::string& name);
  void ShowTab(int index);
  // Files dropped on the window as the desktop would drop them.
  bool Drop(const std::vector<std::string>& paths);
  std::string Shot(const std::string& name);
  bool WaitUntil(const std::function<bool()>& cond, int timeoutMs = 30000) {
    return uitest::WaitUntil(cond, timeoutMs);
  }
  // The answer the next open-file dialog gives (nothing: cancelled).
  void AnswerDialog(std::optional<std::string> path) { dialogAnswers_.push_back(std::move(path)); }
  std::string File(const std::string& name, uint64_t size);
  std::string TextFile(const std::string& name, const std::string& content);

  std::unique_ptr<emulator::Emulator> emu_;
  std::unique_ptr<TransTaskManager> manager_;
  std::unique_ptr<WorkspaceHostWnd> host_;
  testing_support::TempDir dir_;
  std::string outFolder_;
  std::vector<std::string> revealed_;
  std::vector<DirectUI::DialogRequest> dialogRequests_;
  std::deque<std::optional<std::string>> dialogAnswers_;
};

// Text of a control (empty for null).
std::string TextOf(DirectUI::CControlUI* c);

// Answers the size notice when it opens inside a page's click: records its
// mode and text, saves a screenshot at `scale` and closes it with its button.
struct NoticeWatcher {
  explicit NoticeWatcher(std::string shotPath = {}, int scale = 100);
  std::string desc;
  int mode = -1;
  int seen = 0;

 private:
  std::string shot_;
  int scale_;
  QTimer timer_;
  const void* handled_ = nullptr;
};

}  // namespace quillora::workspace::testing
