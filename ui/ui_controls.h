#pragma once
// The toolkit's leaf controls: label, button, option, edits, list and combo.
#include <memory>

#include "ui/ui_containers.h"

namespace DirectUI {

class CLabelUI : public CControlUI {
 public:
  CLabelUI();
  std::string GetClass() const override;
  void* GetInterface(const std::string& name) override;

  void SetText(const std::string& text) override;
  UINT GetTextStyle() const { return textStyle_; }
  void SetTextStyle(UINT style);
  DWORD GetTextColor() const { return textColor_; }
  void SetTextColor(DWORD c);
  DWORD GetDisabledTextColor() const { return disabledTextColor_; }
  void SetDisabledTextColor(DWORD c);
  int GetFont() const { return font_; }
  void SetFont(int index);
  RECT GetTextPadding() const;  // scaled
  void SetTextPadding(RECT rc);  // unscaled
  bool IsShowHtml() const { return showHtml_; }
  void SetShowHtml(bool html = true);
  // Measures the text with this label's font and style in a box `width`
  // (scaled) wide; answers the text's size, without padding.
  SIZE MeasureText(int width) const;

  SIZE EstimateSize(SIZE available) override;
  void PaintText(CRenderContext& ctx) override;
  void SetAttribute(const std::string& name, const std::string& value) override;

 protected:
  DWORD CurrentTextColor() const;
  // Draws the text inside the text padding in the given colour; nothing for
  // an empty text.
  void DrawLabelText(CRenderContext& ctx, DWORD color);
  DWORD textColor_ = 0;
  DWORD disabledTextColor_ = 0;
  int font_ = -1;
  UINT textStyle_ = DT_VCENTER | DT_SINGLELINE;
  RECT rcTextPadding_;
  bool showHtml_ = false;
  bool autoCalcWidth_ = false;
};

class CButtonUI : public CLabelUI {
 public:
  CButtonUI();
  std::string GetClass() const override;
  void* GetInterface(const std::string& name) override;
  bool Activate() override;
  bool IsTabStop() const override { return true; }
  void DoEvent(TEventUI& event) override;
  void PaintStatusImage(CRenderContext& ctx) override;
  void SetAttribute(const std::string& name, const std::string& value) override;
  void SetNormalImage(const std::string& s) { normalImage_ = s; Invalidate(); }
  void SetHotImage(const std::string& s) { hotImage_ = s; Invalidate(); }
  void SetPushedImage(const std::string& s) { pushedImage_ = s; Invalidate(); }
  void SetFocusedImage(const std::string& s) { focusedImage_ = s; Invalidate(); }
  void SetDisabledImage(const std::string& s) { disabledImage_ = s; Invalidate(); }
  const std::string& GetNormalImage() const { return normalImage_; }
  bool IsHot() const { return hot_; }
  bool IsPushed() const { return pushed_; }

 protected:
  DWORD CurrentButtonTextColor() const;
  void PaintText(CRenderContext& ctx) override;
  std::string normalImage_, hotImage_, pushedImage_, focusedImage_, disabledImage_;
  DWORD hotTextColor_ = 0, pushedTextColor_ = 0;
  bool hot_ = false, pushed_ = false;
};

// A button with a selected state. Options sharing a group name within one
// window are exclusive; such an option reports "selectchanged" only when it
// becomes selected, an ungrouped option on both changes.
class COptionUI : public CButtonUI {
 public:
  ~COptionUI() override;
  std::string GetClass() const override;
  void* GetInterface(const std::string& name) override;
  void SetManager(CPaintManagerUI* manager, CControlUI* parent, bool init = true) override;
  const std::string& GetGroup() const { return group_; }
  void SetGroup(const std::string& group);
  bool IsSelected() const { return selected_; }
  virtual void Selected(bool selected, bool triggerEvent = true);
  bool Activate() override;
  void DoEvent(TEventUI& event) override;
  void PaintStatusImage(CRenderContext& ctx) override;
  void SetAttribute(const std::string& name, const std::string& value) override;
  void SetSelectedImage(const std::string& s) { selectedImage_ = s; Invalidate(); }
  void SetSelectedTextColor(DWORD c) { selectedTextColor_ = c; Invalidate(); }

 protected:
  void PaintText(CRenderContext& ctx) override;
  // Arrow keys: the next enabled, visible option of the group in that
  // direction takes the focus and the selection.
  bool MoveInGroup(bool forward);
  std::string group_;
  bool selected_ = false;
  std::string selectedImage_, selectedHotImage_;
  DWORD selectedTextColor_ = 0;
};

// Text entry hosted in a native editor widget inside the control's rectangle,
// so typing, input methods, clipboard and undo are the platform's own.
class CNativeEditHost;
class CEditBaseUI : public CLabelUI {
 public:
  CEditBaseUI();
  ~CEditBaseUI() override;
  void SetManager(CPaintManagerUI* manager, CControlUI* parent, bool init = true) override;
  std::string GetText() const override;
  void SetText(const std::string& text) override;
  void SetEnabled(bool enable = true) override;
  bool IsTabStop() const override { return true; }
  CNativeEditHost* NativeHost() const { return host_.get(); }
  bool IsReadOnly() const { return readOnly_; }
  void SetReadOnly(bool readOnly);
  void SetTextColor(DWORD c);
  void SetFont(int index);
  int GetMaxChar() const { return maxChar_; }
  void SetMaxChar(int n);
  void SetAttribute(const std::string& name, const std::string& value) override;
  void SetPos(RECT rc, bool needInvalidate = true) override;
  void SetVisible(bool visible = true) override;
  void SetInternVisible(bool visible = true) override;
  void UpdateNativeWidget() override;
  void PaintText(CRenderContext& ctx) override;
  // Prompt shown while the box is empty.
  void SetTipValue(const std::string& tip);
  // Raised by the native widget.
  void OnNativeTextChanged();
  void OnNativeReturn();
  void OnNativeFocus(bool in);

