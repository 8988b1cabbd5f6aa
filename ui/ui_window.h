#pragma once
// Native windows and the skinned window base that every window class uses.
#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "ui/ui_builder.h"
#include "ui/ui_manager.h"

namespace DirectUI {

class CWindowHost;  // the native (Qt) side of a window

// Posts a message to a window's queue; safe from any thread. False when the
// window no longer exists.
bool PostMessage(HWND hwnd, UINT msg, WPARAM wParam = 0, LPARAM lParam = 0);
// Delivers a message now; UI thread only. Returns the handler's result.
LRESULT SendMessage(HWND hwnd, UINT msg, WPARAM wParam = 0, LPARAM lParam = 0);
bool IsWindow(HWND hwnd);
class CWindowWnd;
// Every window of the process that still exists, oldest first (test drivers
// and tools). UI thread only.
std::vector<CWindowWnd*> GetAllWindows();
// Hands files to a window as a drop from the desktop would; false when the
// window does not accept drops. UI thread only.
bool DropFilesOnWindow(HWND hwnd, const std::vector<std::string>& paths, POINT pt);
// Ends every modal loop; the outermost ShowModal then returns. Any thread.
void PostQuitMessage(int code);
bool IsQuitPosted();
// The innermost modal popup running over hwnd (owned by it directly or
// through other popups), or hwnd itself when none runs. UI thread only.
HWND GetLastActivePopup(HWND hwnd);
// Shows the window if needed (restoring it when minimised), raises it and
// gives it the input focus; false when the window is gone. UI thread only.
bool SetForegroundWindow(HWND hwnd);
// What a second start asks of the running copy: hwnd comes back (restored and
// shown) and in front, and then its last active popup above it, so an open
// modal popup is what the user sees and types into. UI thread only.
void BringToFrontWithPopup(HWND hwnd);
// Makes sure the process has its application object (created on first use).
void EnsureApplication();
// Names the program to the desktop. `desktopId` is the launcher's file name
// without ".desktop" (the Wayland app id, so the desktop pairs windows with
// the launcher) and the icon theme's name of the program's icon; `iconFile`
// (relative to the resource path, or absolute) stands in where no installed
// icon theme has that icon. Every window and tray icon without an icon of
// its own shows it. Call after EnsureApplication().
void SetApplicationIdentity(const std::string& desktopId, const std::string& iconFile);
// Shows an error box with caption "DirectUI" and ends the process with exit
// code 1. Under the offscreen platform the box is skipped (nobody could close it).
[[noreturn]] void FatalSkinError(const std::string& text);

class CWindowWnd {
 public:
  CWindowWnd();
  virtual ~CWindowWnd();
  CWindowWnd(const CWindowWnd&) = delete;
  CWindowWnd& operator=(const CWindowWnd&) = delete;

  HWND GetHWND() const { return hwnd_; }
  operator HWND() const { return hwnd_; }

  // Creates the native window. Position and size CW_USEDEFAULT take the
  // skin's initial size. The owner (parent) stays above and is disabled
  // while this window runs modally.
  HWND Create(HWND parent, const std::string& name, DWORD style, DWORD exStyle, int x = CW_USEDEFAULT,
              int y = CW_USEDEFAULT, int cx = CW_USEDEFAULT, int cy = CW_USEDEFAULT);
  HWND Create(HWND parent, const std::string& name, DWORD style, DWORD exStyle, const RECT& rc);
  HWND GetOwner() const { return owner_; }

