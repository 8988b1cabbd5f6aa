#pragma once
// CPaintManagerUI: one per window. Owns the control tree, the font table and
// the image cache, finds controls, runs timers and delivers notifications.
#include <atomic>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "ui/ui_control.h"

namespace DirectUI {

class CWindowWnd;

struct TNotifyUI {
  std::string sType;
  std::string sVirtualWnd;
  CControlUI* pSender = nullptr;
  DWORD dwTimestamp = 0;
  POINT ptMouse;
  WPARAM wParam = 0;
  LPARAM lParam = 0;
};
using tagTNotifyUI = TNotifyUI;

class INotifyUI {
 public:
  virtual void Notify(TNotifyUI& msg) = 0;

  virtual ~INotifyUI() = default;
};

class IMessageFilterUI {
 public:
  virtual LRESULT MessageHandler(UINT msg, WPARAM wParam, LPARAM lParam, bool& handled) = 0;

  virtual ~IMessageFilterUI() = default;
};

struct TFontInfo {
  std::string name;
  int size = 12;  // pixels, unscaled
  bool bold = false, underline = false, italic = false;
  int height = 0;  // line height in pixels, scaled (filled by the manager)
};

// Notification type names raised by the toolkit.
inline constexpr char DUI_MSGTYPE_CLICK[] = "click";
inline constexpr char DUI_MSGTYPE_SELECTCHANGED[] = "selectchanged";
inline constexpr char DUI_MSGTYPE_SETFOCUS[] = "setfocus";
inline constexpr char DUI_MSGTYPE_KILLFOCUS[] = "killfocus";
inline constexpr char DUI_MSGTYPE_TIMER[] = "timer";
inline constexpr char DUI_MSGTYPE_WINDOWINIT[] = "windowinit";
inline constexpr char DUI_MSGTYPE_TEXTCHANGED[] = "textchanged";
inline constexpr char DUI_MSGTYPE_RETURN[] = "return";
inline constexpr char DUI_MSGTYPE_ITEMSELECT[] = "itemselect";
inline constexpr char DUI_MSGTYPE_MENU[] = "menu";
inline constexpr char DUI_MSGTYPE_TABSELECT[] = "tabselect";

class CPaintManagerImpl;  // Qt-side state

class CPaintManagerUI {
 public:
  CPaintManagerUI();
  ~CPaintManagerUI();
  CPaintManagerUI(const CPaintManagerUI&) = delete;
  CPaintManagerUI& operator=(const CPaintManagerUI&) = delete;

  // Process-wide paths. The resource path is where skin files and pictures
  // are looked up; the instance path is the executable's folder with a
  // trailing separator.
  static void SetInstance(void* instance);
  static std::string GetInstancePath();
  static void SetResourcePath(const std::string& path);
  static std::string GetResourcePath();  // with a trailing separator

  void Init(CWindowWnd* window);
  CWindowWnd* GetWindow() const { return window_; }
  HWND GetPaintWindow() const;

  // The tree.
  bool AttachDialog(CControlUI* root);
  CControlUI* GetRoot() const { return root_; }
  bool InitControls(CControlUI* control, CControlUI* parent = nullptr);
  void ReapObjects(CControlUI* control);  // a control is going away

  CControlUI* FindControl(const std::string& name) const;
  CControlUI* FindControl(POINT pt) const;
  CControlUI* FindSubControlByName(CControlUI* parent, const std::string& name) const;
  CControlUI* FindSubControlByClass(CControlUI* parent, const std::string& className, int index = 0);
  std::vector<CControlUI*> FindSubControlsByClass(CControlUI* parent, const std::string& className);
  void NameChanged(CControlUI* control, const std::string& oldName);

  // Option groups of this window.
  bool AddOptionGroup(const std::string& group, CControlUI* control);
  std::vector<CControlUI*> GetOptionGroup(const std::string& group) const;
  void RemoveOptionGroup(const std::string& group, CControlUI* control);

  // Notifications. Synchronous: delivered now, to every listener in the order
  // they were added. Asynchronous: may be called from any thread; the record
  // is queued and delivered on the window's thread after whatever is already
  // queued for the window.
  bool AddNotifier(INotifyUI* notifier);
  bool RemoveNotifier(INotifyUI* notifier);
  void SendNotify(TNotifyUI& msg, bool async = false);
  void SendNotify(CControlUI* control, const std::string& type, WPARAM wParam = 0, LPARAM lParam = 0,
                  bool async = false);
  bool AddMessageFilter(IMessageFilterUI* filter);
  bool RemoveMessageFilter(IMessageFilterUI* filter);
  // Delivers queued asynchronous notifications (on WM_DUI_ASYNCNOTIFY).
  void DeliverAsyncNotifications();

  // Timers on a control: each expiry raises "timer" with wParam = id. Called
  // from another thread they take effect on the window's thread, shortly after.
  bool SetTimer(CControlUI* control, UINT id, UINT elapseMs);
  bool KillTimer(CControlUI* control, UINT id);
  void KillTimer(CControlUI* control);  // all of the control's timers
  void RemoveAllTimers();
  bool HasTimer(CControlUI* control, UINT id) const;

