// Screen-reader bridge, walked through Qt's own accessibility API as a
// reader would: roles, names, states, actions and the life of interfaces.
#include <QAccessible>
#include <QAccessibleActionInterface>
#include <algorithm>
#include <functional>
#include <vector>

#include "ui/qt/qt_host.h"
#include "ui/tests/ui_test_support.h"

using namespace DirectUI;
using uitest::Recorder;
using uitest::UiTest;
using uitest::WaitUntil;

namespace {

const char kSkin[] = R"(<Window size="400,360">
  <VerticalLayout name="root" bkcolor="#FFFFFFFF">
    <HorizontalLayout height="30">
      <Button name="btn_ok" text="确定" width="60"/>
      <Button name="btn_icon" tooltip="设置" width="30"/>
      <Button name="btn_off" text="禁用" enabled="false" width="60"/>
      <Button name="btn_hidden" text="看不见" visible="false" width="60"/>
    </HorizontalLayout>
    <Text name="lb_html" text="&lt;b&gt;粗体&lt;/b&gt; 文字" height="24"/>
    <HorizontalLayout height="30">
      <Option name="opt_a" text="单选一" group="g" selected="true" width="80"/>
      <Option name="opt_b" text="单选二" group="g" width="80"/>
      <CheckBox name="chk" text="自动更新" width="80"/>
    </HorizontalLayout>
    <Edit name="ed" height="26"/>
    <Combo name="cb" tooltip="语言" height="26" selectedid="1">
      <ListLabelElement text="中文"/><ListLabelElement text="English"/>
    </Combo>
    <List name="ls" height="90">
      <ListLabelElement text="第一项"/><ListLabelElement text="第二项"/><ListLabelElement text="第三项"/>
    </List>
  </VerticalLayout></Window>)";

class A11yWnd : public CWindowImplBaseUI {
 public:
  std::string GetWindowClassName() const override { return "A11yWnd"; }
  std::string GetSkinFile() override { return "a11y.xml"; }
};

class AccessibleTest : public UiTest {
 protected:
  void SetUp() override {
    UiTest::SetUp();
    skin.Write("a11y.xml", kSkin);
    ASSERT_NE(w.Create(nullptr, "无障碍", UI_WNDSTYLE_DIALOG, 0), nullptr);
    w.ShowWindow(true);
    w.GetPaintManager().UpdateLayout();
    w.GetPaintManager().AddNotifier(&rec);
    top = QAccessible::queryAccessibleInterface(w.Host());
    ASSERT_NE(top, nullptr);
  }
  void TearDown() override {
    w.GetPaintManager().RemoveNotifier(&rec);
    w.Close();
    WaitUntil([&] { return !IsWindow(w.GetHWND()); });
    UiTest::TearDown();
  }
  // Depth-first search by name, checking on the way that every child names
  // its parent correctly (readers navigate both ways).
  QAccessibleInterface* Find(const QString& name, QAccessibleInterface* from = nullptr) {
    from = from ? from : top;
    for (int i = 0; i < from->childCount(); ++i) {
      QAccessibleInterface* c = from->child(i);
      if (!c) continue;
      EXPECT_EQ(c->parent(), from) << c->text(QAccessible::Name).toStdString();
      if (c->text(QAccessible::Name) == name) return c;
      if (QAccessibleInterface* deeper = Find(name, c)) return deeper;
    }
    return nullptr;
  }
  static void Press(QAccessibleInterface* i, const QString& action) {
    ASSERT_NE(i->actionInterface(), nullptr);
    ASSERT_TRUE(i->actionInterface()->actionNames().contains(action));
    i->actionInterface()->doAction(action);
  }
  A11yWnd w;
  Recorder rec;
  QAccessibleInterface* top = nullptr;
};

}  // namespace

