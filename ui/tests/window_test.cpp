// Windows: notification tables, modal loops, asynchronous notifications,
// posted messages, timers, drops, menus, tray, keys and the missing skin.
#include <QDropEvent>
#include <QFontDatabase>
#include <QFontInfo>
#include <QGlyphRun>
#include <QRawFont>
#include <QTextLayout>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMenu>
#include <QMimeData>
#include <QTextEdit>
#include <QTimer>
#include <QUrl>
#include <thread>

#include "ui/qt/qt_host.h"
#include "ui/tests/ui_test_support.h"

using namespace DirectUI;
using uitest::Click;
using uitest::UiTest;
using uitest::WaitUntil;

namespace {

const char kSkin[] = R"(<Window size="300,200" caption="0,0,0,30">
  <VerticalLayout name="root">
    <HorizontalLayout height="30">
      <Button name="btn_close" width="60"/><Button name="btn_other" width="60"/>
      <Button name="closebtn" width="60"/><Button name="btn_named_only" width="60"/>
    </HorizontalLayout>
    <RichEdit name="ed" height="60"/>
    <Label name="lb"/>
  </VerticalLayout></Window>)";

// A window whose table exercises every dispatch rule.
class TableWnd : public CWindowImplBaseUI {
 public:
  std::string GetWindowClassName() const override { return "TableWnd"; }
  std::string GetSkinFile() override { return skinFile; }
  std::string skinFile = "table.xml";
  std::vector<std::string> calls;
  std::vector<std::string> messages;
  std::thread::id notifyThread;
  bool consumeC = false;
  bool finalRan = false;

  void OnNamedClose(TNotifyUI&) { calls.push_back("named:btn_close"); }
  void OnFirstAnyClick(TNotifyUI&) { calls.push_back("any:first"); }
  void OnLastAnyClick(TNotifyUI& msg) {
    calls.push_back("any:last:" + msg.pSender->GetName());
    if (msg.pSender->GetName() == "closebtn") CWindowImplBaseUI::OnClick(msg);
  }
  void OnCustom(TNotifyUI& msg) {
    notifyThread = std::this_thread::get_id();
    messages.push_back("notify:" + std::to_string(msg.wParam));
  }
  void OnTimer(TNotifyUI& msg) { messages.push_back("timer:" + msg.pSender->GetName() + ":" + std::to_string(msg.wParam)); }
  LRESULT HandleMessage(UINT msg, WPARAM wParam, LPARAM lParam) override {
    if (msg >= WM_USER && msg < WM_APP) messages.push_back("msg:" + std::to_string(msg) + ":" + std::to_string(wParam));
    if (msg == WM_DROPFILES) {
      auto drop = reinterpret_cast<HDROP>(wParam);
      for (UINT i = 0; i < DragQueryFileCount(drop); ++i) messages.push_back("drop:" + DragQueryFile(drop, i));
    }
    if (msg == WM_KEYDOWN) messages.push_back("key:" + std::to_string(wParam));
    if (msg == WM_KEYDOWN && consumeC && wParam == 'C') return 0;  // never reaches the base
    return CWindowImplBaseUI::HandleMessage(msg, wParam, lParam);
  }
  void OnFinalMessage(HWND hwnd) override {
    finalRan = true;
    CWindowImplBaseUI::OnFinalMessage(hwnd);
  }
  DUI_DECLARE_MESSAGE_MAP()
};

DUI_BEGIN_MESSAGE_MAP(TableWnd, CWindowImplBaseUI)
DUI_ON_MSGTYPE("click", OnFirstAnyClick)
DUI_ON_CLICK_CTRNAME("btn_close", OnNamedClose)
DUI_ON_MSGTYPE("custom", OnCustom)
DUI_ON_MSGTYPE("timer", OnTimer)
DUI_ON_MSGTYPE("click", OnLastAnyClick)
DUI_END_MESSAGE_MAP()

// Only a named row: other clicks fall through to the window base.
class NamedOnlyWnd : public TableWnd {
 public:
  void OnNamed(TNotifyUI&) { calls.push_back("named_only"); }
  DUI_DECLARE_MESSAGE_MAP()
};
DUI_BEGIN_MESSAGE_MAP(NamedOnlyWnd, CWindowImplBaseUI)
DUI_ON_CLICK_CTRNAME("btn_named_only", OnNamed)
DUI_END_MESSAGE_MAP()

class MenuOwner : public TableWnd {
 public:
  void OnSet(TNotifyUI& msg) { calls.push_back("menu:" + msg.pSender->GetName()); }
  DUI_DECLARE_MESSAGE_MAP()
};
DUI_BEGIN_MESSAGE_MAP(MenuOwner, TableWnd)
DUI_ON_MSGTYPE_CTRNAME("menu", "menuitem_set", OnSet)
DUI_END_MESSAGE_MAP()

