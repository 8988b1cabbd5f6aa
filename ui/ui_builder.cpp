#include "ui/ui_builder.h"

#include <QFile>
#include <cstdlib>
#include <map>
#include <memory>

#include "ui/qt/qt_host.h"
#include "ui/skin_markup.h"
#include "ui/ui_attr.h"
#include "ui/ui_controls.h"
#include "ui/ui_manager.h"
#include "ui/ui_menu.h"

namespace DirectUI {

struct CSkinTree {
  std::unique_ptr<skin_markup::Node> root;
  std::string origin;
};

namespace {

using skin_markup::Node;

// Real skins hold a few hundred controls; more are refused.
constexpr int kMaxControls = skin_markup::kMaxElements;
constexpr size_t kMaxNesting = skin_markup::kMaxNesting;
constexpr int kMaxIncludeCount = 1000;
constexpr int kMaxIncludeDepth = 16;

std::string Where(const std::string& origin, long long line, long long column) {
  return origin + ":" + std::to_string(line) + ":" + std::to_string(column) + ": ";
}

// Reads and parses every file that `n` and its descendants include, each
// Include element once (its count repeats the built tree, not the reading).
// `budget` counts the files read, so that a skin whose includes fan out
// cannot read without end.
bool LoadIncludes(Node& n, const std::string& origin, CPaintManagerUI* pm, int depth, int& budget,
                  std::string& error) {
  for (auto& child : n.children) {
    Node& c = *child;
    if (c.name != "Include") {
      if (!LoadIncludes(c, origin, pm, depth, budget, error)) return false;
      continue;
    }
    if (depth >= kMaxIncludeDepth || ++budget > kMaxControls) {
      error = Where(origin, c.line, c.column) +
              (depth >= kMaxIncludeDepth ? std::string("includes nested too deeply")
                                         : "more than " + std::to_string(kMaxControls) + " controls and includes");
      return false;
    }
    const std::string source = c.Attr("source");
    QFile f(ToQ(pm ? pm->ResolvePath(source) : source));
    if (source.empty() || !f.open(QIODevice::ReadOnly)) {
      error = Where(origin, c.line, c.column) + "cannot read included file '" + source + "'";
      return false;
    }
    const QByteArray text = f.readAll();
    c.included = skin_markup::Parse(std::string_view(text.constData(), static_cast<size_t>(text.size())), source, error);
    if (!c.included || !LoadIncludes(*c.included, source, pm, depth + 1, budget, error)) return false;
  }
  return true;
}

std::unique_ptr<CSkinTree> ParseTree(const std::string& text, const std::string& origin, CPaintManagerUI* pm,
                                     std::string& error) {
  auto tree = std::make_unique<CSkinTree>();
  tree->origin = origin;
  tree->root = skin_markup::Parse(text, origin, error);
  int budget = 0;
  if (!tree->root || !LoadIncludes(*tree->root, origin, pm, 0, budget, error)) return nullptr;
  return tree;
}

std::string NoControlError(const CSkinTree& skin) {
  return Where(skin.origin, skin.root->line, skin.root->column) + "no control in markup";
}

bool IsConfigElement(const std::string& n) {
  return n == "Font" || n == "Default" || n == "Image" || n == "Include" || n == "Window";
}

class Builder {
 public:
  Builder(IDialogBuilderCallback* cb, CPaintManagerUI* pm, std::string& error)
      : cb_(cb), pm_(pm), error_(error) {}

  // A builder that only checks: it walks the tree as a build would and fails
  // where a build would, but makes one probe control per class (from
  // `factory`, which must have no side effects) and configures no manager.
  static Builder Checker(IDialogBuilderCallback* factory, std::string& error) {
    Builder b(factory, nullptr, error);
    b.checkOnly_ = true;
    return b;
  }

