#pragma once
// Shared helpers for the toolkit tests: a private skin folder per test,
// condition waits with deadlines, and simulated mouse input.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>

#include "ui/UIlib.h"

namespace uitest {

// Processes events until cond() holds or the deadline passes.
inline bool WaitUntil(const std::function<bool()>& cond, int timeoutMs = 3000) {
  QElapsedTimer t;
  t.start();
  while (!cond()) {
    if (t.elapsed() > timeoutMs) return false;
    QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents, 20);
  }
  return true;
}

// Runs everything already posted (deferred deletes included).
inline void Drain() {
  for (int i = 0; i < 3; ++i) {
    QCoreApplication::sendPostedEvents(nullptr, 0);
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    QCoreApplication::processEvents();
  }
}

class SkinDir {
 public:
  SkinDir() {
    static int n = 0;
    dir_ = std::filesystem::temp_directory_path() /
           ("dui_test_" + std::to_string(::getpid()) + "_" + std::to_string(++n));
    std::filesystem::create_directories(dir_);
    DirectUI::CPaintManagerUI::SetResourcePath(dir_.string());
  }
  ~SkinDir() {
    std::error_code ec;
    std::filesystem::remove_all(dir_, ec);
  }
  void Write(const std::string& name, const std::string& text) const {
    std::ofstream(dir_ / name, std::ios::binary) << text;
  }
  std::string Path(const std::string& name) const { return (dir_ / name).string(); }

 private:
  std::filesystem::path dir_;
};

class UiTest : public ::testing::Test {
 protected:
  void SetUp() override { DirectUI::EnsureApplication(); }
  void TearDown() override { Drain(); }
  SkinDir skin;
};

inline DirectUI::POINT Center(DirectUI::CControlUI* c) {
  const auto& r = c->GetPos();
  return {(r.left + r.right) / 2, (r.top + r.bottom) / 2};
}

// A full click as the mouse would make it.
inline void Click(DirectUI::CWindowWnd& w, DirectUI::CControlUI* c) {
  ASSERT_NE(c, nullptr);
  auto pt = Center(c);
  auto lp = DirectUI::MAKELPARAM(pt.x, pt.y);
  w.SendMessage(DirectUI::WM_MOUSEMOVE, 0, lp);
  w.SendMessage(DirectUI::WM_LBUTTONDOWN, 0, lp);
  w.SendMessage(DirectUI::WM_LBUTTONUP, 0, lp);
}

// Records every notification a paint manager delivers.
struct Recorder : DirectUI::INotifyUI {
  struct Entry {
    std::string type, sender;
    DirectUI::WPARAM wParam;
  };
  std::vector<Entry> seen;
  void Notify(DirectUI::TNotifyUI& msg) override {
    seen.push_back({msg.sType, msg.pSender ? msg.pSender->GetName() : std::string(), msg.wParam});
  }
  int Count(const std::string& type, const std::string& sender = {}) const {
    int n = 0;
    for (auto& e : seen)
      if (e.type == type && (sender.empty() || e.sender == sender)) ++n;
    return n;
  }
};

}  // namespace uitest