class WindowTest : public UiTest {
 protected:
  void SetUp() override {
    UiTest::SetUp();
    skin.Write("table.xml", kSkin);
  }
  template <class W>
  void Open(W& w, HWND owner = nullptr) {
    ASSERT_NE(w.Create(owner, "", UI_WNDSTYLE_DIALOG, 0), nullptr);
    w.GetPaintManager().UpdateLayout();
  }
  CControlUI* Find(CWindowImplBaseUI& w, const char* name) { return w.GetPaintManager().FindControl(name); }
};

}  // namespace

TEST_F(WindowTest, NamedRowBeatsTypeRowAndLastTypeRowWins) {
  TableWnd w;
  Open(w);
  Click(w, Find(w, "btn_close"));
  Click(w, Find(w, "btn_other"));
  EXPECT_EQ(w.calls, (std::vector<std::string>{"named:btn_close", "any:last:btn_other"}));
  w.Close(0);
  EXPECT_TRUE(WaitUntil([&] { return !IsWindow(w.GetHWND()); }));
}

TEST_F(WindowTest, WorkAfterTheFirstPaintWaitsForTheFrameThenRunsInOrder) {
  TableWnd w;
  Open(w);  // not shown yet: no frame
  std::vector<std::string> ran;
  w.AfterFirstPaint([&] { ran.push_back("first"); });
  w.AfterFirstPaint([&] { ran.push_back("second"); });
  uitest::Drain();
  EXPECT_TRUE(ran.empty());
  w.ShowWindow(true);
  EXPECT_TRUE(WaitUntil([&] { return ran.size() == 2; }, 30000));
  EXPECT_EQ(ran, (std::vector<std::string>{"first", "second"}));
  // Asked once the frame is there: queued at once, still on the window's thread.
  w.AfterFirstPaint([&] { ran.push_back("late"); });
  EXPECT_EQ(ran.size(), 2u);
  EXPECT_TRUE(WaitUntil([&] { return ran.size() == 3; }, 30000));
  w.Close(0);
  EXPECT_TRUE(WaitUntil([&] { return !IsWindow(w.GetHWND()); }));

  // A window that goes away before its first frame drops the work.
  TableWnd gone;
  Open(gone);
  bool goneRan = false;
  gone.AfterFirstPaint([&] { goneRan = true; });
  gone.Close(0);
  EXPECT_TRUE(WaitUntil([&] { return !IsWindow(gone.GetHWND()); }));
  uitest::Drain();
  EXPECT_FALSE(goneRan);
}

TEST_F(WindowTest, UnlistedClickFallsThroughToBaseAndClosebtnReturnsOne) {
  NamedOnlyWnd w;
  Open(w);
  Click(w, Find(w, "btn_named_only"));
  EXPECT_EQ(w.calls, std::vector<std::string>{"named_only"});
  QTimer::singleShot(0, [&] { Click(w, Find(w, "closebtn")); });
  EXPECT_EQ(w.ShowModal(), 1u);
  EXPECT_FALSE(IsWindow(w.GetHWND()));
  EXPECT_TRUE(w.finalRan);
}

TEST_F(WindowTest, ModalDisablesOwnerAndReturnsCloseCode) {
  TableWnd owner;
  Open(owner);
  owner.ShowWindow(true);
  TableWnd popup;
  Open(popup, owner.GetHWND());
  bool ownerDisabledDuring = false;
  QTimer::singleShot(0, [&] {
    ownerDisabledDuring = !owner.IsEnabled();
    popup.Close(42);
  });
  EXPECT_EQ(popup.ShowModal(), 42u);
  EXPECT_TRUE(ownerDisabledDuring);
  EXPECT_TRUE(owner.IsEnabled());
  EXPECT_FALSE(IsWindow(popup.GetHWND()));
  owner.Close();
  EXPECT_TRUE(WaitUntil([&] { return !IsWindow(owner.GetHWND()); }));
}

