#pragma once
// CControlUI: the base of every element of a skin tree. Controls are owned by
// their container (the root by the paint manager); windows keep plain pointers.
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "ui/ui_types.h"

namespace DirectUI {

class CPaintManagerUI;
class CRenderContext;  // drawing surface, defined inside the toolkit
class CControlUI;

// Raw control events (what the mouse and keyboard do to one control).
enum EventType {
  UIEVENT_MOUSEMOVE = 1,
  UIEVENT_MOUSELEAVE,
  UIEVENT_MOUSEENTER,
  UIEVENT_MOUSEHOVER,
  UIEVENT_BUTTONDOWN,
  UIEVENT_BUTTONUP,
  UIEVENT_RBUTTONDOWN,
  UIEVENT_DBLCLICK,
  UIEVENT_SCROLLWHEEL,
  UIEVENT_KEYDOWN,
  UIEVENT_SETFOCUS,
  UIEVENT_KILLFOCUS,
  UIEVENT_TIMER,
};

struct TEventUI {
  int Type = 0;
  CControlUI* pSender = nullptr;
  POINT ptMouse;       // client coordinates
  WPARAM wParam = 0;   // wheel: >0 up; key: virtual key
  LPARAM lParam = 0;
};

// A list of subscribers to a control's raw events. A subscriber returning false
// stops the event: neither later subscribers nor the control itself see it.
class CEventSource {
 public:
  using Handler = std::function<bool(void*)>;  // argument: TEventUI*
  void operator+=(Handler h) { handlers_.push_back(std::move(h)); }
  void Clear() { handlers_.clear(); }
  bool IsEmpty() const { return handlers_.empty(); }
  bool operator()(void* param) const;

 private:
  std::vector<Handler> handlers_;
};

template <class T>
CEventSource::Handler MakeDelegate(T* obj, bool (T::*fn)(void*)) {
  return [obj, fn](void* p) { return (obj->*fn)(p); };
}

// Flags for CControlUI::FindControl.
inline constexpr UINT UIFIND_ALL = 0x0;
inline constexpr UINT UIFIND_VISIBLE = 0x1;
inline constexpr UINT UIFIND_ENABLED = 0x2;
inline constexpr UINT UIFIND_HITTEST = 0x4;
inline constexpr UINT UIFIND_ME_FIRST = 0x8;
using FINDCONTROLPROC = CControlUI* (*)(CControlUI*, void*);

// A parsed image attribute: "file='a.png' source='l,t,r,b' dest='l,t,r,b'
// corner='l,t,r,b' fade='200'" or just a file name.
struct TImageInfo {
  std::string file;      // relative to the resource path, or absolute
  RECT source;           // part of the picture; empty: whole picture
  RECT dest;             // placement inside the control (unscaled); empty: whole control
  RECT corner;           // nine-slice borders kept unstretched (unscaled)
  int fade = 255;        // 0..255 opacity
  bool hasSource = false, hasDest = false;
  static TImageInfo Parse(const std::string& attr);
};

class CControlUI {
 public:
  CControlUI();
  virtual ~CControlUI();
  CControlUI(const CControlUI&) = delete;
  CControlUI& operator=(const CControlUI&) = delete;

  virtual std::string GetClass() const;
  virtual void* GetInterface(const std::string& name);
  virtual UINT GetControlFlags() const { return 0; }

  // Identity and tree.
  const std::string& GetName() const { return name_; }
  void SetName(const std::string& name);
  CControlUI* GetParent() const { return parent_; }
  CPaintManagerUI* GetManager() const { return manager_; }
  virtual void SetManager(CPaintManagerUI* manager, CControlUI* parent, bool init = true);
  virtual CControlUI* FindControl(FINDCONTROLPROC proc, void* data, UINT flags);
  virtual void Init();   // called once when attached to a window
  virtual void DoInit() {}

  // Text.
  virtual std::string GetText() const;
  virtual void SetText(const std::string& text);
  const std::string& GetToolTip() const { return tooltip_; }
  void SetToolTip(const std::string& text) { tooltip_ = text; }

  // Geometry (client coordinates, scaled).
  const RECT& GetPos() const { return rcItem_; }
  // A floating control placed here by the program keeps this place (relative
  // to its parent) through later layout passes, until SetFixedXY or "pos"
  // move it again.
  virtual void SetPos(RECT rc, bool needInvalidate = true);
  // The parent's layout placing the control (does not count as a move).
  void SetPosFromLayout(RECT rc);
  // The place a program gave a floating control, relative to its parent's
  // top-left corner (scaled); false when it keeps its skin position.
  bool GetFloatPlace(RECT& rc) const;
  int GetWidth() const { return rcItem_.Width(); }
  int GetHeight() const { return rcItem_.Height(); }
  int GetX() const { return rcItem_.left; }
  int GetY() const { return rcItem_.top; }
  // Sizes set in skin units (unscaled); getters answer scaled values.
  RECT GetPadding() const;
  void SetPadding(RECT rc);
  SIZE GetFixedXY() const;
  void SetFixedXY(SIZE xy);
  int GetFixedWidth() const;
  void SetFixedWidth(int cx);
  int GetFixedHeight() const;
  void SetFixedHeight(int cy);
  int GetMinWidth() const;
  void SetMinWidth(int cx);
  int GetMaxWidth() const;
  void SetMaxWidth(int cx);
  int GetMinHeight() const;
  void SetMinHeight(int cy);
  int GetMaxHeight() const;
  void SetMaxHeight(int cy);
  bool IsFloat() const { return float_; }
  void SetFloat(bool f);
  // Size the control asks for; 0 in a dimension means "take what is left".
  virtual SIZE EstimateSize(SIZE available);