  // Builds the tree of one document; returns its root control.
  CControlUI* BuildDocument(const Node& top, const std::string& origin, CControlUI* parent) {
    if (top.name == "Window") {
      if (pm_)
        for (auto& [k, v] : top.attrs) pm_->SetWindowAttribute(k, v);
      return BuildChildren(top, origin, parent, true);
    }
    return BuildElement(top, origin, parent);
  }

  bool Failed() const { return failed_; }

 private:
  bool Fail(const std::string& origin, const Node& n, const std::string& what) {
    if (!failed_) error_ = Where(origin, n.line, n.column) + what;
    failed_ = true;
    return false;
  }

  // Every control built and every file included counts against one budget, so
  // that repeated includes of files without controls are bounded too.
  bool CountPiece(const std::string& origin, const Node& n) {
    if (++pieces_ <= kMaxControls) return true;
    return Fail(origin, n, "more than " + std::to_string(kMaxControls) + " controls and includes");
  }

  // Counts the controls built and how deep they sit, across included files;
  // false (after failing the build) when either goes past its limit.
  class Nesting {
   public:
    Nesting(Builder& b, const std::string& origin, const Node& n) : b_(b) {
      ++b_.nesting_;
      if (b_.nesting_ > static_cast<int>(kMaxNesting)) {
        b_.Fail(origin, n, "controls nested deeper than " + std::to_string(kMaxNesting));
      } else {
        b_.CountPiece(origin, n);
      }
    }
    ~Nesting() { --b_.nesting_; }
    Nesting(const Nesting&) = delete;
    Nesting& operator=(const Nesting&) = delete;

   private:
    Builder& b_;
  };

  // Processes the children of `n`. At window level the first control built is
  // the root; further top-level controls are an error.
  CControlUI* BuildChildren(const Node& n, const std::string& origin, CControlUI* parent, bool windowLevel) {
    CControlUI* first = nullptr;
    BuildEachChild(n, origin, parent, windowLevel, first);
    if (!failed_) return first;
    // Below window level every control built has a parent that frees it; a
    // root built before a later failure has none.
    if (windowLevel) Discard(first);
    return nullptr;
  }

  void BuildEachChild(const Node& n, const std::string& origin, CControlUI* parent, bool windowLevel,
                      CControlUI*& first) {
    for (auto& child : n.children) {
      if (failed_) return;
      const Node& c = *child;
      if (c.name == "Font") {
        if (pm_) {
          pm_->AddFont(ParseInt(c.Attr("id")), c.Attr("name"), ParseInt(c.Attr("size")),
                       ParseBool(c.Attr("bold")), ParseBool(c.Attr("underline")), ParseBool(c.Attr("italic")),
                       ParseBool(c.Attr("default")));
        }
        continue;
      }
      if (c.name == "Default") {
        if (pm_) pm_->AddDefaultAttributeList(c.Attr("name"), c.Attr("value"));
        continue;
      }
      if (c.name == "Image" || c.name == "Window") continue;
      if (c.name == "Include") {
        const int count = c.Has("count") ? std::max(1, ParseInt(c.Attr("count"))) : 1;
        if (count > kMaxIncludeCount) {
          Fail(origin, c, "include count over " + std::to_string(kMaxIncludeCount));
          return;
        }
        for (int i = 0; i < count && !failed_; ++i) {
          CControlUI* made = BuildInclude(c, origin, windowLevel ? nullptr : parent);
          if (failed_) return;
          if (!made) continue;
          if (windowLevel) {
            if (first) {
              Discard(made);
              Fail(origin, c, "more than one root control");
              return;
            }
            first = made;
          } else if (!first) {
            first = made;
          }
        }
        continue;
      }
      if (windowLevel && first) {
        Fail(origin, c, "more than one root control");
        return;
      }
      CControlUI* made = BuildElement(c, origin, windowLevel ? nullptr : parent);
      if (failed_) return;
      if (!first) first = made;
    }
  }