TEST_F(WindowTest, NestedModalsUnwindInOrder) {
  TableWnd owner;
  Open(owner);
  auto* outer = new TableWnd;  // deleted below, after its loop returned
  Open(*outer, owner.GetHWND());
  UINT innerCode = 0;
  bool outerDisabledDuringInner = false, outerEnabledAfterInner = false;
  QTimer::singleShot(0, [&] {
    TableWnd inner;
    Open(inner, outer->GetHWND());
    QTimer::singleShot(0, [&] {
      outerDisabledDuringInner = !outer->IsEnabled();
      inner.Close(5);
    });
    innerCode = inner.ShowModal();
    outerEnabledAfterInner = outer->IsEnabled();
    outer->Close(7);
  });
  EXPECT_EQ(outer->ShowModal(), 7u);
  delete outer;
  EXPECT_EQ(innerCode, 5u);
  EXPECT_TRUE(outerDisabledDuringInner);
  EXPECT_TRUE(outerEnabledAfterInner);
  EXPECT_TRUE(owner.IsEnabled());
}

TEST_F(WindowTest, QuitEndsEveryNestedLoop) {
  TableWnd outer;
  Open(outer);
  bool innerReturned = false, innerGone = false;
  QTimer::singleShot(0, [&] {
    TableWnd inner;
    Open(inner, outer.GetHWND());
    std::thread t([] { PostQuitMessage(0); });
    t.join();
    inner.ShowModal();
    innerReturned = true;
    innerGone = !IsWindow(inner.GetHWND());
  });
  outer.ShowModal();
  ResetQuitForTest();
  EXPECT_TRUE(innerReturned);
  EXPECT_TRUE(innerGone);
  EXPECT_FALSE(IsWindow(outer.GetHWND()));
}

TEST_F(WindowTest, AsyncNotifyFromWorkerKeepsQueueOrderAndRunsOnUiThread) {
  TableWnd w;
  Open(w);
  CPaintManagerUI& pm = w.GetPaintManager();
  HWND hwnd = w.GetHWND();
  // Already queued before the worker's record: a program message (2025).
  ASSERT_TRUE(w.PostMessage(WM_USER + 1001, 1, 0));
  std::thread worker([&pm, hwnd] {
    pm.SendNotify(pm.GetRoot(), "custom", 2, 0, true);
    PostMessage(hwnd, WM_USER + 123, 3, 0);  // 1147, after the record
  });
  worker.join();
  EXPECT_TRUE(w.messages.empty());  // nothing runs before the loop does
  ASSERT_TRUE(WaitUntil([&] { return w.messages.size() >= 3; }));
  EXPECT_EQ(w.messages, (std::vector<std::string>{"msg:2025:1", "notify:2", "msg:1147:3"}));
  EXPECT_EQ(w.notifyThread, std::this_thread::get_id());
  w.Close();
  ASSERT_TRUE(WaitUntil([&] { return !IsWindow(hwnd); }));
  EXPECT_FALSE(PostMessage(hwnd, WM_USER, 0, 0));  // a stale handle reaches nothing
}

TEST_F(WindowTest, ManyWorkersAllRecordsArrive) {
  TableWnd w;
  Open(w);
  CPaintManagerUI& pm = w.GetPaintManager();
  std::vector<std::thread> workers;
  for (int t = 0; t < 4; ++t)
    workers.emplace_back([&pm, t] {
      for (int i = 0; i < 50; ++i) pm.SendNotify(pm.GetRoot(), "custom", static_cast<WPARAM>(t * 100 + i), 0, true);
    });
  for (auto& t : workers) t.join();
  ASSERT_TRUE(WaitUntil([&] { return w.messages.size() >= 200; }));
  EXPECT_EQ(w.messages.size(), 200u);
  w.Close();
  EXPECT_TRUE(WaitUntil([&] { return !IsWindow(w.GetHWND()); }));
}

TEST_F(WindowTest, TimersTickUntilKilled) {
  TableWnd w;
  Open(w);
  CPaintManagerUI& pm = w.GetPaintManager();
  CControlUI* lb = Find(w, "lb");
  CControlUI* ed = Find(w, "ed");
  auto count = [&](const std::string& what) {
    return std::count(w.messages.begin(), w.messages.end(), what);
  };
  ASSERT_TRUE(pm.SetTimer(lb, 9, 5));
  ASSERT_TRUE(WaitUntil([&] { return count("timer:lb:9") >= 3; }));
  pm.KillTimer(lb);
  EXPECT_FALSE(pm.HasTimer(lb, 9));
  auto frozen = count("timer:lb:9");
  // A second timer keeps running; while it ticks five times the killed one stays silent.
  ASSERT_TRUE(pm.SetTimer(ed, 2000, 5));
  ASSERT_TRUE(WaitUntil([&] { return count("timer:ed:2000") >= 5; }));
  EXPECT_EQ(count("timer:lb:9"), frozen);
  EXPECT_TRUE(pm.KillTimer(ed, 2000));
  EXPECT_FALSE(pm.KillTimer(ed, 2000));
  w.Close();
  EXPECT_TRUE(WaitUntil([&] { return !IsWindow(w.GetHWND()); }));
}

