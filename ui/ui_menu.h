#pragma once
// Menus: the skinned menu window built from a menu skin, the tray icon and
// the native popup menu (tray menu).
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "ui/ui_controls.h"
#include "ui/ui_window.h"

namespace DirectUI {

enum MenuAlignment {
  eMenuAlignment_Left = 1 << 1,
  eMenuAlignment_Top = 1 << 2,
  eMenuAlignment_Right = 1 << 3,
  eMenuAlignment_Bottom = 1 << 4,
};

// The root of a menu skin.
class CMenuUI : public CVerticalLayoutUI {
 public:
  std::string GetClass() const override;
  void* GetInterface(const std::string& name) override;
};

// One menu item; a click raises "menu" (sender = this item, so the owner's
// tables match it by name) on the owner's paint manager and closes the menu.
class CMenuElementUI : public CLabelUI {
 public:
  CMenuElementUI();
  std::string GetClass() const override;
  void* GetInterface(const std::string& name) override;
  SIZE EstimateSize(SIZE available) override;
  void DoEvent(TEventUI& event) override;
  void PaintBkColor(CRenderContext& ctx) override;
  void SetAttribute(const std::string& name, const std::string& value) override;
  bool IsChecked() const { return checked_; }
  void SetChecked(bool c) { checked_ = c; }

 private:
  bool hot_ = false;
  bool checked_ = false;
  DWORD hotBk_ = 0xFFE5F1FB;
};

class CMenuWnd : public CWindowImplBaseUI {
 public:
  CMenuWnd();
  // Builds the menu from `xml` and shows it at `point` (screen coordinates);
  // items report to `ownerManager`. `checkInfo` holds item name → checked.
  // The window deletes itself when it closes.
  void Init(CMenuElementUI* ownerElement, const std::string& xml, POINT point,
            CPaintManagerUI* ownerManager, std::map<std::string, bool>* checkInfo = nullptr,
            DWORD alignment = eMenuAlignment_Left | eMenuAlignment_Top);
  std::string GetWindowClassName() const override { return "DuiMenuWnd"; }
  std::string GetSkinFile() override { return xml_; }
  void InitWindow() override;
  void Notify(TNotifyUI& msg) override;
  void OnFinalMessage(HWND hwnd) override;
  LRESULT HandleMessage(UINT msg, WPARAM wParam, LPARAM lParam) override;
  // Called by an item: raise "menu" on the owner and close.
  void ItemClicked(CMenuElementUI* item);
  CPaintManagerUI* GetOwnerManager() const { return ownerManager_; }
  // The most recently opened menu window still showing (tests, tools).
  static CMenuWnd* GetActiveMenu();

 private:
  ~CMenuWnd() override;
  std::string xml_;
  POINT point_;
  DWORD alignment_ = 0;
  CPaintManagerUI* ownerManager_ = nullptr;
  HWND ownerWindow_ = nullptr;
  std::map<std::string, bool>* checkInfo_ = nullptr;
  bool clicking_ = false;
};

class CPopupMenu;

// Tray icon. Left and right clicks arrive at the owner as `callbackMessage`
// with lParam WM_LBUTTONDOWN or WM_RBUTTONDOWN. Where the desktop has no tray
// the icon records its state but shows nothing. On a freedesktop desktop the
// icon is a StatusNotifier item when the session has a watcher, else an icon
// in the legacy (XEmbed) tray.
class CTrayIconImpl;
class CTrayIcon {
 public:
  CTrayIcon();
  ~CTrayIcon();
  // `iconFile` empty: the application's icon (SetApplicationIdentity).
  bool Add(HWND owner, UINT callbackMessage, const std::string& iconFile, const std::string& tooltip);
  // The menu the desktop shows for the icon; its items post WM_COMMAND with
  // their command ids to the owner. A StatusNotifier host shows it itself
  // (and sends no right click), so set it before Add.
  void SetMenu(const CPopupMenu& menu);
  void Remove();
  bool IsAdded() const { return added_; }
  bool IsShownOnDesktop() const;
  // True when the desktop has a tray to show the icon in (a StatusNotifier
  // host or a legacy tray); always false under the offscreen platform.
  static bool IsTrayAvailable();
  static int LiveCount();  // icons currently added in this process
  // Simulates a click as the desktop would report it (tests, tools).
  void SimulateClick(bool right);

 private:
  std::unique_ptr<CTrayIconImpl> impl_;
  bool added_ = false;
};

// A native popup menu: TrackPopupMenu shows it at a screen point and, when an
// item is chosen, posts WM_COMMAND with the item's command id to the owner.
class CPopupMenu {
 public:
  void AppendItem(UINT command, const std::string& text);
  void AppendSeparator();
  bool TrackPopupMenu(POINT screenPoint, HWND owner);
  size_t GetItemCount() const { return items_.size(); }

  struct Item {
    UINT command;  // 0 with an empty text: a separator
    std::string text;
  };
  const std::vector<Item>& Items() const { return items_; }

 private:
  std::vector<Item> items_;
};

}  // namespace DirectUI
