// File and folder dialogs on Qt's QFileDialog, which hands over to the
// desktop's own dialog (or its portal) where the platform offers one.
#include <QFileDialog>
#include <QWindow>
#include <utility>

#include "ui/qt/qt_host.h"
#include "ui/ui_dialogs.h"

namespace DirectUI {

namespace {

DialogChooser& Chooser() {
  static DialogChooser chooser;  // UI thread only
  return chooser;
}

// Keeps the owner disabled while a dialog is up, as a modal popup does, and
// gives it back the focus afterwards. The owner may be destroyed meanwhile
// (handles are never reused), so it is looked up again at the end.
class OwnerLock {
 public:
  explicit OwnerLock(HWND owner) : owner_(owner) {
    if (CWindowHost* h = HostFromHandle(owner_)) {
      wasEnabled_ = h->isEnabled();
      h->setEnabled(false);
    }
  }
  ~OwnerLock() {
    CWindowHost* h = HostFromHandle(owner_);
    if (!h) return;
    h->setEnabled(wasEnabled_);
    if (h->isVisible()) {
      h->raise();
      h->activateWindow();
    }
  }
  OwnerLock(const OwnerLock&) = delete;
  OwnerLock& operator=(const OwnerLock&) = delete;

 private:
  HWND owner_;
  bool wasEnabled_ = true;
};

std::string CaseBlindPattern(const std::string& pattern) {
  std::string out;
  for (char ch : pattern) {
    const bool lower = ch >= 'a' && ch <= 'z';
    const bool upper = ch >= 'A' && ch <= 'Z';
    if (!lower && !upper) {
      out += ch;
      continue;
    }
    const char lo = lower ? ch : static_cast<char>(ch - 'A' + 'a');
    out += '[';
    out += lo;
    out += static_cast<char>(lo - 'a' + 'A');
    out += ']';
  }
  return out;
}

// The dialog lives without a Qt parent: a disabled parent would disable the
// dialog too. It stays above its owner through the transient parent, and is
// modal to that owner only (application-modal when there is none).
void PlaceOverOwner(QFileDialog& dialog, HWND owner) {
  CWindowHost* host = HostFromHandle(owner);
  if (!host || !host->windowHandle()) {
    dialog.setWindowModality(Qt::ApplicationModal);
    return;
  }
  dialog.setWindowModality(Qt::WindowModal);
  dialog.winId();
  if (dialog.windowHandle()) dialog.windowHandle()->setTransientParent(host->windowHandle());
}

std::string RunDialog(QFileDialog& dialog, HWND owner) {
  PlaceOverOwner(dialog, owner);
  if (dialog.exec() != QDialog::Accepted) return {};
  const QStringList files = dialog.selectedFiles();
  return files.isEmpty() ? std::string() : FromQ(files.front());
}

// Runs the chooser or the desktop's dialog with the owner locked.
std::string Ask(const DialogRequest& request, const std::function<std::string()>& desktop) {
  EnsureApplication();
  OwnerLock lock(request.owner);
  if (Chooser()) {
    // Copied: the chooser may replace itself while it runs.
    DialogChooser chooser = Chooser();
    return chooser(request);
  }
  return desktop();
}

}  // namespace

std::string DialogNameFilter(const FileFilter& filter) {
  std::string patterns;
  size_t start = 0;
  while (start <= filter.pattern.size()) {
    size_t end = filter.pattern.find(';', start);
    if (end == std::string::npos) end = filter.pattern.size();
    std::string one = filter.pattern.substr(start, end - start);
    while (!one.empty() && one.front() == ' ') one.erase(one.begin());
    while (!one.empty() && one.back() == ' ') one.pop_back();
    if (!one.empty()) patterns += (patterns.empty() ? "" : " ") + CaseBlindPattern(one);
    start = end + 1;
  }
  if (patterns.empty()) patterns = "*";
  return filter.text + " (" + patterns + ")";
}

void SetDialogChooser(DialogChooser chooser) { Chooser() = std::move(chooser); }

std::string OpenFileDialog(HWND owner, const OpenFileOptions& options) {
  DialogRequest request;
  request.kind = DialogRequest::OpenFile;
  request.owner = owner;
  request.title = options.title;
  request.folder = options.folder;
  request.filters = options.filters;
  request.filterIndex = options.filterIndex;
  return Ask(request, [&options, owner]() {
    QFileDialog dialog(nullptr, ToQ(options.title), ToQ(options.folder));
    dialog.setFileMode(QFileDialog::ExistingFile);
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    // The list shows the entries' own texts; the case-blind patterns stay hidden.
    dialog.setOption(QFileDialog::HideNameFilterDetails);
    QStringList names;
    for (const FileFilter& f : options.filters) names << ToQ(DialogNameFilter(f));
    if (!names.isEmpty()) {
      dialog.setNameFilters(names);
      const int index = options.filterIndex >= 1 && options.filterIndex <= names.size() ? options.filterIndex : 1;
      dialog.selectNameFilter(names.at(index - 1));
    }
    return RunDialog(dialog, owner);
  });
}

std::string BrowseForFolder(HWND owner, const std::string& title, const std::string& startFolder) {
  DialogRequest request;
  request.kind = DialogRequest::Folder;
  request.owner = owner;
  request.title = title;
  request.folder = startFolder;
  return Ask(request, [&title, &startFolder, owner]() {
    QFileDialog dialog(nullptr, ToQ(title), ToQ(startFolder));
    dialog.setFileMode(QFileDialog::Directory);
    dialog.setOption(QFileDialog::ShowDirsOnly);
    return RunDialog(dialog, owner);
  });
}

}  // namespace DirectUI
