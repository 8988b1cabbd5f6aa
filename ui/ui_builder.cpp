#include "ui/ui_builder.h"

#include <QFile>
#include <QXmlStreamReader>
#include <cstdlib>
#include <memory>

#include "ui/qt/qt_host.h"
#include "ui/ui_attr.h"
#include "ui/ui_controls.h"
#include "ui/ui_manager.h"
#include "ui/ui_menu.h"

namespace DirectUI {

namespace {

struct Node {
  std::string name;
  std::vector<std::pair<std::string, std::string>> attrs;
  std::vector<std::unique_ptr<Node>> children;
  qint64 line = 0, column = 0;
  std::string Attr(const std::string& n) const {
    for (auto& [k, v] : attrs)
      if (k == n) return v;
    return {};
  }
  bool Has(const std::string& n) const {
    for (auto& [k, v] : attrs)
      if (k == n) return true;
    return false;
  }
};

// Limits that keep a damaged or hostile skin from exhausting the stack,
// memory or time: real skins nest a few dozen levels and hold a few hundred
// controls.
constexpr size_t kMaxNesting = 256;
constexpr int kMaxControls = 100000;
constexpr int kMaxIncludeCount = 1000;

std::string Where(const std::string& origin, qint64 line, qint64 column) {
  return origin + ":" + std::to_string(line) + ":" + std::to_string(column) + ": ";
}

std::unique_ptr<Node> ParseXml(const QByteArray& data, const std::string& origin, std::string& error) {
  QXmlStreamReader xml(data);
  std::unique_ptr<Node> root;
  std::vector<Node*> stack;
  int elements = 0;
  while (!xml.atEnd()) {
    auto token = xml.readNext();
    if (token == QXmlStreamReader::StartElement) {
      if (stack.size() >= kMaxNesting || ++elements > kMaxControls) {
        error = Where(origin, xml.lineNumber(), xml.columnNumber()) +
                (stack.size() >= kMaxNesting ? "elements nested deeper than " + std::to_string(kMaxNesting)
                                             : "more than " + std::to_string(kMaxControls) + " elements");
        return nullptr;
      }
      auto node = std::make_unique<Node>();
      node->name = FromQ(xml.name().toString());
      node->line = xml.lineNumber();
      node->column = xml.columnNumber();
      for (const auto& a : xml.attributes())
        node->attrs.emplace_back(FromQ(a.name().toString()), FromQ(a.value().toString()));
      Node* raw = node.get();
      if (stack.empty()) {
        root = std::move(node);
      } else {
        stack.back()->children.push_back(std::move(node));
      }
      stack.push_back(raw);
    } else if (token == QXmlStreamReader::EndElement) {
      if (!stack.empty()) stack.pop_back();
    }
  }
  if (xml.hasError()) {
    error = Where(origin, xml.lineNumber(), xml.columnNumber()) + FromQ(xml.errorString());
    return nullptr;
  }
  if (!root) {
    error = origin + ":1:1: no element";
    return nullptr;
  }
  return root;
}

bool IsConfigElement(const std::string& n) {
  return n == "Font" || n == "Default" || n == "Image" || n == "Include" || n == "Window";
}

class Builder {
 public:
  Builder(IDialogBuilderCallback* cb, CPaintManagerUI* pm, std::string& error)
      : cb_(cb), pm_(pm), error_(error) {}

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
    if (windowLevel) delete first;
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
              delete made;
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
    if (++depth_ > 16) {
      Fail(origin, inc, "includes nested too deeply");
      return nullptr;
    }
    std::string source = inc.Attr("source");
    std::string path = pm_ ? pm_->ResolvePath(source) : source;
    QFile f(ToQ(path));
    if (source.empty() || !f.open(QIODevice::ReadOnly)) {
      Fail(origin, inc, "cannot read included file '" + source + "'");
      --depth_;
      return nullptr;
    }
    std::string err;
    auto doc = ParseXml(f.readAll(), source, err);
    if (!doc) {
      if (!failed_) error_ = err;
      failed_ = true;
      --depth_;
      return nullptr;
    }
    CControlUI* made = nullptr;
    if (doc->name == "Window") made = BuildChildren(*doc, source, parent, parent == nullptr);
    else made = BuildElement(*doc, source, parent);
    --depth_;
    return made;
  }

