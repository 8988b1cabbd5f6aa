#pragma once
// What a test driver or a scripted run does in place of a person at the
// keyboard and mouse: keys and typed text for a window's focused control,
// the clipboard, the open popup menu (the tray menu), and which window is in
// front. Everything goes the way real input goes, through the window's own
// key handling first. UI thread only.
#include <string>
#include <vector>

#include "ui/ui_types.h"

namespace DirectUI {

// Presses and releases `virtualKey` ('A'..'Z', '0'..'9', VK_RETURN, ...)
// with Ctrl and/or Shift held, for the window's focused control. False when
// the window is gone or the key is not one a keyboard has here.
bool SendKeyChord(HWND hwnd, int virtualKey, bool ctrl, bool shift);

// Types text for the window's focused control: printable ASCII as key
// presses, everything else committed by the input method, as a Chinese input
// method does. False when the window is gone.
bool TypeText(HWND hwnd, const std::string& utf8);

std::string GetClipboardText();
void SetClipboardText(const std::string& utf8);

// The active window (the one keys go to), or null.
HWND GetForegroundWindow();

// The item texts of the open popup menu; empty when none is open.
std::vector<std::string> OpenPopupMenuItems();
// Clicks the item of that text on the open popup menu; false when there is
// none.
bool ClickOpenPopupMenuItem(const std::string& text);
// Saves a picture of the open popup menu as PNG; false when none is open or
// the file could not be written.
bool SaveOpenPopupMenuScreenshot(const std::string& pngPath);

}  // namespace DirectUI
