// Keyboard and focus as a user meets them: key state, one focus shared by
// toolkit controls and native editors, maxchar, Tab order and activation keys.
#include <QApplication>
#include <QClipboard>
#include <QKeyEvent>
#include <QLineEdit>
#include <QTextEdit>
#include <QTimer>

#include "ui/qt/qt_host.h"
#include "ui/tests/shown_window.h"
#include "ui/tests/ui_test_support.h"

using namespace DirectUI;
using uitest::CloseAndWait;
using uitest::ShowActive;
using uitest::UiTest;
using uitest::WaitUntil;

namespace {

const char kFormSkin[] = R"(<Window size="300,260">
  <VerticalLayout name="root">
    <Edit name="ed_line" height="30" maxchar="5"/>
    <RichEdit name="ed_rich" height="60" maxchar="10"/>
    <HorizontalLayout height="30">
      <Button name="btn_a" width="60"/><Label name="lb" width="40"/>
      <Button name="btn_off" width="60" enabled="false"/><Button name="btn_hidden" width="60" visible="false"/>
      <Option name="opt_1" group="g" width="40" selected="true"/><Option name="opt_2" group="g" width="40"/>
      <Option name="opt_3" group="g" width="40"/>
    </HorizontalLayout>
    <List name="ls" height="80"><ListLabelElement text="a"/><ListLabelElement text="b"/><ListLabelElement text="c"/></List>
    <Button name="btn_nokey" height="20" keyboard="false"/>
  </VerticalLayout></Window>)";

class FormWnd : public CWindowImplBaseUI {
 public:
  std::string GetWindowClassName() const override { return "FormWnd"; }
  std::string GetSkinFile() override { return "form.xml"; }
  std::vector<std::string> clicks;
  void OnClickAny(TNotifyUI& msg) {
    clicks.push_back(msg.pSender->GetName());
    CWindowImplBaseUI::OnClick(msg);
  }
  DUI_DECLARE_MESSAGE_MAP()
};
DUI_BEGIN_MESSAGE_MAP(FormWnd, CWindowImplBaseUI)
DUI_ON_MSGTYPE("click", OnClickAny)
DUI_END_MESSAGE_MAP()

void Key(QWidget* to, QEvent::Type type, int key, Qt::KeyboardModifiers mods = Qt::NoModifier,
         const QString& text = {}) {
  QKeyEvent e(type, key, mods, text);
  QCoreApplication::sendEvent(to, &e);
}

class InputTest : public UiTest {
 protected:
  void SetUp() override {
    UiTest::SetUp();
    skin.Write("form.xml", kFormSkin);
    ASSERT_NE(w.Create(nullptr, "", UI_WNDSTYLE_DIALOG, 0), nullptr);
    w.GetPaintManager().SetDPIScale(100);
    ASSERT_TRUE(ShowActive(w));
  }
  void TearDown() override {
    CloseAndWait(w);
    UiTest::TearDown();
  }
  CControlUI* Find(const char* name) { return w.GetPaintManager().FindControl(name); }
  QLineEdit* Line() { return w.Host()->findChild<QLineEdit*>(); }
  QTextEdit* Rich() { return w.Host()->findChild<QTextEdit*>(); }
  // Where the window's keyboard focus is: the host itself or an editor.
  QWidget* KeyTarget() { return w.Host()->focusWidget() ? w.Host()->focusWidget() : w.Host(); }
  void Press(int key, Qt::KeyboardModifiers mods = Qt::NoModifier, const QString& text = {}) {
    QWidget* to = KeyTarget();
    Key(to, QEvent::KeyPress, key, mods, text);
    Key(KeyTarget(), QEvent::KeyRelease, key, mods, text);
  }
  std::string Focused() {
    CControlUI* f = w.GetPaintManager().GetFocus();
    return f ? f->GetName() : std::string();
  }
  FormWnd w;
};

bool Down(int vk) { return (GetKeyState(vk) & 0x8000) != 0; }

}  // namespace

