#pragma once
// The gallery: a window showing every toolkit control, used by people
// learning the toolkit, by the screenshot tests and by the benchmark.
#include "ui/UIlib.h"

namespace DirectUI {

// Modal popup with "btn_ok" (closes with kOkCode) and "btn_nested" (opens
// another popup on top of itself).
class GalleryPopup : public CWindowImplBaseUI {
 public:
  static constexpr UINT kOkCode = 2;
  std::string GetWindowClassName() const override { return "GalleryPopup"; }
  std::string GetSkinFile() override { return "popup.xml"; }
  void OnOk(TNotifyUI& msg);
  void OnNested(TNotifyUI& msg);
  UINT lastNestedCode = 0;
  DUI_DECLARE_MESSAGE_MAP()
};

class GalleryWnd : public CWindowImplBaseUI {
 public:
  static constexpr UINT kTimerId = 7;
  std::string GetWindowClassName() const override { return "GalleryWnd"; }
  std::string GetSkinFile() override { return "gallery.xml"; }
  void InitWindow() override;
  void OnFinalMessage(HWND hwnd) override;

  void OnTabChanged(TNotifyUI& msg);
  void OnModal(TNotifyUI& msg);
  void OnMenuButton(TNotifyUI& msg);
  void OnMenuItem(TNotifyUI& msg);
  void OnTimer(TNotifyUI& msg);
  void OnAnyClick(TNotifyUI& msg);
  void OnItemSelect(TNotifyUI& msg);
  void OnOpenFile(TNotifyUI& msg);
  void OnPickFolder(TNotifyUI& msg);
  // The float over the rich edit: shown and hidden (clicking it hides it).
  void OnToggleFloat(TNotifyUI& msg);
  LRESULT HandleMessage(UINT msg, WPARAM wParam, LPARAM lParam) override;

  int ticks = 0;
  UINT lastModalCode = 0;
  bool quitOnClose = false;  // the gallery program ends with its window
  std::vector<std::string> droppedFiles;
  DUI_DECLARE_MESSAGE_MAP()

 private:
  CTabLayoutUI* tab_ = nullptr;
  CLabelUI* status_ = nullptr;
  CLabelUI* timerLabel_ = nullptr;
};

}  // namespace DirectUI