  void ShowWindow(bool show = true, bool takeFocus = true);
  // Shows the window and runs a nested loop until it is destroyed, with the
  // owner disabled; returns the code given to Close.
  UINT ShowModal();
  bool IsModal() const;  // inside ShowModal's loop
  // Closes the window (asynchronously, through WM_CLOSE with wParam = code).
  void Close(UINT ret = 0);
  void CenterWindow();
  void SetIcon(UINT resourceId);          // "<resource path>/icons/<id>.png"
  void SetIconFile(const std::string& file);
  void SetWindowText(const std::string& title);
  std::string GetWindowText() const;
  // New client size in skin units (scaled like the skin's sizes); -1 keeps
  // that dimension.
  void ResizeClient(int cx = -1, int cy = -1);
  void MoveWindow(int x, int y);
  RECT GetWindowRect() const;  // screen coordinates
  POINT ClientToScreen(POINT pt) const;
  POINT ScreenToClient(POINT pt) const;
  bool IsVisible() const;
  bool IsEnabled() const;
  void EnableWindow(bool enable);
  bool IsMinimized() const;
  void SetForeground();
  // File drops: a drop delivers WM_DROPFILES with a DropFiles record.
  void DragAcceptFiles(bool accept);
  bool IsAcceptingDrops() const;
  // A message sent through the window's handler chain now (UI thread).
  LRESULT SendMessage(UINT msg, WPARAM wParam = 0, LPARAM lParam = 0);
  bool PostMessage(UINT msg, WPARAM wParam = 0, LPARAM lParam = 0);
  // Runs `fn` on the window's thread once the window has painted its first
  // frame (queued at once when it already has); dropped when the window goes
  // away first. Start-up work the first frame does not show waits here.
  void AfterFirstPaint(std::function<void()> fn);

  virtual std::string GetWindowClassName() const = 0;
  virtual UINT GetClassStyle() const { return 0; }
  virtual LRESULT HandleMessage(UINT msg, WPARAM wParam, LPARAM lParam);
  // Runs after the native window is gone; the object may delete itself here.
  virtual void OnFinalMessage(HWND hwnd);

  // Named values attached to the window (markers other code can look for).
  void SetProp(const std::string& name, std::intptr_t value) { props_[name] = value; }
  bool GetProp(const std::string& name, std::intptr_t& value) const;
  void RemoveProp(const std::string& name) { props_.erase(name); }

  CWindowHost* Host() const { return host_; }
  // The window's drawing surface as an image file, for tests and tools.
  bool SaveScreenshot(const std::string& pngPath);
  DWORD GetStyle() const { return style_; }

 protected:
  friend class CWindowHost;
  // Destroys the native window now: WM_DESTROY, then OnFinalMessage.
  void DestroyWindow();
  // Menus and drop-downs: closes when the user clicks elsewhere.
  virtual bool IsTransientPopup() const { return false; }
  bool HasExplicitSize() const { return explicitSize_; }
  UINT closeCode_ = 0;