TEST_F(InputTest, KeysGoUpOnReleaseWhereverItLandsAndOnDeactivation) {
  // Pressed while the window had the focus, released there.
  Key(w.Host(), QEvent::KeyPress, Qt::Key_C, Qt::ControlModifier, "c");
  EXPECT_TRUE(Down('C'));
  EXPECT_TRUE(Down(VK_CONTROL));
  Key(w.Host(), QEvent::KeyRelease, Qt::Key_C, Qt::ControlModifier, "c");
  EXPECT_FALSE(Down('C'));
  EXPECT_TRUE(Down(VK_CONTROL));
  Key(w.Host(), QEvent::KeyRelease, Qt::Key_Control, Qt::NoModifier);
  EXPECT_FALSE(Down(VK_CONTROL));

  // Pressed in an editor, released after the focus moved to the window.
  Key(Rich(), QEvent::KeyPress, Qt::Key_V, Qt::NoModifier, "v");
  EXPECT_TRUE(Down('V'));
  Key(w.Host(), QEvent::KeyRelease, Qt::Key_V, Qt::NoModifier, "v");
  EXPECT_FALSE(Down('V'));

  // Released while another window had the focus: the release never comes.
  Key(w.Host(), QEvent::KeyPress, Qt::Key_Shift, Qt::ShiftModifier);
  Key(w.Host(), QEvent::KeyPress, Qt::Key_D, Qt::ShiftModifier, "D");
  EXPECT_TRUE(Down('D'));
  QEvent deactivate(QEvent::WindowDeactivate);
  QCoreApplication::sendEvent(w.Host(), &deactivate);
  EXPECT_FALSE(Down('D'));
  EXPECT_FALSE(Down(VK_SHIFT));
}

TEST_F(InputTest, ToolkitFocusAndKeyboardFocusAreOne) {
  uitest::Recorder rec;
  w.GetPaintManager().AddNotifier(&rec);
  auto* rich = static_cast<CRichEditUI*>(Find("ed_rich"));
  rich->SetFocus();
  EXPECT_EQ(w.Host()->focusWidget(), Rich());
  // Focusing a button takes the keyboard off the editor: a space clicks the
  // button and types nothing.
  Find("btn_a")->SetFocus();
  EXPECT_NE(w.Host()->focusWidget(), Rich());
  Press(Qt::Key_Space, Qt::NoModifier, " ");
  EXPECT_EQ(rich->GetText(), "");
  EXPECT_EQ(w.clicks, std::vector<std::string>{"btn_a"});
  EXPECT_EQ(rec.Count("killfocus", "ed_rich"), 1);

  // The editor taking the keyboard by itself (a click into it) moves the
  // toolkit's focus; losing it to the window takes the focus away again.
  Rich()->setFocus(Qt::MouseFocusReason);
  EXPECT_EQ(Focused(), "ed_rich");
  EXPECT_EQ(rec.Count("killfocus", "btn_a"), 1);
  Press(Qt::Key_X, Qt::NoModifier, "x");
  EXPECT_EQ(rich->GetText(), "x");
  EXPECT_EQ(w.clicks.size(), 1u);
  w.Host()->setFocus(Qt::MouseFocusReason);
  EXPECT_EQ(Focused(), "");
  EXPECT_EQ(rec.Count("killfocus", "ed_rich"), 2);

  // No toolkit focus at all: the editor does not keep the keyboard either.
  rich->SetFocus();
  w.GetPaintManager().SetFocus(nullptr);
  EXPECT_NE(w.Host()->focusWidget(), Rich());
  w.GetPaintManager().RemoveNotifier(&rec);
}

TEST_F(InputTest, MaxCharCutsTypingAndPastingInUtf16Units) {
  auto* rich = static_cast<CRichEditUI*>(Find("ed_rich"));
  rich->SetFocus();
  for (int i = 0; i < 20; ++i) Press(Qt::Key_A + (i % 26), Qt::NoModifier, QString(QChar('a' + i % 26)));
  EXPECT_EQ(rich->GetText(), "abcdefghij");

  // A paste keeps what fits, cut at the end of the pasted text.
  rich->SetText("12345");
  Rich()->moveCursor(QTextCursor::End);
  QApplication::clipboard()->setText(QStringLiteral("6789ABCDEF"));
  Rich()->paste();
  EXPECT_EQ(rich->GetText(), "123456789A");
  EXPECT_EQ(rich->GetTextLength(), 10);

  // Characters outside the basic plane count two units and are never split.
  rich->SetMaxChar(4);
  rich->SetText("");
  QApplication::clipboard()->setText(QString::fromUtf8("a\xF0\x9F\x98\x80\xF0\x9F\x98\x80"));  // a + 2 emoji
  Rich()->paste();
  EXPECT_EQ(rich->GetText(), "a\xF0\x9F\x98\x80");
  EXPECT_EQ(rich->GetTextLength(), 3);

  // The skin's maxchar also reaches the single-line editor.
  auto* line = static_cast<CEditUI*>(Find("ed_line"));
  line->SetFocus();
  QApplication::clipboard()->setText(QStringLiteral("13800000000"));
  Line()->paste();
  EXPECT_EQ(line->GetText(), "13800");
}

TEST_F(InputTest, ResizeClientTakesSkinUnits) {
  w.GetPaintManager().SetDPIScale(150);
  w.ResizeClient(400, 570);
  EXPECT_EQ(w.Host()->width(), 600);
  EXPECT_EQ(w.Host()->height(), 855);
  w.ResizeClient(-1, 100);
  EXPECT_EQ(w.Host()->width(), 600);
  EXPECT_EQ(w.Host()->height(), 150);
}