TEST_F(AccessibleTest, RolesAndNamesOfEveryKindOfControl) {
  EXPECT_EQ(top->role(), QAccessible::Window);
  EXPECT_EQ(top->text(QAccessible::Name), QStringLiteral("无障碍"));
  struct Expect {
    const char* name;
    QAccessible::Role role;
  };
  for (const Expect& e : {Expect{"确定", QAccessible::Button}, Expect{"设置", QAccessible::Button},
                          Expect{"粗体 文字", QAccessible::StaticText}, Expect{"单选一", QAccessible::RadioButton},
                          Expect{"自动更新", QAccessible::CheckBox}, Expect{"语言", QAccessible::ComboBox},
                          Expect{"第二项", QAccessible::ListItem}}) {
    QAccessibleInterface* i = Find(QString::fromUtf8(e.name));
    ASSERT_NE(i, nullptr) << e.name;
    EXPECT_EQ(i->role(), e.role) << e.name;
    EXPECT_FALSE(i->rect().isEmpty()) << e.name;
  }
  EXPECT_EQ(Find(QStringLiteral("看不见")), nullptr);  // hidden controls are not announced
  EXPECT_EQ(Find(QStringLiteral("语言"))->text(QAccessible::Value), QStringLiteral("English"));
  // The list holds its rows; the edit is its native editor.
  QAccessibleInterface* list = Find(QStringLiteral("第一项"))->parent();
  EXPECT_EQ(list->role(), QAccessible::List);
  EXPECT_EQ(list->childCount(), 3);
  bool sawEditor = false;
  std::function<void(QAccessibleInterface*)> walk = [&](QAccessibleInterface* i) {
    for (int k = 0; k < i->childCount(); ++k) {
      QAccessibleInterface* c = i->child(k);
      if (c && c->role() == QAccessible::EditableText) sawEditor = true;
      if (c) walk(c);
    }
  };
  walk(top);
  EXPECT_TRUE(sawEditor);
}

TEST_F(AccessibleTest, StatesFollowTheControls) {
  EXPECT_TRUE(Find(QStringLiteral("禁用"))->state().disabled);
  EXPECT_TRUE(Find(QStringLiteral("禁用"))->actionInterface()->actionNames().isEmpty());
  EXPECT_FALSE(Find(QStringLiteral("确定"))->state().disabled);
  EXPECT_TRUE(Find(QStringLiteral("单选一"))->state().checked);
  EXPECT_FALSE(Find(QStringLiteral("单选二"))->state().checked);
  static_cast<COptionUI*>(w.GetPaintManager().FindControl("opt_b"))->Selected(true);
  EXPECT_FALSE(Find(QStringLiteral("单选一"))->state().checked);
  EXPECT_TRUE(Find(QStringLiteral("单选二"))->state().checked);
  EXPECT_TRUE(Find(QStringLiteral("语言"))->state().hasPopup);
  w.GetPaintManager().FindControl("btn_ok")->SetEnabled(false);
  EXPECT_TRUE(Find(QStringLiteral("确定"))->state().disabled);
}

TEST_F(AccessibleTest, ActionsActLikeTheMouse) {
  Press(Find(QStringLiteral("确定")), QAccessibleActionInterface::pressAction());
  EXPECT_EQ(rec.Count("click", "btn_ok"), 1);
  Press(Find(QStringLiteral("自动更新")), QAccessibleActionInterface::toggleAction());
  EXPECT_TRUE(static_cast<COptionUI*>(w.GetPaintManager().FindControl("chk"))->IsSelected());
  Press(Find(QStringLiteral("第三项")), QAccessibleActionInterface::pressAction());
  EXPECT_EQ(static_cast<CListUI*>(w.GetPaintManager().FindControl("ls"))->GetCurSel(), 2);
  EXPECT_TRUE(Find(QStringLiteral("第三项"))->state().selected);
  EXPECT_EQ(rec.Count("itemselect", "ls"), 1);
}

