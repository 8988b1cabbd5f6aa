#include "app/shell/test_driver.h"

#include <algorithm>
#include <cctype>
#include <condition_variable>
#include <cstdlib>
#include <iostream>
#include <map>
#include <mutex>
#include <optional>
#include <sstream>
#include <thread>

#include "app/shell/main_wnd.h"

namespace quillora {

using namespace DirectUI;

namespace {

constexpr UINT kDriverMessage = WM_USER + 777;
constexpr std::chrono::seconds kReplyTimeout{60};

}  // namespace

struct TestDriver::Request {
  std::vector<std::string> words;
  bool answered = false;
};

namespace {

std::vector<std::string> SplitWords(const std::string& line) {
  std::istringstream in(line);
  std::vector<std::string> words;
  for (std::string w; in >> w;) words.push_back(w);
  return words;
}

CWindowImplBaseUI* FindWindowOfClass(const std::string& className) {
  const std::vector<CWindowWnd*> windows = GetAllWindows();
  for (auto it = windows.rbegin(); it != windows.rend(); ++it)
    if ((*it)->GetWindowClassName() == className) return dynamic_cast<CWindowImplBaseUI*>(*it);
  return nullptr;
}

// What the user sees: the control and every container around it shown, and
// within a tab layout only the selected item.
bool IsShown(CControlUI* control) {
  for (; control; control = control->GetParent()) {
    if (!control->IsVisible()) return false;
    CControlUI* parent = control->GetParent();
    auto* tab = parent ? static_cast<CTabLayoutUI*>(parent->GetInterface("TabLayout")) : nullptr;
    if (tab && tab->GetItemIndex(control) != tab->GetCurSel()) return false;
  }
  return true;
}

// The control of that name the user would mean: the pages repeat names, so
// the one on show wins over those behind other tabs.
CControlUI* FindNamed(CPaintManagerUI& pm, const std::string& name) {
  struct Search {
    const std::string* name;
    std::vector<CControlUI*> found;
  } search{&name, {}};
  if (CControlUI* root = pm.GetRoot()) {
    root->FindControl(
        [](CControlUI* c, void* data) -> CControlUI* {
          auto* s = static_cast<Search*>(data);
          if (c->GetName() == *s->name) s->found.push_back(c);
          return nullptr;  // keep walking
        },
        &search, UIFIND_ALL);
  }
  for (CControlUI* c : search.found)
    if (IsShown(c)) return c;
  return search.found.empty() ? pm.FindControl(name) : search.found.front();
}

// The words from `first` on, as one text (a path or typed text may hold spaces).
std::string RestOfLine(const std::vector<std::string>& words, size_t first) {
  std::string text;
  for (size_t i = first; i < words.size(); ++i) text += (i > first ? " " : "") + words[i];
  return text;
}

// One reply is one line.
std::string EscapeLine(const std::string& text) {
  std::string out;
  for (char c : text) {
    if (c == '\\') out += "\\\\";
    else if (c == '\n') out += "\\n";
    else if (c == '\r') out += "\\r";
    else out += c;
  }
  return out;
}

struct Chord {
  int key = 0;
  bool ctrl = false, shift = false;
};

// "ctrl+shift+z", "return": false for a key the driver does not know.
bool ParseChord(const std::string& text, Chord& chord) {
  std::istringstream in(text);
  for (std::string part; std::getline(in, part, '+');) {
    if (part == "ctrl") chord.ctrl = true;
    else if (part == "shift") chord.shift = true;
    else if (part == "return") chord.key = VK_RETURN;
    else if (part == "tab") chord.key = VK_TAB;
    else if (part == "backspace") chord.key = VK_BACK;
    else if (part.size() == 1 && std::isalnum(static_cast<unsigned char>(part[0])))
      chord.key = std::toupper(static_cast<unsigned char>(part[0]));
    else return false;
  }
  return chord.key != 0;
}

std::string JoinItems(const std::vector<std::string>& items) {
  std::string text;
  for (const std::string& item : items) text += (text.empty() ? "" : "|") + item;
  return text;
}

void SendMouse(CWindowWnd& window, CControlUI& control, bool click) {
  const RECT& r = control.GetPos();
  const LPARAM at = MAKELPARAM((r.left + r.right) / 2, (r.top + r.bottom) / 2);
  // A hover brings the pointer in from outside the window, so the control
  // is entered again even when the pointer was last left on it.
  if (!click) window.SendMessage(WM_MOUSELEAVE, 0, 0);
  window.SendMessage(WM_MOUSEMOVE, 0, at);
  if (!click) return;
  window.SendMessage(WM_LBUTTONDOWN, 0, at);
  window.SendMessage(WM_LBUTTONUP, 0, at);
}

}  // namespace

// What the reader thread and the UI thread share: requests by number.
struct TestDriver::Shared {
  HWND window = nullptr;
  std::mutex mutex;
  std::condition_variable answered;
  std::map<LPARAM, std::shared_ptr<Request>> pending;
  LPARAM nextId = 1;