  // State.
  virtual bool IsVisible() const { return visible_ && internVisible_; }
  bool IsOwnVisible() const { return visible_; }
  virtual void SetVisible(bool visible = true);
  virtual void SetInternVisible(bool visible = true);  // set by the parent
  virtual bool IsEnabled() const { return enabled_; }
  virtual void SetEnabled(bool enable = true);
  virtual bool IsFocused() const { return focused_; }
  virtual void SetFocus();
  void SetFocusedFlag(bool f) { focused_ = f; }
  bool IsMouseEnabled() const { return mouseEnabled_; }
  void SetMouseEnabled(bool e) { mouseEnabled_ = e; }
  bool IsKeyboardEnabled() const { return keyboardEnabled_; }
  // Whether Tab stops at this kind of control (buttons, options, edits,
  // lists, combos); keyboard="false" in the skin takes it out.
  virtual bool IsTabStop() const { return false; }
  // Whether the control keeps Tab for itself while it has the focus.
  virtual bool WantsTab() const { return false; }
  virtual bool Activate();  // true when the control may act on a click

  // Look.
  DWORD GetBkColor() const { return bkColor_; }
  void SetBkColor(DWORD c);
  const std::string& GetBkImage() const { return bkImage_; }
  void SetBkImage(const std::string& image);
  DWORD GetBorderColor() const { return borderColor_; }
  void SetBorderColor(DWORD c);
  int GetBorderSize() const { return borderSize_; }
  void SetBorderSize(int size);
  SIZE GetBorderRound() const { return borderRound_; }
  void SetBorderRound(SIZE round);

  // Attributes from the skin; unknown names become custom attributes.
  virtual void SetAttribute(const std::string& name, const std::string& value);
  void SetAttributeList(const std::string& list);
  void AddCustomAttribute(const std::string& name, const std::string& value);
  std::string GetCustomAttribute(const std::string& name) const;  // empty when absent
  bool HasCustomAttribute(const std::string& name) const;
  bool RemoveCustomAttribute(const std::string& name);
  void RemoveAllCustomAttribute() { custom_.clear(); }

  LPARAM GetTag() const { return tag_; }
  void SetTag(LPARAM tag) { tag_ = tag; }
  const std::string& GetUserData() const { return userData_; }
  void SetUserData(const std::string& d) { userData_ = d; }

  // Drawing and layout requests.
  void Invalidate();
  bool IsUpdateNeeded() const { return updateNeeded_; }
  void NeedUpdate();
  void NeedParentUpdate();
  void ClearUpdateNeeded() { updateNeeded_ = false; }
  virtual void DoPaint(CRenderContext& ctx, const RECT& paint);
  // Everything but the border (which containers draw after their children,
  // so title bars and tab strips never hide a window's frame).
  void PaintContent(CRenderContext& ctx);
  virtual void PaintBkColor(CRenderContext& ctx);
  virtual void PaintBkImage(CRenderContext& ctx);
  virtual void PaintStatusImage(CRenderContext& ctx);
  virtual void PaintText(CRenderContext& ctx);
  virtual void PaintBorder(CRenderContext& ctx);
  // Draws an image attribute into the control's rectangle; false when the
  // picture cannot be loaded.
  bool DrawImage(CRenderContext& ctx, const std::string& image);

  // Events.
  void Event(TEventUI& event);  // subscribers first, then DoEvent
  virtual void DoEvent(TEventUI& event);
  CEventSource OnInit;
  CEventSource OnDestroy;
  CEventSource OnEvent;
  CEventSource OnNotify;

  // Native widget hosted in this control's rectangle (edits); the manager
  // keeps its geometry and visibility in step with the control.
  virtual void UpdateNativeWidget() {}

 protected:
  // Mouse entering or leaving sets hot and repaints; answers whether the
  // event was one of those two.
  bool TrackHot(const TEventUI& event, bool& hot);

  CPaintManagerUI* manager_ = nullptr;
  CControlUI* parent_ = nullptr;
  std::string name_;
  std::string text_;
  std::string tooltip_;
  RECT rcItem_;
  RECT rcPadding_;
  SIZE xy_;
  SIZE fixed_;
  SIZE min_;
  SIZE max_{9999, 9999};
  bool float_ = false;
  bool floatPlaced_ = false;
  RECT floatPlace_;
  int floatPlaceScale_ = 100;
  bool layingOut_ = false;
  bool visible_ = true;
  bool internVisible_ = true;
  bool enabled_ = true;
  bool focused_ = false;
  bool mouseEnabled_ = true;
  bool keyboardEnabled_ = true;
  bool updateNeeded_ = true;
  DWORD bkColor_ = 0;
  std::string bkImage_;
  DWORD borderColor_ = 0;
  int borderSize_ = 0;
  SIZE borderRound_;
  LPARAM tag_ = 0;
  std::string userData_;
  std::map<std::string, std::string> custom_;
  bool initialised_ = false;

  int Scale(int v) const;

 private:
  void RememberFloatPlace(const RECT& rc);
};

}  // namespace DirectUI