 private:
  HWND hwnd_ = nullptr;
  HWND owner_ = nullptr;
  CWindowHost* host_ = nullptr;
  DWORD style_ = 0;
  bool explicitSize_ = false;
  std::map<std::string, std::intptr_t> props_;
};

// Notification tables: rows of (type, control name, handler) with a parent
// table. Within one table a row matching both type and the sender's name wins
// at once; otherwise the last row of that type without a name; otherwise the
// parent table is searched the same way.
class CNotifyPump;
// A row's handler: a thunk that turns the pump back into the window class
// that declared the row and calls its member function.
using DUI_PMSG = void (*)(CNotifyPump*, TNotifyUI&);
template <class T, auto F>
void DuiThunk(CNotifyPump* pump, TNotifyUI& msg) {
  (static_cast<T*>(pump)->*F)(msg);
}
struct DUI_MSGMAP_ENTRY {
  const char* sMsgType;
  const char* sCtrlName;
  DUI_PMSG pfn;
};
struct DUI_MSGMAP {
  const DUI_MSGMAP* (*pfnGetBaseMap)();
  const DUI_MSGMAP_ENTRY* lpEntries;
};

class CNotifyPump {
 public:
  virtual ~CNotifyPump() = default;
  // Runs the handler the tables choose; false when no row applies.
  bool LoopDispatch(TNotifyUI& msg);
  static const DUI_MSGMAP* GetThisMessageMap();
  virtual const DUI_MSGMAP* GetMessageMap() const;
  // The row that would handle msg, or nullptr (exposed for tests and tools).
  static const DUI_MSGMAP_ENTRY* FindEntry(const DUI_MSGMAP* map, const TNotifyUI& msg);
};

#define DUI_DECLARE_MESSAGE_MAP()                        \
 public:                                                 \
  static const ::DirectUI::DUI_MSGMAP* GetThisMessageMap(); \
  const ::DirectUI::DUI_MSGMAP* GetMessageMap() const override;

#define DUI_BEGIN_MESSAGE_MAP(theClass, baseClass)                                              \
  const ::DirectUI::DUI_MSGMAP* theClass::GetMessageMap() const { return GetThisMessageMap(); } \
  const ::DirectUI::DUI_MSGMAP* theClass::GetThisMessageMap() {                                 \
    using DuiThisClass = theClass;                                                              \
    using DuiBaseClass = baseClass;                                                             \
    static constexpr ::DirectUI::DUI_MSGMAP_ENTRY entries[] = {
#define DUI_ON_MSGTYPE(msgtype, memberFxn) \
  {msgtype, "", &::DirectUI::DuiThunk<DuiThisClass, &DuiThisClass::memberFxn>},
#define DUI_ON_MSGTYPE_CTRNAME(msgtype, ctrname, memberFxn) \
  {msgtype, ctrname, &::DirectUI::DuiThunk<DuiThisClass, &DuiThisClass::memberFxn>},
#define DUI_ON_CLICK_CTRNAME(ctrname, memberFxn) DUI_ON_MSGTYPE_CTRNAME("click", ctrname, memberFxn)
#define DUI_ON_SELECTCHANGED_CTRNAME(ctrname, memberFxn) \
  DUI_ON_MSGTYPE_CTRNAME("selectchanged", ctrname, memberFxn)
#define DUI_END_MESSAGE_MAP()                                                           \
  {nullptr, nullptr, nullptr}};                                                         \
  static constexpr ::DirectUI::DUI_MSGMAP map{&DuiBaseClass::GetThisMessageMap, entries}; \
  return &map;                                                                          \
  }

// The skinned window base: builds the skin on creation, routes notifications
// through the tables and handles the standard title-bar buttons.
class CWindowImplBaseUI : public CWindowWnd,
                          public CNotifyPump,
                          public INotifyUI,
                          public IMessageFilterUI,
                          public IDialogBuilderCallback,
                          public IQueryControlText {
 public:
  CWindowImplBaseUI() = default;
  ~CWindowImplBaseUI() override;

  virtual std::string GetSkinFile() = 0;
  virtual std::string GetSkinFolder() { return ""; }
  virtual void InitWindow() {}
  CControlUI* CreateControl(const std::string& className) override;
  std::string QueryControlText(const std::string&, const std::string&) override { return {}; }
  void Notify(TNotifyUI& msg) override;
  LRESULT MessageHandler(UINT msg, WPARAM wParam, LPARAM lParam, bool& handled) override;
  LRESULT HandleMessage(UINT msg, WPARAM wParam, LPARAM lParam) override;
  void OnFinalMessage(HWND hwnd) override;
  virtual void OnClick(TNotifyUI& msg);
  CPaintManagerUI& GetPaintManager() { return m_pm; }

  DUI_DECLARE_MESSAGE_MAP()

 protected:
  virtual LRESULT OnCreate(UINT msg, WPARAM wParam, LPARAM lParam, bool& handled);
  virtual LRESULT OnKeyDown(UINT msg, WPARAM wParam, LPARAM lParam, bool& handled);
  virtual LRESULT OnMouseMove(UINT msg, WPARAM wParam, LPARAM lParam, bool& handled);
  virtual LRESULT OnSysCommand(UINT msg, WPARAM wParam, LPARAM lParam, bool& handled);
  CPaintManagerUI m_pm;
};

}  // namespace DirectUI