TEST_F(InputTest, TabVisitsUsableControlsInTreeOrderAndShowsARing) {
  std::vector<std::string> order;
  for (CControlUI* c : w.GetPaintManager().GetTabOrder()) order.push_back(c->GetName());
  // Not the label, the disabled or hidden button, nor keyboard="false".
  EXPECT_EQ(order, (std::vector<std::string>{"ed_line", "ed_rich", "btn_a", "opt_1", "opt_2", "opt_3", "ls"}));

  Press(Qt::Key_Tab);
  EXPECT_EQ(Focused(), "ed_line");
  EXPECT_EQ(w.Host()->focusWidget(), Line());
  Press(Qt::Key_Tab);  // typed into the line editor
  EXPECT_EQ(Focused(), "ed_rich");
  Press(Qt::Key_Tab);  // the rich edit does not keep Tab unless wanttab="true"
  EXPECT_EQ(Focused(), "btn_a");
  EXPECT_EQ(static_cast<CRichEditUI*>(Find("ed_rich"))->GetText(), "");
  Press(Qt::Key_Backtab, Qt::ShiftModifier);
  EXPECT_EQ(Focused(), "ed_rich");
  Find("ls")->SetFocus();
  Press(Qt::Key_Tab);
  EXPECT_EQ(Focused(), "ed_line") << "the order wraps around";
  Press(Qt::Key_Backtab, Qt::ShiftModifier);
  EXPECT_EQ(Focused(), "ls");

  // The ring is drawn in the focus colour on the focused control, and the
  // mouse puts it away.
  Find("btn_a")->SetFocus();
  ASSERT_TRUE(w.GetPaintManager().IsFocusRingShown());
  RECT rc = Find("btn_a")->GetPos();
  QImage shot = w.Host()->grab().toImage();
  EXPECT_EQ(shot.pixelColor(rc.left + 1, (rc.top + rc.bottom) / 2), QColor(0x2D, 0x8C, 0xF0));
  uitest::Click(w, Find("opt_2"));
  EXPECT_FALSE(w.GetPaintManager().IsFocusRingShown());
  shot = w.Host()->grab().toImage();
  EXPECT_NE(shot.pixelColor(rc.left + 1, (rc.top + rc.bottom) / 2), QColor(0x2D, 0x8C, 0xF0));
}

TEST_F(InputTest, SpaceEnterAndArrowsActivateAndMove) {
  auto selected = [&](const char* name) { return static_cast<COptionUI*>(Find(name))->IsSelected(); };
  Find("btn_a")->SetFocus();
  Press(Qt::Key_Return, Qt::NoModifier, "\r");
  Press(Qt::Key_Space, Qt::NoModifier, " ");
  EXPECT_EQ(w.clicks, (std::vector<std::string>{"btn_a", "btn_a"}));

  // Arrows move the selection and the focus through an option group, without
  // wrapping at its ends.
  Find("opt_1")->SetFocus();
  Press(Qt::Key_Right);
  EXPECT_TRUE(selected("opt_2"));
  EXPECT_FALSE(selected("opt_1"));
  EXPECT_EQ(Focused(), "opt_2");
  Press(Qt::Key_Down);
  Press(Qt::Key_Down);
  EXPECT_TRUE(selected("opt_3"));
  Press(Qt::Key_Up);
  EXPECT_TRUE(selected("opt_2"));

  // Lists: a click focuses the list, arrows and Home/End move its selection.
  auto* list = static_cast<CListUI*>(Find("ls"));
  uitest::Click(w, list->GetItemAt(0));
  EXPECT_EQ(Focused(), "ls");
  Press(Qt::Key_Down);
  EXPECT_EQ(list->GetCurSel(), 1);
  Press(Qt::Key_End);
  EXPECT_EQ(list->GetCurSel(), 2);
  Press(Qt::Key_Down);
  EXPECT_EQ(list->GetCurSel(), 2);
  Press(Qt::Key_Home);
  EXPECT_EQ(list->GetCurSel(), 0);
}

TEST_F(InputTest, EscapeClosesAModalPopupWithTheCloseButtonsCode) {
  FormWnd popup;
  ASSERT_NE(popup.Create(w.GetHWND(), "", UI_WNDSTYLE_DIALOG, 0), nullptr);
  QTimer::singleShot(0, [&] {
    popup.GetPaintManager().FindControl("ed_rich")->SetFocus();
    QWidget* target = popup.Host()->focusWidget() ? popup.Host()->focusWidget() : popup.Host();
    Key(target, QEvent::KeyPress, Qt::Key_Escape);
  });
  EXPECT_EQ(popup.ShowModal(), 1u);
  // A window without an owner (the main window runs modally too) stays.
  Press(Qt::Key_Escape);
  uitest::Drain();
  EXPECT_TRUE(IsWindow(w.GetHWND()));
}