  CControlUI* BuildElement(const Node& n, const std::string& origin, CControlUI* parent) {
    const Nesting nesting(*this, origin, n);
    if (failed_) return nullptr;
    if (IsConfigElement(n.name)) {
      Fail(origin, n, "element '" + n.name + "' cannot stand here");
      return nullptr;
    }
    CControlUI* control = CDialogBuilder::CreateBuiltinControl(n.name);
    if (!control && cb_) control = cb_->CreateControl(n.name);
    if (!control) {
      Fail(origin, n, "unknown control class '" + n.name + "'");
      return nullptr;
    }
    // Per-class defaults first, then the element's own attributes.
    if (pm_) {
      std::string defaults = pm_->GetDefaultAttributeList(n.name);
      if (defaults.empty()) defaults = pm_->GetDefaultAttributeList(control->GetClass());
      if (!defaults.empty()) control->SetAttributeList(defaults);
    }
    auto* query = dynamic_cast<IQueryControlText*>(cb_);
    for (auto& [k, v] : n.attrs) {
      if (k == "text" && query) {
        std::string replaced = query->QueryControlText(v, n.name);
        control->SetAttribute(k, replaced.empty() ? v : replaced);
        continue;
      }
      control->SetAttribute(k, v);
    }

    auto* container = static_cast<CContainerUI*>(control->GetInterface("Container"));
    if (!n.children.empty()) {
      if (!container) {
        delete control;
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
          delete control;
          return nullptr;
        }
      }
    }
    if (parent) {
      auto* pc = static_cast<CContainerUI*>(parent->GetInterface("Container"));
      if (!pc || !pc->Add(control)) {
        delete control;
        Fail(origin, n, "cannot add control to its parent");
        return nullptr;
      }
    }
    return control;
  }

  IDialogBuilderCallback* cb_;
  CPaintManagerUI* pm_;
  std::string& error_;
  bool failed_ = false;
  int depth_ = 0;    // includes
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

CControlUI* CDialogBuilder::Create(const std::string& file, IDialogBuilderCallback* callback, CPaintManagerUI* manager,
                                   CControlUI* parent) {
  error_.clear();
  fileMissing_ = false;
  EnsureApplication();
  std::string path = manager ? manager->ResolvePath(file) : file;
  if (!manager && !file.empty() && file[0] != '/') path = CPaintManagerUI::GetResourcePath() + file;
  QFile f(ToQ(path));
  if (file.empty() || !f.open(QIODevice::ReadOnly)) {
    fileMissing_ = true;
    error_ = "cannot read '" + file + "'";
    return nullptr;
  }
  QByteArray data = f.readAll();
  return CreateFromText(std::string(data.constData(), static_cast<size_t>(data.size())), file, callback, manager,
                        parent);
}

CControlUI* CDialogBuilder::CreateFromText(const std::string& xml, const std::string& origin,
                                           IDialogBuilderCallback* callback, CPaintManagerUI* manager,
                                           CControlUI* parent) {
  error_.clear();
  EnsureApplication();
  auto doc = ParseXml(QByteArray(xml.data(), static_cast<qsizetype>(xml.size())), origin, error_);
  if (!doc) return nullptr;
  Builder b(callback, manager, error_);
  CControlUI* root = b.BuildDocument(*doc, origin, nullptr);
  if (b.Failed()) {
    delete root;
    return nullptr;
  }
  if (!root) {
    error_ = origin + ":" + std::to_string(doc->line) + ":" + std::to_string(doc->column) + ": no control in markup";
    return nullptr;
  }
  if (parent) {
    auto* pc = static_cast<CContainerUI*>(parent->GetInterface("Container"));
    if (!pc || !pc->Add(root)) {
      delete root;
      error_ = origin + ": cannot add the tree to its parent";
      return nullptr;
    }
  }
  return root;
}

}  // namespace DirectUI