 protected:
  virtual bool IsMultiLine() const = 0;
  void EnsureHost();
  // Puts the editor into the window of the control's manager, in its look.
  void AttachHost();
  void ApplyLook();
  std::unique_ptr<CNativeEditHost> host_;
  bool readOnly_ = false;
  bool password_ = false;
  int maxChar_ = 0;
  std::string tip_;
  bool settingText_ = false;
};

class CEditUI : public CEditBaseUI {
 public:
  std::string GetClass() const override;
  void* GetInterface(const std::string& name) override;
  void SetPasswordMode(bool on);

 protected:
  bool IsMultiLine() const override { return false; }
};

class CRichEditUI : public CEditBaseUI {
 public:
  CRichEditUI();
  std::string GetClass() const override;
  void* GetInterface(const std::string& name) override;
  int GetTextLength() const;  // UTF-16 code units
  void AppendText(const std::string& text);
  void SetSel(int start, int end);  // UTF-16 positions; -1 end = to the end
  void ReplaceSel(const std::string& text);
  std::string GetSelText() const;
  bool IsWantReturn() const { return wantReturn_; }
  bool WantsTab() const override { return wantTab_; }
  void SetAttribute(const std::string& name, const std::string& value) override;

 protected:
  bool IsMultiLine() const override { return true; }
  bool wantReturn_ = true;
  bool wantTab_ = false;
};

// One row of a list or combo.
class CListLabelElementUI : public CLabelUI {
 public:
  std::string GetClass() const override;
  void* GetInterface(const std::string& name) override;
  bool IsSelected() const { return selected_; }
  void SetSelectedFlag(bool s);
  SIZE EstimateSize(SIZE available) override;
  void DoEvent(TEventUI& event) override;
  void PaintBkColor(CRenderContext& ctx) override;

 private:
  bool selected_ = false;
  bool hot_ = false;
};

// A scrolling vertical list of rows with one selected row ("itemselect").
class CListUI : public CVerticalLayoutUI {
 public:
  CListUI();
  std::string GetClass() const override;
  void* GetInterface(const std::string& name) override;
  int GetCurSel() const { return curSel_; }
  bool SelectItem(int index, bool triggerEvent = true);
  bool Remove(CControlUI* control, bool doNotDestroy = false) override;
  bool RemoveAt(int index, bool doNotDestroy = false) override;
  void RemoveAll() override;
  bool IsTabStop() const override { return true; }
  void DoEvent(TEventUI& event) override;
  void SetAttribute(const std::string& name, const std::string& value) override;
  DWORD GetSelectedItemBkColor() const { return selectedBk_; }
  DWORD GetHotItemBkColor() const { return hotBk_; }
  int GetItemHeight() const { return itemHeight_; }

 protected:
  int curSel_ = -1;
  DWORD selectedBk_ = 0xFFCCE4F7;
  DWORD hotBk_ = 0xFFE5F1FB;
  int itemHeight_ = 24;
};

// A closed box showing the selected row; clicking opens the rows below it
// in a drop-down list (CComboWnd) styled by the combo's drop attributes.
class CComboWnd;
class CComboUI : public CContainerUI {
 public:
  CComboUI();
  ~CComboUI() override;
  std::string GetClass() const override;
  void* GetInterface(const std::string& name) override;
  int GetCurSel() const { return curSel_; }
  bool SelectItem(int index, bool triggerEvent = true);
  std::string GetText() const override;
  void SetPos(RECT rc, bool needInvalidate = true) override;
  void DoEvent(TEventUI& event) override;
  void PaintStatusImage(CRenderContext& ctx) override;
  void DoPaint(CRenderContext& ctx, const RECT& paint) override;
  void SetAttribute(const std::string& name, const std::string& value) override;
  bool Activate() override;
  bool IsTabStop() const override { return true; }
  CControlUI* FindControl(FINDCONTROLPROC proc, void* data, UINT flags) override;
  // Removing rows keeps the selection on the same row (or clears it when
  // that row goes), so the combo never shows another row's text.
  bool Remove(CControlUI* control, bool doNotDestroy = false) override;
  bool RemoveAt(int index, bool doNotDestroy = false) override;
  void RemoveAll() override;

  // The drop-down while it is open, else nullptr.
  HWND GetDropWindow() const;
  SIZE GetDropBoxSize() const { return dropBoxSize_; }  // unscaled; 0: automatic
  int GetItemFont() const { return itemFont_ >= 0 ? itemFont_ : font_; }
  // Attribute lists handed to the drop-down's list and to each of its rows.
  const std::string& GetDropListAttributes() const { return dropListAttrs_; }
  const std::string& GetDropItemAttributes() const { return dropItemAttrs_; }
  void DropClosed(CComboWnd* wnd);

 protected:
  bool SetDropAttribute(const std::string& name, const std::string& value);
  int curSel_ = -1;
  int font_ = -1;
  int itemFont_ = -1;
  SIZE dropBoxSize_;
  std::string dropListAttrs_ = "bkcolor=\"#FFFFFFFF\" bordercolor=\"#FFA0A0A0\" bordersize=\"1\"";
  std::string dropItemAttrs_ = "textpadding=\"6,0,6,0\"";
  CComboWnd* drop_ = nullptr;
  DWORD textColor_ = 0xFF000000;
  RECT rcTextPadding_{4, 0, 20, 0};
  std::string normalImage_, hotImage_;
  bool hot_ = false;
};

}  // namespace DirectUI
