#pragma once
// A line protocol on standard input and output that lets end-to-end tests
// drive the real program the way a user would: click named controls, hover,
// drop files, read texts and states, save screenshots. Off unless the
// environment variable QUILLORA_TEST_DRIVER is "stdio".
//
// Each command line gets exactly one reply line; line breaks in a reply are
// written as "\n" (and "\" as "\\"). Commands run on the UI thread; a
// click or key replies "ok" before it is carried out, because it may open a
// modal window whose loop only ends later.
//
//   click  WINDOW CONTROL       hover WINDOW CONTROL      drop WINDOW PATH...
//   text   WINDOW CONTROL       visible WINDOW [CONTROL]  selected WINDOW CONTROL
//   type   WINDOW CONTROL TEXT  key WINDOW CONTROL CHORD  (ctrl+c, ctrl+shift+z, return)
//   shot   WINDOW FILE.png      tray left|right           command ID
//   popup [click TEXT | shot FILE.png]  (the open popup menu: its items by "|")
//   clipboard                   setclipboard TEXT         choose [PATH]
//   front                       state                     windows
//
// WINDOW is a window class name ("MainWnd", "UserCenterPage", "DuiMenuWnd",
// ...); the newest window of that class is meant. TEXT and PATH are the rest
// of the line.
#include <memory>
#include <optional>
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
  std::optional<std::string> ExecuteOnProgram(Request& request);
  std::string ExecuteOnControl(Request& request, DirectUI::CWindowImplBaseUI& target,
                               DirectUI::CControlUI& control);

  MainWnd& window_;
  std::shared_ptr<Shared> shared_;
};

}  // namespace quillora