  // Focus. There is one focus per window: setting the toolkit's focus also
  // moves the keyboard focus, onto a control's native editor or off any
  // editor, so keys reach the control that shows the focus.
  CControlUI* GetFocus() const { return focus_; }
  void SetFocus(CControlUI* control);
  void SetFocusNeeded(CControlUI* control) { SetFocus(control); }
  // An editor took or lost the keyboard focus by itself (a click into it).
  void FocusFollowsNative(CControlUI* control, bool gained);
  // Keyboard navigation: the controls Tab visits, in tree order, and a move
  // to the next or previous one (wrapping). The focus ring is shown once the
  // keyboard has moved the focus, until the mouse is used again.
  std::vector<CControlUI*> GetTabOrder() const;
  bool MoveFocus(bool forward);
  bool IsFocusRingShown() const { return focusRing_ && focus_ != nullptr; }
  DWORD GetFocusRingColor() const { return focusRingColor_; }

  // Fonts: index into the skin's font table; -1 is the default font.
  void AddFont(int id, const std::string& name, int size, bool bold, bool underline, bool italic,
               bool isDefault = false);
  const TFontInfo* GetFontInfo(int id) const;  // default font when id unknown
  int GetFontCount() const { return static_cast<int>(fonts_.size()); }
  void SetDefaultFont(const std::string& name, int size, bool bold, bool underline, bool italic);

  // Default attributes per control class.
  void AddDefaultAttributeList(const std::string& controlClass, const std::string& list);
  std::string GetDefaultAttributeList(const std::string& controlClass) const;

  // Images: decoded once and kept until ReloadAllImages.
  bool HasImage(const std::string& file);  // loads it if needed
  SIZE GetImageSize(const std::string& file);
  void ReloadAllImages();  // any thread
  std::string ResolvePath(const std::string& file) const;

  // Window metrics from the skin (unscaled values).
  SIZE GetInitSize() const;  // scaled
  void SetInitSize(int cx, int cy);
  RECT GetCaptionRect() const { return caption_; }
  void SetCaptionRect(RECT rc) { caption_ = rc; }
  SIZE GetMinInfo() const { return minInfo_; }
  void SetMinInfo(int cx, int cy) { minInfo_ = {cx, cy}; }
  SIZE GetMaxInfo() const { return maxInfo_; }
  void SetMaxInfo(int cx, int cy) { maxInfo_ = {cx, cy}; }
  SIZE GetRoundCorner() const { return roundCorner_; }
  void SetRoundCorner(int cx, int cy) { roundCorner_ = {cx, cy}; }
  RECT GetSizeBox() const { return sizeBox_; }
  void SetSizeBox(RECT rc) { sizeBox_ = rc; }
  void SetWindowAttribute(const std::string& name, const std::string& value);

  // DPI: skin units are unscaled; the scale in percent comes from the screen
  // unless set explicitly.
  int GetDPIScale() const { return dpiScale_; }
  void SetDPIScale(int percent);
  int ScaleValue(int v) const { return v * dpiScale_ / 100; }
  RECT ScaleRect(RECT rc) const;

  // Layout and drawing.
  void NeedUpdate();        // schedules a layout pass and a repaint
  void Invalidate(const RECT& rc);
  void Invalidate();
  void UpdateLayout();      // lays the tree out now for the current client size
  SIZE GetClientSize() const;
  void SetClientSizeForTest(SIZE size);  // lays out without a window

  // Routes a window message to the controls (mouse, keys, focus, timers).
  bool MessageHandler(UINT msg, WPARAM wParam, LPARAM lParam, LRESULT& result);
  void HoverControl(CControlUI* control, POINT pt);

  CPaintManagerImpl* Impl() const { return impl_.get(); }

 private:
  friend class CPaintManagerImpl;
  friend class CWindowHost;
  void ResetTree();
  void ChangeFocus(CControlUI* control, bool moveNative);
  // Tab, Shift+Tab: true when the key was used.
  bool HandleNavigationKey(int vk);
  void ShowFocusRing(bool show);

  CWindowWnd* window_ = nullptr;
  CControlUI* root_ = nullptr;
  CControlUI* focus_ = nullptr;
  CControlUI* hover_ = nullptr;
  CControlUI* captured_ = nullptr;
  std::multimap<std::string, CControlUI*> names_;
  std::map<std::string, std::vector<CControlUI*>> optionGroups_;
  std::vector<INotifyUI*> notifiers_;
  std::vector<IMessageFilterUI*> filters_;
  std::map<int, TFontInfo> fonts_;
  TFontInfo defaultFont_;
  std::map<std::string, std::string> defaultAttributes_;
  SIZE initSize_{800, 600};
  RECT caption_;
  SIZE minInfo_, maxInfo_;
  SIZE roundCorner_;
  RECT sizeBox_;
  int dpiScale_ = 100;
  bool dpiFixed_ = false;
  SIZE testClientSize_;
  bool layoutScheduled_ = false;
  bool focusRing_ = false;
  DWORD focusRingColor_ = 0xFF2D8CF0;

  // The window's handle, readable from any thread: a worker announcing a
  // record never touches the window object itself.
  std::atomic<HWND> paintHwnd_{nullptr};
  std::mutex asyncMutex_;  // guards asyncQueue_ only
  std::vector<TNotifyUI> asyncQueue_;

  std::unique_ptr<CPaintManagerImpl> impl_;
};

// Text measuring and drawing with a window's font table.
class CRenderEngine {
 public:
  // Measures text in a box of rc's width (rc.right - rc.left); on return rc's
  // right and bottom enclose the text. `html` treats the text as rich text.
  static void MeasureText(CPaintManagerUI* manager, RECT& rc, const std::string& text, int font,
                          UINT style, bool html);
};

// Key state: true while the virtual key is held down.
bool IsKeyDown(int virtualKey);
short GetKeyState(int virtualKey);  // high bit set while down
POINT GetCursorPos();

}  // namespace DirectUI
