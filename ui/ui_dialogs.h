#pragma once
// The desktop's file and folder dialogs, owned by a toolkit window: the owner
// is disabled while the dialog is up and gets the focus back afterwards.
// Paths are UTF-8; an empty answer means the user cancelled.
#include <functional>
#include <string>
#include <vector>

#include "ui/ui_types.h"

namespace DirectUI {

// One entry of a dialog's type list: the text the user sees and the patterns
// it stands for, separated by ';' ("*.doc;*.docx"; a trailing ';' is allowed).
// Patterns match file names without regard to case, as users of the desktop
// expect for extensions typed in any case.
struct FileFilter {
  std::string text;
  std::string pattern;
};

struct OpenFileOptions {
  std::vector<FileFilter> filters;
  int filterIndex = 1;     // 1-based entry selected at first; out of range: the first
  std::string title;       // empty: the desktop's default title
  std::string folder;      // empty: the desktop's choice
};

// Lets the user pick one existing file. Blocks (running the event loop) until
// the dialog closes.
std::string OpenFileDialog(HWND owner, const OpenFileOptions& options);

// Lets the user pick a folder. Blocks like OpenFileDialog.
std::string BrowseForFolder(HWND owner, const std::string& title, const std::string& startFolder = {});

// What a dialog was asked to show, as a chooser sees it.
struct DialogRequest {
  enum Kind { OpenFile, Folder } kind = OpenFile;
  HWND owner = nullptr;
  std::string title;
  std::string folder;
  std::vector<FileFilter> filters;  // OpenFile only
  int filterIndex = 1;
};
// Answers a dialog instead of the desktop (tests, scripted runs): returns the
// chosen path or empty for a cancel. It runs while the owner is disabled,
// exactly where the real dialog would.
using DialogChooser = std::function<std::string(const DialogRequest&)>;
// Installs a chooser for every later dialog; an empty one restores the desktop's.
void SetDialogChooser(DialogChooser chooser);

// The name filter a dialog shows for an entry: the text, then the patterns
// made case-blind ("*.doc" → "*.[dD][oO][cC]"). Exposed for tests.
std::string DialogNameFilter(const FileFilter& filter);

}  // namespace DirectUI