  CControlUI* BuildInclude(const Node& inc, const std::string& origin, CControlUI* parent) {
    if (!CountPiece(origin, inc)) return nullptr;
    if (!inc.included) {
      Fail(origin, inc, "cannot read included file '" + inc.Attr("source") + "'");
      return nullptr;
    }
    const Node& doc = *inc.included;
    const std::string source = inc.Attr("source");
    if (doc.name == "Window") return BuildChildren(doc, source, parent, parent == nullptr);
    return BuildElement(doc, source, parent);
  }

  // A control of that class: new, or the class's probe when only checking.
  CControlUI* MakeControl(const std::string& className) {
    if (!checkOnly_) {
      CControlUI* control = CDialogBuilder::CreateBuiltinControl(className);
      return control || !cb_ ? control : cb_->CreateControl(className);
    }
    auto [it, added] = probes_.try_emplace(className);
    if (added) {
      it->second.reset(CDialogBuilder::CreateBuiltinControl(className));
      if (!it->second && cb_) it->second.reset(cb_->CreateControl(className));
    }
    return it->second.get();
  }

  void Discard(CControlUI* control) {
    if (!checkOnly_) delete control;
  }

  CControlUI* BuildElement(const Node& n, const std::string& origin, CControlUI* parent) {
    const Nesting nesting(*this, origin, n);
    if (failed_) return nullptr;
    if (IsConfigElement(n.name)) {
      Fail(origin, n, "element '" + n.name + "' cannot stand here");
      return nullptr;
    }
    CControlUI* control = MakeControl(n.name);
    if (!control) {
      Fail(origin, n, "unknown control class '" + n.name + "'");
      return nullptr;
    }
    if (!checkOnly_) ApplyAttributes(*control, n);

    auto* container = static_cast<CContainerUI*>(control->GetInterface("Container"));
    if (!n.children.empty()) {
      if (!container) {
        Discard(control);
        Fail(origin, *n.children.front(), "control '" + n.name + "' cannot hold children");
        return nullptr;
      }
      for (auto& child : n.children) {
        if (child->name == "Include") {
          BuildInclude(*child, origin, container);
        } else {
          BuildElement(*child, origin, container);
        }
        if (failed_) {
          Discard(control);
          return nullptr;
        }
      }
    }
    if (parent && !checkOnly_) {
      auto* pc = static_cast<CContainerUI*>(parent->GetInterface("Container"));
      if (!pc || !pc->Add(control)) {
        delete control;
        Fail(origin, n, "cannot add control to its parent");
        return nullptr;
      }
    }
    return control;
  }

  // Per-class defaults first, then the element's own attributes.
  void ApplyAttributes(CControlUI& control, const Node& n) {
    if (pm_) {
      std::string defaults = pm_->GetDefaultAttributeList(n.name);
      if (defaults.empty()) defaults = pm_->GetDefaultAttributeList(control.GetClass());
      if (!defaults.empty()) control.SetAttributeList(defaults);
    }
    auto* query = dynamic_cast<IQueryControlText*>(cb_);
    for (auto& [k, v] : n.attrs) {
      if (k == "text" && query) {
        std::string replaced = query->QueryControlText(v, n.name);
        control.SetAttribute(k, replaced.empty() ? v : replaced);
        continue;
      }
      control.SetAttribute(k, v);
    }
  }

