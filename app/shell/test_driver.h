#pragma once
// A line protocol on standard input and output that lets end-to-end tests
// drive the real program the way a user would: click named controls, hover,
// drop files, read texts and states, save screenshots. Off unless the
// environment variable QUILLORA_TEST_DRIVER is "stdio".
//
// Each command line gets exactly one reply line. Commands run on the UI
// thread; a click replies "ok" before it is carried out, because a click may
// open a modal window whose loop only ends later.
//
//   click  WINDOW CONTROL       hover WINDOW CONTROL      drop WINDOW PATH...
//   text   WINDOW CONTROL       visible WINDOW [CONTROL]  selected WINDOW CONTROL
//   shot   WINDOW FILE.png      tray left|right           command ID
//   state                       windows
//
// WINDOW is a window class name ("MainWnd", "UserCenterPage", "DuiMenuWnd",
// ...); the newest window of that class is meant.
#include <memory>
#include <string>
#include <vector>

#include "ui/UIlib.h"

namespace quillora {

class MainWnd;

class TestDriver : public DirectUI::IMessageFilterUI {
 public:
  // A driver for `window` when the environment asks for one, else null.
  static std::unique_ptr<TestDriver> StartIfAsked(MainWnd& window);
  ~TestDriver() override;

  DirectUI::LRESULT MessageHandler(DirectUI::UINT msg, DirectUI::WPARAM wParam, DirectUI::LPARAM lParam,
                                   bool& handled) override;

  struct Request;
  struct Shared;

 private:
  explicit TestDriver(MainWnd& window);
  std::string Execute(Request& request);

  MainWnd& window_;
  std::shared_ptr<Shared> shared_;
};

}  // namespace quillora