TEST_F(WindowTest, DropsDeliverPathsInOrderWhenAccepted) {
  TableWnd w;
  Open(w);
  w.ShowWindow(true);
  std::vector<std::string> files{"/tmp/a.txt", "/tmp/b.PDF", "/tmp/文档.docx"};
  EXPECT_FALSE(w.IsAcceptingDrops());
  EXPECT_FALSE(w.Host()->DeliverDrop(files, {10, 10}));  // refused: nothing arrives
  EXPECT_TRUE(w.messages.empty());
  w.DragAcceptFiles(true);
  EXPECT_TRUE(w.IsAcceptingDrops());
  EXPECT_TRUE(w.Host()->DeliverDrop(files, {10, 10}));
  EXPECT_EQ(w.messages, (std::vector<std::string>{"drop:/tmp/a.txt", "drop:/tmp/b.PDF", "drop:/tmp/文档.docx"}));
  w.DragAcceptFiles(false);
  EXPECT_FALSE(w.IsAcceptingDrops());
  w.Close();
  EXPECT_TRUE(WaitUntil([&] { return !IsWindow(w.GetHWND()); }));
}

TEST_F(WindowTest, RichEditTextColourReadOnlyAndTyping) {
  TableWnd w;
  Open(w);
  w.ShowWindow(true);
  w.GetPaintManager().AddFont(3, "Noto Sans CJK SC", 20, true, false, false);
  auto* ed = static_cast<CRichEditUI*>(Find(w, "ed"));
  ed->SetTextColor(0xFFFF0000);
  ed->SetFont(3);
  ed->SetText("\r\n\r\n\t\t翻译失败");
  EXPECT_EQ(ed->GetTextLength(), 8);
  QTextEdit* native = w.Host()->findChild<QTextEdit*>();
  ASSERT_NE(native, nullptr);
  QTextCursor cur(native->document());
  cur.movePosition(QTextCursor::End);
  EXPECT_EQ(cur.charFormat().foreground().color(), QColor(255, 0, 0));
  EXPECT_TRUE(cur.charFormat().font().bold());
  // Setting a new colour recolours the text already there.
  ed->SetTextColor(0xFF262626);
  cur.movePosition(QTextCursor::End);
  EXPECT_EQ(cur.charFormat().foreground().color(), QColor(0x26, 0x26, 0x26));

  ed->SetText("ab");
  native->moveCursor(QTextCursor::End);
  QKeyEvent key(QEvent::KeyPress, Qt::Key_X, Qt::NoModifier, "x");
  QCoreApplication::sendEvent(native, &key);
  EXPECT_EQ(ed->GetText(), "abx");
  ed->SetReadOnly(true);
  EXPECT_TRUE(native->isReadOnly());
  QCoreApplication::sendEvent(native, &key);
  EXPECT_EQ(ed->GetText(), "abx");
  ed->SetReadOnly(false);
  QCoreApplication::sendEvent(native, &key);
  EXPECT_EQ(ed->GetText(), "abxx");
  w.Close();
  EXPECT_TRUE(WaitUntil([&] { return !IsWindow(w.GetHWND()); }));
}

TEST_F(WindowTest, AnEditorOnAHiddenPageIsMadeWhenShownWithEverythingGivenBefore) {
  skin.Write("pages.xml", R"(<Window size="300,200"><TabLayout name="tabs">
      <Label name="first"/>
      <VerticalLayout>
        <Edit name="line" height="30" password="true" maxchar="3" tipvalue="code" readonly="true"/>
        <RichEdit name="rich" height="60"/>
        <Edit name="untouched" height="30"/>
      </VerticalLayout></TabLayout></Window>)");
  TableWnd w;
  w.skinFile = "pages.xml";
  Open(w);
  w.ShowWindow(true);
  auto* line = static_cast<CEditUI*>(Find(w, "line"));
  auto* rich = static_cast<CRichEditUI*>(Find(w, "rich"));
  auto* untouched = static_cast<CEditUI*>(Find(w, "untouched"));
  // Nothing on the hidden page has a native editor yet.
  EXPECT_TRUE(w.Host()->findChildren<QLineEdit*>().isEmpty());
  EXPECT_EQ(w.Host()->findChild<QTextEdit*>(), nullptr);
  // What the program does to a hidden box is kept, not lost.
  line->SetEnabled(false);
  rich->AppendText("kept");
  rich->AppendText(" too");
  EXPECT_EQ(rich->GetText(), "kept too");
  EXPECT_EQ(rich->GetTextLength(), 8);

  static_cast<CTabLayoutUI*>(Find(w, "tabs"))->SelectItem(1);
  w.GetPaintManager().UpdateLayout();
  ASSERT_NE(untouched->NativeHost(), nullptr) << "shown: made";
  ASSERT_NE(line->NativeHost(), nullptr);
  QLineEdit* native = line->NativeHost()->Line();
  ASSERT_NE(native, nullptr);
  EXPECT_EQ(native->parentWidget(), w.Host());
  EXPECT_TRUE(native->isVisibleTo(w.Host()));
  EXPECT_EQ(native->echoMode(), QLineEdit::Password);
  EXPECT_EQ(native->maxLength(), 3);
  EXPECT_EQ(native->placeholderText(), "code");
  EXPECT_TRUE(native->isReadOnly());
  EXPECT_FALSE(native->isEnabled());
  QTextEdit* richNative = w.Host()->findChild<QTextEdit*>();
  ASSERT_NE(richNative, nullptr);
  EXPECT_TRUE(richNative->isVisibleTo(w.Host()));
  EXPECT_EQ(richNative->toPlainText(), "kept too");
  w.Close();
  EXPECT_TRUE(WaitUntil([&] { return !IsWindow(w.GetHWND()); }));
}