  IDialogBuilderCallback* cb_;
  CPaintManagerUI* pm_;
  std::string& error_;
  bool failed_ = false;
  bool checkOnly_ = false;
  std::map<std::string, std::unique_ptr<CControlUI>> probes_;  // by class, when only checking
  int nesting_ = 0;  // controls, across includes
  int pieces_ = 0;    // controls and includes
};

}  // namespace

CControlUI* CDialogBuilder::CreateBuiltinControl(const std::string& n) {
  if (n == "Control") return new CControlUI;
  if (n == "Container") return new CContainerUI;
  if (n == "VerticalLayout") return new CVerticalLayoutUI;
  if (n == "HorizontalLayout") return new CHorizontalLayoutUI;
  if (n == "TabLayout") return new CTabLayoutUI;
  if (n == "Label") return new CLabelUI;
  if (n == "Text") {
    auto* l = new CLabelUI;
    l->SetShowHtml(true);
    return l;
  }
  if (n == "Button") return new CButtonUI;
  if (n == "Option" || n == "CheckBox") return new COptionUI;
  if (n == "Edit") return new CEditUI;
  if (n == "RichEdit") return new CRichEditUI;
  if (n == "List") return new CListUI;
  if (n == "ListLabelElement" || n == "ListElement") return new CListLabelElementUI;
  if (n == "Combo") return new CComboUI;
  if (n == "Menu") return new CMenuUI;
  if (n == "MenuElement") return new CMenuElementUI;
  return nullptr;
}

bool CDialogBuilder::ReadSkinFile(const std::string& file, CPaintManagerUI* manager, std::string& data) {
  error_.clear();
  fileMissing_ = false;
  EnsureApplication();
  std::string path = manager ? manager->ResolvePath(file) : file;
  if (!manager && !file.empty() && file[0] != '/') path = CPaintManagerUI::GetResourcePath() + file;
  QFile f(ToQ(path));
  if (file.empty() || !f.open(QIODevice::ReadOnly)) {
    fileMissing_ = true;
    error_ = "cannot read '" + file + "'";
    return false;
  }
  const QByteArray bytes = f.readAll();
  data.assign(bytes.constData(), static_cast<size_t>(bytes.size()));
  return true;
}

CControlUI* CDialogBuilder::Create(const std::string& file, IDialogBuilderCallback* callback, CPaintManagerUI* manager,
                                   CControlUI* parent) {
  std::string data;
  if (!ReadSkinFile(file, manager, data)) return nullptr;
  auto tree = ParseTree(data, file, manager, error_);
  return tree ? Build(*tree, callback, manager, parent) : nullptr;
}

CControlUI* CDialogBuilder::CreateFromText(const std::string& xml, const std::string& origin,
                                           IDialogBuilderCallback* callback, CPaintManagerUI* manager,
                                           CControlUI* parent) {
  error_.clear();
  EnsureApplication();
  auto tree = ParseTree(xml, origin, manager, error_);
  return tree ? Build(*tree, callback, manager, parent) : nullptr;
}

std::shared_ptr<const CSkinTree> CDialogBuilder::Load(const std::string& file, IDialogBuilderCallback* factory,
                                                      CPaintManagerUI* manager) {
  std::string data;
  if (!ReadSkinFile(file, manager, data)) return nullptr;
  std::shared_ptr<CSkinTree> tree = ParseTree(data, file, manager, error_);
  if (!tree) return nullptr;
  Builder checker = Builder::Checker(factory, error_);
  const bool hasRoot = checker.BuildDocument(*tree->root, file, nullptr) != nullptr;
  if (checker.Failed()) return nullptr;
  if (!hasRoot) {
    error_ = NoControlError(*tree);
    return nullptr;
  }
  return tree;
}

CControlUI* CDialogBuilder::Create(const CSkinTree& skin, IDialogBuilderCallback* callback, CPaintManagerUI* manager,
                                   CControlUI* parent) {
  error_.clear();
  EnsureApplication();
  return Build(skin, callback, manager, parent);
}

CControlUI* CDialogBuilder::Build(const CSkinTree& skin, IDialogBuilderCallback* callback, CPaintManagerUI* manager,
                                  CControlUI* parent) {
  Builder b(callback, manager, error_);
  CControlUI* root = b.BuildDocument(*skin.root, skin.origin, nullptr);
  if (b.Failed()) {
    delete root;
    return nullptr;
  }
  if (!root) {
    error_ = NoControlError(skin);
    return nullptr;
  }
  if (parent) {
    auto* pc = static_cast<CContainerUI*>(parent->GetInterface("Container"));
    if (!pc || !pc->Add(root)) {
      delete root;
      error_ = skin.origin + ": cannot add the tree to its parent";
      return nullptr;
    }
  }
  return root;
}

}  // namespace DirectUI
