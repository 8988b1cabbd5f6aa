#pragma once
// The combo's drop-down window (a skinned list of the combo's rows).
#include "ui/ui_controls.h"
#include "ui/ui_window.h"

namespace DirectUI {

// Opened by CComboUI::Activate below its combo; deletes itself when closed.
// A click on a row, or Enter / Space on the highlighted row, selects it in
// the combo ("itemselect" on the combo's window) and closes the drop-down;
// Escape or a click elsewhere closes it and changes nothing.
class CComboWnd : public CWindowImplBaseUI {
 public:
  explicit CComboWnd(CComboUI* combo);
  void Open();
  // The combo goes away while the drop-down is open.
  void OwnerGone();
  CListUI* GetList() const { return list_; }

  std::string GetWindowClassName() const override { return "ComboWnd"; }
  std::string GetSkinFile() override { return {}; }
  void Notify(TNotifyUI& msg) override;
  LRESULT HandleMessage(UINT msg, WPARAM wParam, LPARAM lParam) override;
  void OnFinalMessage(HWND hwnd) override;

 protected:
  bool IsTransientPopup() const override { return true; }
  LRESULT OnCreate(UINT msg, WPARAM wParam, LPARAM lParam, bool& handled) override;

 private:
  ~CComboWnd() override = default;
  CListUI* BuildList();
  void Place();
  void Commit(int index);  // -1: close without a choice
  CComboUI* combo_;
  CListUI* list_ = nullptr;
};

}  // namespace DirectUI