TEST_F(WindowTest, ASkinFontThisMachineLacksFallsBackToTheFaceWeShipAgainst) {
  EnsureApplication();
  TFontInfo missing;
  missing.name = "No Such Family Anywhere";
  missing.size = 14;
  missing.bold = true;
  const QFont f = MakeQFont(missing, 200);
  EXPECT_EQ(QFontInfo(f).family(), "Noto Sans CJK SC");
  EXPECT_EQ(f.pixelSize(), 28);
  EXPECT_TRUE(QFontInfo(f).bold());
  // Chinese text in a face that is here but lacks it finds its glyphs elsewhere.
  TFontInfo present = missing;
  for (const QString& family : QFontDatabase::families()) {
    const auto systems = QFontDatabase::writingSystems(family);
    if (systems.contains(QFontDatabase::Latin) && !systems.contains(QFontDatabase::SimplifiedChinese)) {
      present.name = family.toStdString();
      break;
    }
  }
  if (present.name == missing.name) GTEST_SKIP() << "no Latin-only face here";
  EXPECT_EQ(QFontInfo(MakeQFont(present, 100)).family().toStdString(), present.name);
  QTextLayout layout(QStringLiteral("ab翻译"), MakeQFont(present, 100));
  layout.beginLayout();
  layout.createLine();
  layout.endLayout();
  int glyphs = 0;
  for (const QGlyphRun& run : layout.glyphRuns()) {
    for (quint32 glyph : run.glyphIndexes()) {
      EXPECT_NE(glyph, 0u) << "a missing glyph in " << run.rawFont().familyName().toStdString();
      ++glyphs;
    }
  }
  EXPECT_EQ(glyphs, 4);
}

TEST_F(WindowTest, ConsumedKeyNeverReachesTheEditor) {
  TableWnd w;
  w.consumeC = true;
  Open(w);
  w.ShowWindow(true);
  auto* ed = static_cast<CRichEditUI*>(Find(w, "ed"));
  ed->SetText("");
  QTextEdit* native = w.Host()->findChild<QTextEdit*>();
  ASSERT_NE(native, nullptr);
  QKeyEvent c(QEvent::KeyPress, Qt::Key_C, Qt::ControlModifier, "c");
  QCoreApplication::sendEvent(native, &c);
  EXPECT_EQ(ed->GetText(), "");  // the window kept it
  QKeyEvent d(QEvent::KeyPress, Qt::Key_D, Qt::NoModifier, "d");
  QCoreApplication::sendEvent(native, &d);
  EXPECT_EQ(ed->GetText(), "d");
  // The window saw both keys first, as WM_KEYDOWN with the virtual key.
  EXPECT_EQ(std::count(w.messages.begin(), w.messages.end(), "key:67"), 1);
  EXPECT_EQ(std::count(w.messages.begin(), w.messages.end(), "key:68"), 1);
  w.Close();
  EXPECT_TRUE(WaitUntil([&] { return !IsWindow(w.GetHWND()); }));
}