  // Reader thread: hands one request to the UI thread and waits until it
  // has been answered.
  void Ask(std::vector<std::string> words) {
    auto request = std::make_shared<Request>();
    request->words = std::move(words);
    std::unique_lock lock(mutex);
    const LPARAM id = nextId++;
    pending[id] = request;
    if (!DirectUI::PostMessage(window, kDriverMessage, 0, id)) {
      pending.erase(id);
      WriteLine("gone");
      return;
    }
    const bool done = answered.wait_for(lock, kReplyTimeout, [&] { return request->answered; });
    pending.erase(id);
    if (!done) {
      request->answered = true;  // a late answer is dropped
      WriteLine("timeout");
    }
  }

  // The reply is written by whoever answers, before anything else happens:
  // a command that ends the program still gets its reply out.
  static void WriteLine(const std::string& line) { std::cout << line << std::endl; }

  // UI thread.
  std::shared_ptr<Request> Take(LPARAM id) {
    std::lock_guard lock(mutex);
    auto it = pending.find(id);
    return it == pending.end() ? nullptr : it->second;
  }

  void Answer(Request& request, std::string reply) {
    {
      std::lock_guard lock(mutex);
      if (request.answered) return;
      WriteLine(EscapeLine(reply));
      request.answered = true;
    }
    answered.notify_all();
  }
};

std::unique_ptr<TestDriver> TestDriver::StartIfAsked(MainWnd& window) {
  const char* mode = std::getenv("QUILLORA_TEST_DRIVER");
  if (!mode || std::string(mode) != "stdio" || !window.GetHWND()) return nullptr;
  return std::unique_ptr<TestDriver>(new TestDriver(window));
}

TestDriver::TestDriver(MainWnd& window) : window_(window), shared_(std::make_shared<Shared>()) {
  shared_->window = window.GetHWND();
  window.GetPaintManager().AddMessageFilter(this);
  // Detached: it blocks in a read of standard input, which the test closes;
  // it shares nothing with the window but the posted request numbers.
  std::thread([shared = shared_] {
    std::cout << "ready" << std::endl;
    for (std::string line; std::getline(std::cin, line);) {
      std::vector<std::string> words = SplitWords(line);
      if (words.empty()) continue;
      shared->Ask(std::move(words));
    }
  }).detach();
}

TestDriver::~TestDriver() {
  if (IsWindow(shared_->window)) window_.GetPaintManager().RemoveMessageFilter(this);
}

LRESULT TestDriver::MessageHandler(UINT msg, WPARAM, LPARAM lParam, bool& handled) {
  if (msg != kDriverMessage) return 0;
  handled = true;
  std::shared_ptr<Request> request = shared_->Take(lParam);
  if (!request) return 0;
  // A command that answered early (a click) is not answered again.
  shared_->Answer(*request, Execute(*request));
  return 0;
}

std::string TestDriver::Execute(Request& request) {
  if (std::optional<std::string> reply = ExecuteOnProgram(request)) return *reply;
  const std::vector<std::string>& w = request.words;
  const std::string& verb = w[0];
  if (w.size() < 2) return "error usage";
  CWindowImplBaseUI* target = FindWindowOfClass(w[1]);
  if (!target) return "none";
  if (verb == "visible" && w.size() == 2) return target->IsVisible() ? "1" : "0";
  if (verb == "shot" && w.size() == 3) return target->SaveScreenshot(w[2]) ? "ok" : "failed";
  if (verb == "drop" && w.size() >= 3) {
    const std::vector<std::string> paths(w.begin() + 2, w.end());
    return DropFilesOnWindow(target->GetHWND(), paths, {10, 10}) ? "ok" : "refused";
  }
  // type and key take one more word (type: the rest of the line).
  const bool withInput = (verb == "type" && w.size() >= 4) || (verb == "key" && w.size() == 4);
  if (w.size() != 3 && !withInput) return "error usage";
  CControlUI* control = FindNamed(target->GetPaintManager(), w[2]);
  if (!control) return "nocontrol";
  return ExecuteOnControl(request, *target, *control);
}

// Commands that name no window; nothing when the command is not one of them.
std::optional<std::string> TestDriver::ExecuteOnProgram(Request& request) {
  const std::vector<std::string>& w = request.words;
  const std::string& verb = w[0];
  if (verb == "state") {
    std::ostringstream s;
    s << "visible=" << window_.IsVisible() << " tray=" << window_.IsInTray()
      << " guide=" << (window_.GetGuide() && window_.GetGuide()->IsVisible())
      << " drops=" << window_.IsAcceptingDrops() << " enabled=" << window_.IsEnabled();
    return s.str();
  }
  if (verb == "windows") {
    std::string list;
    for (CWindowWnd* wnd : GetAllWindows())
      list += wnd->GetWindowClassName() + ":" + (wnd->IsVisible() ? "1" : "0") + " ";
    return list;
  }
  if (verb == "tray" && w.size() == 2) {
    window_.PostMessage(WM_TRAYICON, 0, w[1] == "right" ? WM_RBUTTONDOWN : WM_LBUTTONDOWN);
    return "ok";
  }
  if (verb == "choose") {
    // The next dialog answers this path (nothing: a cancel), as a user would.
    const std::string answer = RestOfLine(w, 1);
    SetDialogChooser([answer](const DialogRequest&) {
      SetDialogChooser(nullptr);
      return answer;
    });
    return "ok";
  }
  if (verb == "clipboard") return GetClipboardText();
  if (verb == "setclipboard") {
    SetClipboardText(RestOfLine(w, 1));
    return "ok";
  }
  if (verb == "front") {
    const HWND front = GetForegroundWindow();
    for (CWindowWnd* wnd : GetAllWindows())
      if (front && wnd->GetHWND() == front) return wnd->GetWindowClassName();
    return "none";
  }
  if (verb == "popup") {
    if (w.size() == 1) return JoinItems(OpenPopupMenuItems());
    if (w[1] == "shot" && w.size() == 3) return SaveOpenPopupMenuScreenshot(w[2]) ? "ok" : "failed";
    if (w[1] != "click" || w.size() < 3) return "error usage";
    const std::string item = RestOfLine(w, 2);
    const std::vector<std::string> items = OpenPopupMenuItems();
    if (std::find(items.begin(), items.end(), item) == items.end()) return "none";
    // Answered first: the item's command may end the program.
    shared_->Answer(request, "ok");
    ClickOpenPopupMenuItem(item);
    return "ok";
  }
  if (verb == "command" && w.size() == 2) {
    window_.PostMessage(WM_COMMAND, static_cast<WPARAM>(std::strtoul(w[1].c_str(), nullptr, 10)), 0);
    return "ok";
  }
  return std::nullopt;
}

std::string TestDriver::ExecuteOnControl(Request& request, CWindowImplBaseUI& target, CControlUI& control) {
  const std::vector<std::string>& w = request.words;
  const std::string& verb = w[0];
  if (verb == "text") return control.GetText();
  if (verb == "visible") return IsShown(&control) ? "1" : "0";
  if (verb == "selected") {
    auto* option = static_cast<COptionUI*>(control.GetInterface("Option"));
    return option ? (option->IsSelected() ? "1" : "0") : "notoption";
  }
  if (!IsShown(&control) || !target.IsVisible()) return "hidden";
  if (verb == "type" || verb == "key") {
    if (!control.IsEnabled()) return "disabled";
    Chord chord;
    if (verb == "key" && !ParseChord(w[3], chord)) return "error key";
    target.GetPaintManager().SetFocus(&control);
    if (verb == "type") return TypeText(target.GetHWND(), RestOfLine(w, 3)) ? "ok" : "gone";
    // Answered first: the key may open or close a modal window.
    shared_->Answer(request, "ok");
    SendKeyChord(target.GetHWND(), chord.key, chord.ctrl, chord.shift);
    return "ok";
  }
  if (verb == "click" || verb == "hover") {
    // The mouse reaches only what is on top (the first-run guide covers all).
    const RECT& r = control.GetPos();
    if (target.GetPaintManager().FindControl(POINT{(r.left + r.right) / 2, (r.top + r.bottom) / 2}) != &control)
      return "covered";
    // Answered first: the click may open a modal window whose loop returns later.
    shared_->Answer(request, "ok");
    SendMouse(target, control, verb == "click");
    return "ok";
  }
  return "error unknown";
}

}  // namespace quillora