TEST_F(AccessibleTest, InterfacesAreStableAndGoWithTheirControls) {
  QAccessibleInterface* row = Find(QStringLiteral("第三项"));
  ASSERT_NE(row, nullptr);
  EXPECT_EQ(Find(QStringLiteral("第三项")), row);  // one interface per control
  QAccessible::Id id = QAccessible::uniqueId(row);
  static_cast<CListUI*>(w.GetPaintManager().FindControl("ls"))->RemoveAt(2);
  EXPECT_EQ(QAccessible::accessibleInterface(id), nullptr);
  EXPECT_EQ(Find(QStringLiteral("第三项")), nullptr);
}

namespace {

// What a listening reader is told: event type and the name of the control.
struct HeardEvent {
  QAccessible::Event type;
  QString name;
  QAccessible::State changed;
  QString value;
};
std::vector<HeardEvent>& Heard() {
  static std::vector<HeardEvent> heard;
  return heard;
}
void Listen(QAccessibleEvent* event) {
  HeardEvent e{event->type(), {}, {}, {}};
  if (QAccessibleInterface* iface = event->accessibleInterface()) e.name = iface->text(QAccessible::Name);
  if (event->type() == QAccessible::StateChanged)
    e.changed = static_cast<QAccessibleStateChangeEvent*>(event)->changedStates();
  if (event->type() == QAccessible::ValueChanged)
    e.value = static_cast<QAccessibleValueChangeEvent*>(event)->value().toString();
  Heard().push_back(e);
}

class AccessibleEventsTest : public AccessibleTest {
 protected:
  void SetUp() override {
    AccessibleTest::SetUp();
    Heard().clear();
    SetAccessibleEventSinkForTest(&Listen);
  }
  void TearDown() override {
    SetAccessibleEventSinkForTest(nullptr);
    AccessibleTest::TearDown();
  }
  int CountHeard(QAccessible::Event type, const QString& name) const {
    return static_cast<int>(std::count_if(Heard().begin(), Heard().end(),
                                          [&](const HeardEvent& e) { return e.type == type && e.name == name; }));
  }
  CControlUI* Control(const char* name) { return w.GetPaintManager().FindControl(name); }
};

}  // namespace

TEST_F(AccessibleEventsTest, AListeningReaderHearsFocusStateNameAndValueChanges) {
  // The reader has looked at the window once, as it does on start.
  ASSERT_NE(Find(QStringLiteral("单选二")), nullptr);
  ASSERT_NE(Find(QStringLiteral("第二项")), nullptr);

  Control("btn_ok")->SetFocus();
  EXPECT_EQ(CountHeard(QAccessible::Focus, QStringLiteral("确定")), 1);

  static_cast<COptionUI*>(Control("opt_b"))->Selected(true);
  int checkedChanges = 0;
  for (const HeardEvent& e : Heard())
    if (e.type == QAccessible::StateChanged && e.changed.checked &&
        (e.name == QStringLiteral("单选一") || e.name == QStringLiteral("单选二")))
      ++checkedChanges;
  EXPECT_EQ(checkedChanges, 2) << "both options of the group changed";

  static_cast<CListUI*>(Control("ls"))->SelectItem(1);
  EXPECT_EQ(CountHeard(QAccessible::StateChanged, QStringLiteral("第二项")), 1);

  static_cast<CComboUI*>(Control("cb"))->SelectItem(0);
  auto value = std::find_if(Heard().begin(), Heard().end(),
                            [](const HeardEvent& e) { return e.type == QAccessible::ValueChanged; });
  ASSERT_NE(value, Heard().end());
  EXPECT_EQ(value->value, QStringLiteral("中文"));

  Control("btn_ok")->SetText("好的");
  EXPECT_EQ(CountHeard(QAccessible::NameChanged, QStringLiteral("好的")), 1);
}

TEST_F(AccessibleEventsTest, ControlsTheReaderNeverAskedAboutAreNewsOnlyWhenFocused) {
  Control("btn_icon")->SetText("齿轮");
  static_cast<COptionUI*>(Control("chk"))->Selected(true);
  EXPECT_TRUE(Heard().empty());
  Control("btn_icon")->SetFocus();
  EXPECT_EQ(CountHeard(QAccessible::Focus, QStringLiteral("齿轮")), 1);
}