TEST_F(WindowTest, TrayIconReportsClicksAndCountsOnce) {
  TableWnd w;
  Open(w);
  const UINT kTrayMsg = WM_USER + 123;
  {
    CTrayIcon tray;
    ASSERT_TRUE(tray.Add(w.GetHWND(), kTrayMsg, "icons/101.png", "Quillora"));
    ASSERT_TRUE(tray.Add(w.GetHWND(), kTrayMsg, "icons/101.png", "Quillora"));
    EXPECT_EQ(CTrayIcon::LiveCount(), 1);
    tray.SimulateClick(false);
    tray.SimulateClick(true);
    ASSERT_TRUE(WaitUntil([&] { return w.messages.size() >= 2; }));
    EXPECT_EQ(w.messages, (std::vector<std::string>{"msg:1147:0", "msg:1147:0"}));
    tray.Remove();
    EXPECT_EQ(CTrayIcon::LiveCount(), 0);
    ASSERT_TRUE(tray.Add(w.GetHWND(), kTrayMsg, "icons/101.png", "Quillora"));
  }
  EXPECT_EQ(CTrayIcon::LiveCount(), 0);  // the record removes its icon when it goes
  w.Close();
  EXPECT_TRUE(WaitUntil([&] { return !IsWindow(w.GetHWND()); }));
}

TEST_F(WindowTest, PopupMenuPostsCommandToOwner) {
  TableWnd w;
  Open(w);
  w.ShowWindow(true);
  CPopupMenu menu;
  menu.AppendItem(4097, "退出");
  ASSERT_TRUE(menu.TrackPopupMenu(w.ClientToScreen({5, 5}), w.GetHWND()));
  auto* qmenu = w.Host()->findChild<QMenu*>();
  ASSERT_NE(qmenu, nullptr);
  ASSERT_EQ(qmenu->actions().size(), 1);
  EXPECT_EQ(qmenu->actions()[0]->text(), QString::fromUtf8("退出"));
  bool got = false;
  struct Probe : IMessageFilterUI {
    bool* got;
    LRESULT MessageHandler(UINT msg, WPARAM wParam, LPARAM, bool& handled) override {
      if (msg == WM_COMMAND && wParam == 4097) *got = true;
      handled = false;
      return 0;
    }
  } probe;
  probe.got = &got;
  w.GetPaintManager().AddMessageFilter(&probe);
  qmenu->actions()[0]->trigger();
  EXPECT_TRUE(WaitUntil([&] { return got; }));
  w.GetPaintManager().RemoveMessageFilter(&probe);
  w.Close();
  EXPECT_TRUE(WaitUntil([&] { return !IsWindow(w.GetHWND()); }));
}

TEST_F(WindowTest, MenuItemsNotifyTheOwnerByName) {
  skin.Write("menu.xml", R"(<Menu width="120"><MenuElement name="menuitem_set" text="设置"/><MenuElement name="menuitem_exit" text="退出"/></Menu>)");
  MenuOwner owner;
  Open(owner);
  auto* menu = new CMenuWnd();
  menu->Init(nullptr, "menu.xml", owner.ClientToScreen({10, 45}), &owner.GetPaintManager(), nullptr,
             eMenuAlignment_Left | eMenuAlignment_Top);
  ASSERT_EQ(CMenuWnd::GetActiveMenu(), menu);
  HWND menuHwnd = menu->GetHWND();
  EXPECT_EQ(menu->GetWindowRect().Height(), 60);  // two items of 30
  CControlUI* item = menu->GetPaintManager().FindControl("menuitem_set");
  menu->GetPaintManager().UpdateLayout();
  Click(*menu, item);
  EXPECT_EQ(owner.calls, std::vector<std::string>{"menu:menuitem_set"});
  EXPECT_TRUE(WaitUntil([&] { return !IsWindow(menuHwnd); }));
  EXPECT_EQ(CMenuWnd::GetActiveMenu(), nullptr);
  owner.Close();
  EXPECT_TRUE(WaitUntil([&] { return !IsWindow(owner.GetHWND()); }));
}

TEST_F(WindowTest, RawMouseEventsReachSubscribersFirst) {
  TableWnd w;
  Open(w);
  CControlUI* other = Find(w, "btn_other");
  CControlUI* close = Find(w, "btn_close");
  std::vector<int> events;
  bool block = false;
  other->OnEvent += [&](void* p) {
    auto* e = static_cast<TEventUI*>(p);
    if (e->Type == UIEVENT_MOUSEENTER || e->Type == UIEVENT_MOUSELEAVE) events.push_back(e->Type);
    return !block;
  };
  auto move = [&](CControlUI* c) {
    auto pt = uitest::Center(c);
    w.SendMessage(WM_MOUSEMOVE, 0, MAKELPARAM(pt.x, pt.y));
  };
  move(other);
  move(close);
  EXPECT_EQ(events, (std::vector<int>{UIEVENT_MOUSEENTER, UIEVENT_MOUSELEAVE}));
  // A subscriber that answers false keeps the event from the control: no click.
  block = true;
  Click(w, other);
  EXPECT_TRUE(w.calls.empty());
  block = false;
  Click(w, other);
  EXPECT_EQ(w.calls, std::vector<std::string>{"any:last:btn_other"});
  w.Close();
  EXPECT_TRUE(WaitUntil([&] { return !IsWindow(w.GetHWND()); }));
}

