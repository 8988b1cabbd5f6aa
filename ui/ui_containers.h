#pragma once
// Containers and layouts: children laid out top to bottom, left to right, or
// stacked with one selected; floating children are placed at their own position.
#include "ui/ui_control.h"

namespace DirectUI {

class CContainerUI : public CControlUI {
 public:
  CContainerUI() = default;
  ~CContainerUI() override;

  std::string GetClass() const override;
  void* GetInterface(const std::string& name) override;

  CControlUI* GetItemAt(int index) const;
  int GetItemIndex(CControlUI* control) const;
  bool SetItemIndex(CControlUI* control, int index);
  int GetCount() const { return static_cast<int>(items_.size()); }
  virtual bool Add(CControlUI* control);
  virtual bool AddAt(CControlUI* control, int index);
  virtual bool Remove(CControlUI* control, bool doNotDestroy = false);
  virtual bool RemoveAt(int index, bool doNotDestroy = false);
  virtual void RemoveAll();
  // Looks a name up within this sub-tree.
  CControlUI* FindSubControl(const std::string& name);

  RECT GetInset() const;
  void SetInset(RECT rc);
  int GetChildPadding() const;
  void SetChildPadding(int padding);
  void SetAutoDestroy(bool b) { autoDestroy_ = b; }

  // Scrolling where the content is larger than the container.
  void EnableScroll(bool vertical, bool horizontal);
  bool IsVScrollEnabled() const { return vScroll_; }
  SIZE GetScrollPos() const { return scrollPos_; }
  SIZE GetScrollRange() const { return scrollRange_; }
  void SetScrollPos(SIZE pos);

  void SetVisible(bool visible = true) override;
  void SetInternVisible(bool visible = true) override;
  void SetEnabled(bool enable = true) override;
  void SetManager(CPaintManagerUI* manager, CControlUI* parent, bool init = true) override;
  CControlUI* FindControl(FINDCONTROLPROC proc, void* data, UINT flags) override;
  void SetPos(RECT rc, bool needInvalidate = true) override;
  void DoPaint(CRenderContext& ctx, const RECT& paint) override;
  void DoEvent(TEventUI& event) override;
  void SetAttribute(const std::string& name, const std::string& value) override;

 protected:
  void SetFloatPos(CControlUI* child);
  void PaintScrollBars(CRenderContext& ctx);
  void ProcessScroll(SIZE contentSize, RECT rcAvail);
  // Lays the children out one after another, top to bottom or left to right.
  void LayOutLine(RECT rc, bool vertical);

  std::vector<CControlUI*> items_;
  RECT rcInset_;
  int childPadding_ = 0;
  bool autoDestroy_ = true;
  bool vScroll_ = false, hScroll_ = false;
  SIZE scrollPos_, scrollRange_;
};

class CVerticalLayoutUI : public CContainerUI {
 public:
  std::string GetClass() const override;
  void* GetInterface(const std::string& name) override;
  void SetPos(RECT rc, bool needInvalidate = true) override;
};

class CHorizontalLayoutUI : public CContainerUI {
 public:
  std::string GetClass() const override;
  void* GetInterface(const std::string& name) override;
  void SetPos(RECT rc, bool needInvalidate = true) override;
};

// Children stacked on the whole area; exactly one is shown.
class CTabLayoutUI : public CContainerUI {
 public:
  std::string GetClass() const override;
  void* GetInterface(const std::string& name) override;
  bool Add(CControlUI* control) override;
  bool AddAt(CControlUI* control, int index) override;
  bool Remove(CControlUI* control, bool doNotDestroy = false) override;
  void RemoveAll() override;
  int GetCurSel() const { return curSel_; }
  // Shows item index and hides the others; raises "tabselect". False for an
  // index out of range (the selection is then unchanged).
  virtual bool SelectItem(int index);
  bool SelectItem(CControlUI* control);
  void SetAttribute(const std::string& name, const std::string& value) override;

 protected:
  int curSel_ = -1;
  int pendingSel_ = -1;  // "selectedid" given before the children exist
};

}  // namespace DirectUI
