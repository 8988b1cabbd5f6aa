#pragma once
// Builds control trees from skin markup (see docs/skin-format.md).
#include <memory>
#include <string>

#include "ui/ui_control.h"

namespace DirectUI {

class CPaintManagerUI;
// A skin file parsed together with every file it includes (CDialogBuilder::Load).
struct CSkinTree;

class IDialogBuilderCallback {
 public:
  // Asked for every element whose class the toolkit does not know, by its
  // element name; nullptr lets the toolkit report the class as unknown.
  virtual CControlUI* CreateControl(const std::string& className) = 0;

  virtual ~IDialogBuilderCallback() = default;
};

// Lets a window supply the caption of a control at build time (translations,
// texts computed at run time): asked for every "text" attribute; an empty
// answer keeps the skin's text.
class IQueryControlText {
 public:
  virtual ~IQueryControlText() = default;
  virtual std::string QueryControlText(const std::string& text, const std::string& className) = 0;
};

class CDialogBuilder {
 public:
  // Loads `file` (relative to the resource path, or absolute) and builds its
  // tree. Window, Font, Default and Include elements configure `manager`.
  // Returns the root control, or nullptr with GetLastError() describing the
  // failure ("file:line:column: message" for malformed markup).
  CControlUI* Create(const std::string& file, IDialogBuilderCallback* callback = nullptr,
                     CPaintManagerUI* manager = nullptr, CControlUI* parent = nullptr);
  // Same from markup text; `origin` names it in messages.
  CControlUI* CreateFromText(const std::string& xml, const std::string& origin,
                             IDialogBuilderCallback* callback = nullptr, CPaintManagerUI* manager = nullptr,
                             CControlUI* parent = nullptr);

  // Reads, parses and checks `file` and the files it includes without
  // building it: every class known to the toolkit or to `factory` (asked once
  // per class; it must have no side effects), children only under
  // containers, one root, the limits kept. The tree then builds any number
  // of times with the Create below, without reading a file and without
  // failing on the markup. Null, with GetLastError(), when the skin is
  // missing or damaged.
  std::shared_ptr<const CSkinTree> Load(const std::string& file, IDialogBuilderCallback* factory,
                                        CPaintManagerUI* manager);
  CControlUI* Create(const CSkinTree& skin, IDialogBuilderCallback* callback = nullptr,
                     CPaintManagerUI* manager = nullptr, CControlUI* parent = nullptr);

  const std::string& GetLastError() const { return error_; }
  // True when the last failure was that the file could not be read at all.
  bool FileMissing() const { return fileMissing_; }

  // Creates a toolkit control by class name ("Button", "VerticalLayout", ...).
  static CControlUI* CreateBuiltinControl(const std::string& className);

 private:
  bool ReadSkinFile(const std::string& file, CPaintManagerUI* manager, std::string& data);
  CControlUI* Build(const CSkinTree& skin, IDialogBuilderCallback* callback, CPaintManagerUI* manager,
                    CControlUI* parent);

  std::string error_;
  bool fileMissing_ = false;
};

}  // namespace DirectUI