TEST_F(WindowTest, FocusAndEditNotifications) {
  skin.Write("edits.xml", R"(<Window size="200,100"><VerticalLayout>
      <Edit name="ed_line" height="30"/><Button name="b" height="30"/></VerticalLayout></Window>)");
  TableWnd w;
  w.skinFile = "edits.xml";
  Open(w);
  w.ShowWindow(true);
  uitest::Recorder rec;
  w.GetPaintManager().AddNotifier(&rec);
  auto* ed = static_cast<CEditUI*>(Find(w, "ed_line"));
  ed->SetFocus();
  Click(w, Find(w, "b"));
  EXPECT_EQ(rec.Count("setfocus", "ed_line"), 1);
  EXPECT_EQ(rec.Count("killfocus", "ed_line"), 1);
  EXPECT_EQ(rec.Count("setfocus", "b"), 1);
  auto* native = w.Host()->findChild<QLineEdit*>();
  ASSERT_NE(native, nullptr);
  native->setText("13800000000");
  EXPECT_GE(rec.Count("textchanged", "ed_line"), 1);
  EXPECT_EQ(ed->GetText(), "13800000000");
  QKeyEvent enter(QEvent::KeyPress, Qt::Key_Return, Qt::NoModifier, "\r");
  QCoreApplication::sendEvent(native, &enter);
  EXPECT_EQ(rec.Count("return", "ed_line"), 1);
  w.GetPaintManager().RemoveNotifier(&rec);
  w.Close();
  EXPECT_TRUE(WaitUntil([&] { return !IsWindow(w.GetHWND()); }));
}

TEST_F(WindowTest, ReloadAllImagesRereadsChangedFiles) {
  // The captcha picture keeps its file name between refreshes.
  auto paint = [&](const QColor& c) {
    QImage img(20, 20, QImage::Format_ARGB32);
    img.fill(c);
    ASSERT_TRUE(img.save(QString::fromStdString(skin.Path("captcha.jpg.png")), "PNG"));
  };
  paint(Qt::red);
  skin.Write("pic.xml", R"(<Window size="100,100"><VerticalLayout>
      <Control name="pic" width="40" height="40" bkimage="captcha.jpg.png"/><Control/></VerticalLayout></Window>)");
  TableWnd w;
  w.skinFile = "pic.xml";
  Open(w);
  auto pixel = [&] { return w.Host()->grab().toImage().pixelColor(20, 20); };
  EXPECT_EQ(pixel(), QColor(Qt::red));
  paint(Qt::green);
  EXPECT_EQ(pixel(), QColor(Qt::red));  // decoded once, kept
  w.GetPaintManager().ReloadAllImages();
  EXPECT_EQ(pixel(), QColor(Qt::green));
  // A missing picture draws nothing instead of failing.
  Find(w, "pic")->SetBkImage("file='no_such.png' dest='0,0,10,10'");
  EXPECT_NE(pixel(), QColor(Qt::green));
  w.Close();
  EXPECT_TRUE(WaitUntil([&] { return !IsWindow(w.GetHWND()); }));
}

TEST_F(WindowTest, DrawingsAreRenderedAtTheSizeTheyAreDrawnNotScaledFromARendering) {
  // 10 x 10 units: red on the left half, blue on the right, no shade between.
  skin.Write("halves.svg", R"(<svg xmlns="http://www.w3.org/2000/svg" width="10" height="10">
      <rect x="0" y="0" width="5" height="10" fill="#ff0000"/>
      <rect x="5" y="0" width="5" height="10" fill="#0000ff"/></svg>)");
  skin.Write("pic.xml", R"(<Window size="200,200"><VerticalLayout>
      <Control name="pic" width="100" height="100" bkimage="halves.svg"/><Control/></VerticalLayout></Window>)");
  TableWnd w;
  w.skinFile = "pic.xml";
  Open(w);
  const QImage shot = w.Host()->grab().toImage();
  // Scaling a 10-pixel rendering ten times would blur the edge over several
  // pixels on each side; rendered at 100 pixels it stays where it is.
  for (int x : {2, 47, 48, 49}) EXPECT_EQ(shot.pixelColor(x, 50), QColor(Qt::red)) << x;
  for (int x : {50, 51, 52, 97}) EXPECT_EQ(shot.pixelColor(x, 50), QColor(Qt::blue)) << x;
  // A drawing that cannot be read draws nothing.
  skin.Write("broken.svg", "<svg");
  Find(w, "pic")->SetBkImage("broken.svg");
  EXPECT_NE(w.Host()->grab().toImage().pixelColor(25, 50), QColor(Qt::red));
  w.Close();
  EXPECT_TRUE(WaitUntil([&] { return !IsWindow(w.GetHWND()); }));
}

TEST_F(WindowTest, PicturesMadeReadyBeforeTheFirstLayoutAreTheOnesThatFrameDraws) {
  const auto write = [&](const std::string& file, const char* colour) {
    skin.Write(file, std::string(R"(<svg xmlns="http://www.w3.org/2000/svg" width="8" height="8">)") +
                         "<rect width=\"8\" height=\"8\" fill=\"" + colour + "\"/></svg>");
  };
  for (const char* file : {"bk.svg", "normal.svg", "selected.svg", "unselected.svg", "combo.svg", "hidden.svg"})
    write(file, "#ff0000");
  QImage png(8, 8, QImage::Format_ARGB32);
  png.fill(Qt::red);
  ASSERT_TRUE(png.save(QString::fromStdString(skin.Path("raster.png")), "PNG"));
  skin.Write("warm.xml", R"(<Window size="300,100"><HorizontalLayout>
      <Control name="bk" width="40" height="40" bkimage="bk.svg"/>
      <Button name="button" width="40" height="40" normalimage="normal.svg"/>
      <Option name="option" width="40" height="40" selected="true" normalimage="unselected.svg" selectedimage="selected.svg"/>
      <Combo name="combo" width="40" height="40" normalimage="combo.svg"/>
      <Control name="raster" width="40" height="40" bkimage="raster.png"/>
      <Control name="hidden" width="40" height="40" visible="false" bkimage="hidden.svg"/>
      <Control/></HorizontalLayout></Window>)");
  TableWnd w;
  w.skinFile = "warm.xml";
  ASSERT_NE(w.Create(nullptr, "", UI_WNDSTYLE_DIALOG, 0), nullptr);
  // Before any layout, as while the first frame waits for the fonts.
  w.GetPaintManager().Impl()->WarmPictures();
  for (const char* file : {"bk.svg", "normal.svg", "selected.svg", "unselected.svg", "combo.svg", "hidden.svg"})
    write(file, "#00ff00");
  png.fill(Qt::green);
  ASSERT_TRUE(png.save(QString::fromStdString(skin.Path("raster.png")), "PNG"));
  w.GetPaintManager().UpdateLayout();
  Find(w, "hidden")->SetVisible(true);
  w.GetPaintManager().UpdateLayout();
  const QImage shot = w.Host()->grab().toImage();
  // What was made ready is what the frame shows, at the size it shows it;
  // the option's unselected picture and the hidden control's were left.
  for (const char* name : {"bk", "button", "option", "combo", "raster"}) {
    const RECT rc = Find(w, name)->GetPos();
    EXPECT_EQ(shot.pixelColor(rc.left + 5, rc.top + 5), QColor(Qt::red)) << name;
  }
  const RECT hidden = Find(w, "hidden")->GetPos();
  EXPECT_EQ(shot.pixelColor(hidden.left + 5, hidden.top + 5), QColor(Qt::green));
  static_cast<COptionUI*>(Find(w, "option"))->Selected(false);
  const RECT option = Find(w, "option")->GetPos();
  EXPECT_EQ(w.Host()->grab().toImage().pixelColor(option.left + 5, option.top + 5), QColor(Qt::green));
  w.Close();
  EXPECT_TRUE(WaitUntil([&] { return !IsWindow(w.GetHWND()); }));
}

TEST_F(WindowTest, TimersStartedAndStoppedFromAWorkerTakeEffectOnTheUiThread) {
  TableWnd w;
  Open(w);
  CPaintManagerUI& pm = w.GetPaintManager();
  CControlUI* lb = Find(w, "lb");
  std::thread([&pm, lb] { pm.SetTimer(lb, 1, 5); }).join();
  ASSERT_TRUE(WaitUntil([&] {
    return std::count(w.messages.begin(), w.messages.end(), "timer:lb:1") >= 2;
  }));
  std::thread([&pm, lb] { pm.KillTimer(lb); }).join();
  ASSERT_TRUE(WaitUntil([&] { return !pm.HasTimer(lb, 1); }));
  w.Close();
  EXPECT_TRUE(WaitUntil([&] { return !IsWindow(w.GetHWND()); }));
}
